#include "sync/game_sync.h"

#include <windows.h>

#include <chrono>
#include <exception>

#include "base/files.h"
#include "base/format.h"
#include "base/handles.h"
#include "base/game_copies.h"
#include "base/install_layout.h"
#include "base/keep_awake.h"
#include "base/log.h"
#include "base/text.h"
#include "base/worker_failure.h"
#include "manifest/hashing.h"
#include "manifest/installed_state.h"
#include "net/http_client.h"
#include "net/resumable_download.h"
#include "sync/client_files.h"
#include "sync/download_workers.h"
#include "sync/folder_scan.h"
#include "sync/parallel_hashing.h"
#include "sync/path_obstacles.h"

const wchar_t* SyncStatusName(int status) {
  static const wchar_t* const names[] = {L"idle",         L"checking",          L"verifying",
                                         L"downloading",  L"update-available",  L"up-to-date",
                                         L"game-running", L"launcher-outdated", L"failed"};
  return status >= 0 && status <= 8 ? names[status] : L"idle";
}

GameSync::~GameSync() {
  cancel_ = true;
  Join();
  if (stateReader_.joinable()) stateReader_.join();
}

void GameSync::Join() {
  if (thread_.joinable()) thread_.join();
}

void GameSync::SetInstallFolder(const std::wstring& folder) {
  // A reader started for an earlier folder is at most one read from its end.
  if (stateReader_.joinable()) stateReader_.join();
  installFolder_ = folder;
  {
    std::lock_guard<std::mutex> lock(stateReadMutex_);
    stateRead_.reset();
    stateReading_ = gameMode_;
  }
  if (!gameMode_) return;
  const std::wstring statePath = JoinPath(JoinPath(folder, kStateFolder), stateFileName_);
  const bool started = TryStartThread(stateReader_, logTag_, [this, statePath] {
    StateFileRead read;
    try {
      read = ReadStateFile(statePath);
    } catch (const std::exception&) {
      read = StateFileRead();  // out of memory: the run reads it again, or fails with the text
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      status_.installedBuild = read.state ? read.state->build : std::string();
      status_.installedComplete = read.state && read.state->complete;
    }
    {
      std::lock_guard<std::mutex> lock(stateReadMutex_);
      if (read.state) stateRead_ = std::move(read);
      stateReading_ = false;
    }
    stateReadDone_.notify_all();
  });
  if (!started) {
    std::lock_guard<std::mutex> lock(stateReadMutex_);
    stateReading_ = false;
  }
}

PreviousRecord GameSync::TakePreviousRecord(const std::wstring& statePath, const Manifest& manifest,
                                            const std::vector<DiskFile>& disk, StateFileStamp& stamp,
                                            bool& canonical) {
  std::optional<StateFileRead> kept;
  {
    std::unique_lock<std::mutex> lock(stateReadMutex_);
    // Bounded: a reader stuck on a slow disk is overtaken by a read of our own.
    stateReadDone_.wait_for(lock, std::chrono::seconds(60), [this] { return !stateReading_; });
    kept.swap(stateRead_);
  }
  if (kept && kept->stamp == StampStateFile(statePath)) {
    stamp = kept->stamp;
    canonical = kept->canonical;
    return RecordOf(manifest, disk, *kept->state);
  }
  kept.reset();
  PreviousRecordReader reader(manifest, disk);
  StateTextFacts facts;
  const std::function<void(InstalledFile&&)> add = [&reader](InstalledFile&& entry) { reader.Add(std::move(entry)); };
  const bool read = ReadStateFileEntries(statePath, add, stamp, facts);
  if (!read && facts.filesRepeated) {
    StateFileRead whole = ReadStateFile(statePath, false);
    if (whole.state) {
      stamp = whole.stamp;
      canonical = false;
      return RecordOf(manifest, disk, *whole.state);
    }
  }
  canonical = read && facts.canonical;
  // A record that fails part-way counts for nothing, like a lost one.
  return read ? reader.Take(std::move(facts.build), facts.complete) : PreviousRecord();
}

void GameSync::ConfigureServer(const std::wstring& installFolder, const std::wstring& serverRoot,
                               const std::wstring& clientFilesUrl, const std::wstring& key) {
  gameMode_ = false;
  serverRoot_ = serverRoot;
  clientFilesUrl_ = clientFilesUrl;
  stateFileName_ = L"server-" + key + L".json";
  scratchFolderName_ = L"download-" + key;
  listScratchName_ = L"list-" + key + L".part";
  logTag_ = L"server " + key;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.required = false;
  }
  SetInstallFolder(installFolder);
}

void GameSync::Start(SyncMode mode, bool verify) {
  if (running_.exchange(true)) return;
  Join();
  progress_.Reset();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.status = kSyncChecking;
    status_.mode = mode;
    status_.message.clear();
    status_.bytesToVerify = status_.bytesVerified = status_.bytesToDownload = status_.bytesDownloaded = 0;
    status_.filesToDownload = status_.filesDownloaded = status_.filesUnavailable = 0;
  }
  const bool started = TryStartThread(thread_, logTag_, [this, mode, verify] {
    const KeepAwake awake;
    try {
      Run(mode, verify);
      // The log's record of how each run ended; a failure has logged its text already.
      const int ended = GetSnapshot().status;
      if (ended != kSyncFailed && !cancel_) {
        LogLineTagged(std::wstring(mode == SyncMode::Check ? L"check" : L"update") + L" ended: " +
                      SyncStatusName(ended));
      }
    } catch (...) {
      Fail(CaughtExceptionText(logTag_));
    }
    running_ = false;
  });
  if (!started) {
    Fail(kThreadStartFailedText);
    running_ = false;
  }
}

SyncSnapshot GameSync::GetSnapshot() {
  const DownloadProgress::Counts counts = progress_.Snapshot();
  std::lock_guard<std::mutex> lock(mutex_);
  SyncSnapshot s = status_;
  // The workers keep their counters under their own lock; unavailable files found while
  // downloading also come off the total to download.
  s.bytesToDownload = counts.bytesToDownload;
  s.bytesDownloaded = counts.bytesDownloaded;
  s.filesDownloaded = counts.filesDownloaded;
  s.filesUnavailable = status_.filesUnavailable + counts.filesUnavailable;
  return s;
}

void GameSync::LogLineTagged(const std::wstring& text) { LogLine(L"[" + logTag_ + L"] " + text); }

void GameSync::Fail(const std::wstring& text) {
  LogLineTagged(L"failed: " + text);
  std::lock_guard<std::mutex> lock(mutex_);
  status_.status = kSyncFailed;
  status_.message = text;
}

void GameSync::SetStatus(int status) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_.status = status;
}

namespace {

constexpr size_t kListStartBytes = 4096;  // kept of a list that goes to disk, for the diagnostics

// A server's list goes to a file the system deletes once it is closed (also when the process is
// killed), and is read back from there a block at a time: the largest list is tens of
// megabytes of text, which would otherwise be held beside the list made of it.
// diskFailed tells a failure of this machine's disk from the network's.
bool FetchListToFile(HttpClient& client, const std::wstring& url, const std::wstring& path,
                     const std::atomic<bool>* cancel, UniqueHandle& file, std::string& start, FetchFacts& facts,
                     HttpResponseInfo& info, bool& diskFailed) {
  start.clear();
  diskFailed = false;
  file.Reset(CreateFileW(LongPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!file.Valid()) {
    facts.error = WithSystemError(L"Geçici dosya oluşturulamadı", path, GetLastError());
    diskFailed = true;
    return false;
  }
  return client.GetStreamed(
      url,
      [&](const uint8_t* data, uint32_t length) {
        if (start.size() < kListStartBytes) {
          start.append(reinterpret_cast<const char*>(data), std::min<size_t>(length, kListStartBytes - start.size()));
        }
        uint32_t code = 0;
        if (WriteAll(file.Get(), data, length, code)) return true;
        facts.error = WithSystemError(L"Diske yazılamadı", path, code);
        diskFailed = true;
        return false;
      },
      facts.received, facts.error, kServerListLimit, cancel, &info);
}

bool ParseListFile(const UniqueHandle& file, Manifest& list, std::wstring& error) {
  LARGE_INTEGER zero{};
  if (!SetFilePointerEx(file.Get(), zero, nullptr, FILE_BEGIN)) {
    error = kClientFilesUnreadableText;
    return false;
  }
  bool failed = false;
  const bool parsed = ParseClientFiles(
      [&](char* buffer, size_t size) -> size_t {
        DWORD got = 0;
        if (failed || !ReadFile(file.Get(), buffer, static_cast<DWORD>(size), &got, nullptr)) {
          failed = true;
          return 0;
        }
        return got;
      },
      list, error);
  if (failed) error = kClientFilesUnreadableText;
  return parsed && !failed;
}

}  // namespace

// Never held whole: read again and written a block at a time. A record whose header came from
// one read and whose entries from another would be a record nobody wrote.
void WriteCheckedState(const std::wstring& statePath, const PreviousRecord& previous,
                       const StateFileStamp* canonicalStamp, const std::vector<InstalledFile>& verified) {
  StateFileStamp stamp;
  StateTextFacts facts;
  if (canonicalStamp && StampStateFile(statePath) == *canonicalStamp) {
    CheckedStateMerger probe(verified);
    const std::function<void(InstalledFile&&)> add = [&probe](InstalledFile&& entry) { probe.Add(entry); };
    if (!ReadStateFileEntries(statePath, add, stamp, facts, false)) return;
    if (stamp == *canonicalStamp && !probe.Changed()) return;
  }
  CheckedStateMerger merger(verified);
  WriteInstalledStateEntries(statePath, previous.build, previous.complete, [&](const EmitStateEntry& emit) {
    bool written = true;
    size_t entries = 0;
    uint64_t digest = 0;
    std::string scratch;
    const std::function<void(InstalledFile&&)> add = [&](InstalledFile&& entry) {
      ++entries;
      digest += EntryDigest(entry, scratch);
      const InstalledFile* kept = written ? merger.Add(entry) : nullptr;
      if (kept) written = emit(*kept);
    };
    // A lost record is written afresh with what this check verified.
    const bool read = ReadStateFileEntries(statePath, add, stamp, facts, false);
    if (!written || (!read && (entries > 0 || previous.entries > 0))) return false;
    if (read && (facts.build != previous.build || facts.complete != previous.complete ||
                 entries != previous.entries || digest != previous.entriesDigest)) {
      return false;
    }
    for (const InstalledFile* file : merger.Rest()) {
      if (!emit(*file)) return false;
    }
    return true;
  });
}

bool GameSync::FetchList(const std::wstring& url, const std::wstring& listScratch, Manifest& manifest,
                         std::string& body, uint32_t& keepAliveMax) {
  for (int attempt = 1; attempt <= kManifestTries; ++attempt) {
    HttpClient client;
    HttpResponseInfo info;
    FetchFacts facts;
    UniqueHandle listFile;
    if (gameMode_) {
      facts.requestOk = client.GetString(url, body, facts.error, kGameManifestLimit, &cancel_, &info);
      facts.received = body.size();
    } else {
      bool diskFailed = false;
      facts.requestOk = FetchListToFile(client, url, listScratch, &cancel_, listFile, body, facts, info, diskFailed);
      if (diskFailed) {
        Fail(facts.error);
        return false;
      }
    }
    facts.status = info.status;
    facts.remoteAddress = info.remoteAddress;
    facts.contentType = info.contentType;
    facts.hasContentLength = info.hasContentLength;
    facts.contentLength = info.contentLength;
    facts.incomplete = info.incomplete;
    if (FailsWithoutRetry(facts)) {
      LogLine(RequestFailedLogLine(logTag_, url, facts));
      Fail(RequestFailedText(gameMode_, facts));
      return false;
    }
    if (facts.requestOk) {
      facts.error.clear();
      const bool parsed =
          gameMode_ ? ParseGameManifest(body, manifest, facts.error) : ParseListFile(listFile, manifest, facts.error);
      if (parsed) {
        keepAliveMax = info.keepAliveMax;
        return true;
      }
    }
    LogLine(TryDiagnosticLine(logTag_, url, attempt, facts, body));
    if (cancel_) {
      Fail(facts.error);
      return false;
    }
    if (attempt < kManifestTries) {
      for (int i = 0; i < 20 && !cancel_; ++i) Sleep(100);
      continue;
    }
    Fail(LastTryFailedText(gameMode_, facts, body));
    return false;
  }
  return false;
}

void GameSync::Run(SyncMode mode, bool verify) {
  const std::wstring stateFolder = JoinPath(installFolder_, kStateFolder);
  const std::wstring statePath = JoinPath(stateFolder, stateFileName_);
  const std::wstring scratchFolder = JoinPath(stateFolder, scratchFolderName_);
  const std::wstring root = gameMode_ ? installFolder_ : serverRoot_;

  if (!CreateDirectoryTree(stateFolder)) {
    Fail(L"Kurulum klasörüne yazılamıyor: " + installFolder_);
    return;
  }
  const std::wstring stateFolderLong = LongPath(stateFolder);
  SetFileAttributesW(stateFolderLong.c_str(), GetFileAttributesW(stateFolderLong.c_str()) | FILE_ATTRIBUTE_HIDDEN);

  const std::wstring url =
      gameMode_ ? AppendNoCache(contentBaseUrl_ + L"/game/stable/manifest.json") : clientFilesUrl_;
  Manifest manifest;
  std::string body;
  uint32_t keepAliveMax = 0;
  if (!FetchList(url, JoinPath(stateFolder, listScratchName_), manifest, body, keepAliveMax)) return;

  const DownloadLimits limits = gameMode_ ? GameDownloadLimits() : ServerDownloadLimits(clientFilesUrl_, manifest);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.remoteBuild = manifest.build;
    status_.required = gameMode_ ? manifest.required : false;
  }

  if (gameMode_) {
    if (NeedsNewerLauncher(manifest)) {
      SetStatus(kSyncLauncherOutdated);
      return;
    }
    for (int copy = 1; copy <= kGameCopyLimit; ++copy) {
      if (IsGameInstanceRunning(copy)) {
        SetStatus(kSyncGameRunning);
        return;
      }
    }
    const std::wstring oldFolder = JoinPath(installFolder_, L"MTA");
    const std::wstring newFolder = JoinPath(installFolder_, L"TALVOREEN");
    if (DirectoryExists(oldFolder)) {
      if (!DirectoryExists(newFolder)) {
        MoveFileExW(LongPath(oldFolder).c_str(), LongPath(newFolder).c_str(), 0);
      } else if (DirectoryExists(JoinPath(oldFolder, L"config")) && !DirectoryExists(JoinPath(newFolder, L"config"))) {
        MoveFileExW(LongPath(JoinPath(oldFolder, L"config")).c_str(), LongPath(JoinPath(newFolder, L"config")).c_str(),
                    0);
      }
    }
  }

  SetStatus(kSyncVerifying);
  const std::vector<DiskFile> disk = ReadDiskFiles(root, manifest.files);
  StateFileStamp stamp;
  bool canonical = false;
  const PreviousRecord previous = TakePreviousRecord(statePath, manifest, disk, stamp, canonical);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.installedBuild = previous.build;
    status_.installedComplete = previous.complete;
  }
  // A record the file already holds (entries in any order: workers finish in their own), in a
  // file nobody replaced meanwhile, is not written again: a no-op check leaves the disk alone.
  const auto writeState = [&](const InstalledState& state, bool* tooLarge, std::wstring* error) {
    if (canonical && SameAsPrevious(state, previous) && StampStateFile(statePath) == stamp) {
      if (tooLarge) *tooLarge = false;
      return true;
    }
    return WriteInstalledState(statePath, state, tooLarge, error);
  };
  // Files that left the manifest are deleted only by a run that completes; until then their
  // entries stay recorded, however many runs fail before.
  const std::vector<InstalledFile> stale = gameMode_ ? EntriesLeftManifest(previous) : std::vector<InstalledFile>();
  const std::string build = manifest.build;
  SyncPlan plan = ClassifyFiles(std::move(manifest), disk, previous, gameMode_, verify);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.bytesToVerify = plan.bytesToVerify;
  }

  const HashKind kind = gameMode_ ? kHashSha256 : kHashMd5;
  std::vector<HashTask> toHash = std::move(plan.toHash);
  plan.toHash.clear();
  std::vector<HashedFile> hashed;
  const bool finished = HashFiles(kind, root, toHash, hashThreads_ ? hashThreads_ : HashThreadCount(),
                                  [this](uint64_t bytes) {
                                    std::lock_guard<std::mutex> lock(mutex_);
                                    status_.bytesVerified += bytes;
                                  },
                                  &cancel_, hashed);
  if (!finished) return;
  // Settled in list order, so the lists come out as a one-thread pass would leave them.
  for (size_t i = 0; i < toHash.size(); ++i) {
    SettleHashedFile(plan, std::move(toHash[i]), hashed[i].digest, hashed[i].after);
  }
  std::vector<HashTask>().swap(toHash);

  PrepareDownloads(plan, previous, mode, gameMode_);
  progress_.SetBytesToDownload(plan.bytesToDownload);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.filesUnavailable = static_cast<uint32_t>(plan.stillUnavailable.size());
    status_.filesToDownload = static_cast<uint32_t>(plan.toDownload.size());
  }

  if (mode == SyncMode::Check && !plan.toDownload.empty()) {
    WriteCheckedState(statePath, previous, canonical ? &stamp : nullptr, plan.current);
    SetStatus(kSyncUpdateAvailable);
    return;
  }

  DownloadRun run;
  run.contentBaseUrl = contentBaseUrl_;
  run.serverDownloadBaseUrl = limits.downloadBase;
  run.rootFolder = root;
  run.scratchFolder = scratchFolder;
  if (gameMode_) run.chunkStoreFolder = JoinPath(stateFolder, L"chunks");
  run.hashKind = kind;
  run.cancel = &cancel_;
  run.progress = &progress_;
  DownloadJob job(run, plan.toDownload);
  // The entries move into the new record rather than being copied: a server's largest list
  // has 200,000 of them.
  SyncPlan recorded;
  recorded.current = std::move(plan.current);
  recorded.stillUnavailable = std::move(plan.stillUnavailable);
  job.newState = NewRunState(build, std::move(recorded));

  if (!plan.toDownload.empty()) {
    uint64_t available = 0;
    const bool known = freeSpace_ ? freeSpace_(root, available) : FreeSpaceForFolder(root, available);
    std::wstring spaceError;
    if (known && !CheckFreeSpace(plan.toDownload, available, spaceError)) {
      Fail(spaceError);
      return;
    }
    // What an earlier build left where this one needs a file or a folder goes first, so that a
    // path that changed shape between builds does not fail every move of every later run.
    OwnedPaths owned;
    bool ownedLoaded = false;
    const auto isOwned = [&](const std::string& path) {
      if (!ownedLoaded) {
        ownedLoaded = true;
        if (const std::optional<InstalledState> whole = ReadInstalledState(statePath)) owned.Add(*whole);
        Manifest accepted;
        std::string copy;
        std::wstring ignored;
        if (gameMode_ && ReadWholeFile(JoinPath(stateFolder, kManifestCopyName), copy) &&
            copy.size() <= kGameManifestLimit && ParseGameManifest(copy, accepted, ignored)) {
          owned.Add(accepted);
        }
      }
      return owned.Contains(path);
    };
    std::wstring obstacle;
    if (!ClearWayForDownloads(root, plan.toDownload, isOwned, obstacle)) {
      Fail(obstacle);
      return;
    }
    SetStatus(kSyncDownloading);
    DeleteTree(scratchFolder);
    if (!CreateDirectoryTree(scratchFolder)) {
      Fail(L"Geçici klasör oluşturulamadı: " + scratchFolder);
      return;
    }
    job.pacingIntervalUs = gameMode_ ? 0 : PacingIntervalMicros(limits, keepAliveMax);
    if (gameMode_) PruneChunkStore(run.chunkStoreFolder, plan.toDownload);
    RunWorkers(job, limits.workerCount);
    if (job.stop || cancel_) {
      job.newState.complete = false;
      job.newState.files.insert(job.newState.files.end(), stale.begin(), stale.end());
      writeState(job.newState, nullptr, nullptr);
      DeleteTree(scratchFolder);
      if (!cancel_) Fail(job.firstError.empty() ? std::wstring(L"Güncelleme tamamlanamadı") : job.firstError);
      return;
    }
  }

  if (gameMode_) {
    for (const InstalledFile& entry : stale) {
      const std::wstring path = LongPath(JoinPath(root, WideFromUtf8(entry.path)));
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      // One that cannot go now (a program holds it) stays recorded for the next run.
      if (!DeleteFileW(path.c_str()) && FileExists(path)) {
        job.newState.files.push_back(entry);
      }
    }
    const std::wstring copyPath = JoinPath(stateFolder, kManifestCopyName);
    std::string existing;
    const bool same = ReadWholeFile(copyPath, existing) && existing.size() <= kGameManifestLimit && existing == body;
    std::wstring error;
    if (!same && !WriteFileAtomic(copyPath, body, error)) {
      Fail(WithSystemText(L"Kurulum bilgisi kaydedilemedi", copyPath, error));
      return;
    }
  }
  job.newState.complete = true;
  bool tooLarge = false;
  std::wstring error;
  if (!writeState(job.newState, &tooLarge, &error)) {
    Fail(tooLarge ? L"Kurulum bilgisi 96 MB sınırını aşıyor (çok fazla dosya), kaydedilemedi: " + statePath
                  : WithSystemText(L"Kurulum bilgisi kaydedilemedi", statePath, error));
    return;
  }
  DeleteTree(scratchFolder);
  if (gameMode_) DeleteTree(JoinPath(stateFolder, L"chunks"));
  std::lock_guard<std::mutex> lock(mutex_);
  status_.status = kSyncUpToDate;
  status_.installedBuild = build;
  status_.installedComplete = true;
}
