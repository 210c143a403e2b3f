// Makes a folder identical to a signed manifest (game mode) or to a game server's list of
// client files (server mode). A run fetches and verifies the list, decides for every file
// whether it is current, must be hashed or must be downloaded, downloads with a pool of
// workers, deletes game files that left the manifest and records the result in the state
// file. Runs execute on a thread of their own; owners poll a snapshot.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "manifest/installed_state.h"
#include "sync/object_download.h"
#include "sync/sync_plan.h"

enum SyncStatus : int {
  kSyncIdle = 0,
  kSyncChecking = 1,
  kSyncVerifying = 2,
  kSyncDownloading = 3,
  kSyncUpdateAvailable = 4,
  kSyncUpToDate = 5,
  kSyncGameRunning = 6,
  kSyncLauncherOutdated = 7,
  kSyncFailed = 8,
};

const wchar_t* SyncStatusName(int status);

// What a check run that finds an update writes back: the record the file holds, read again a
// block at a time, with the entries the run verified merged in (CheckedStateMerger). previous
// is what the run read before; a file that reads differently now, or cannot be read again, is
// left as it is. canonicalStamp, when given, is the stamp of a canonical file that the merge
// would not change if the file still has it: then nothing is written.
void WriteCheckedState(const std::wstring& statePath, const PreviousRecord& previous,
                       const StateFileStamp* canonicalStamp, const std::vector<InstalledFile>& verified);

struct SyncSnapshot {
  int status = kSyncIdle;
  SyncMode mode = SyncMode::Check;
  bool required = true;
  std::wstring message;
  std::string remoteBuild;
  std::string installedBuild;
  bool installedComplete = false;
  uint64_t bytesToVerify = 0;
  uint64_t bytesVerified = 0;
  uint64_t bytesToDownload = 0;
  uint64_t bytesDownloaded = 0;
  uint32_t filesToDownload = 0;
  uint32_t filesDownloaded = 0;
  uint32_t filesUnavailable = 0;
};

// The copy of the accepted manifest body kept in the state folder.
inline constexpr const wchar_t* kManifestCopyName = L"manifest-stable.json";

class GameSync {
 public:
  GameSync() = default;
  ~GameSync();  // cancels a running run and joins it
  GameSync(const GameSync&) = delete;
  GameSync& operator=(const GameSync&) = delete;

  void SetContentBaseUrl(std::wstring url) { contentBaseUrl_ = std::move(url); }
  // Game mode reads the state file for the installed build on a thread of its own (never the
  // caller's: the window's UI thread) and keeps it parsed for the next run only.
  void SetInstallFolder(const std::wstring& folder);
  // Server mode: the server's client files under serverRoot, its list at clientFilesUrl. Its
  // state file, up to tens of megabytes, is read by the run itself and freed with it.
  void ConfigureServer(const std::wstring& installFolder, const std::wstring& serverRoot,
                       const std::wstring& clientFilesUrl, const std::wstring& key);

  void Start(SyncMode mode, bool verify);
  SyncSnapshot GetSnapshot();
  bool IsRunning() const { return running_.load(); }
  void Join();

  // For tests: the free-space figure of the destination's volume.
  void SetFreeSpaceProbe(std::function<bool(const std::wstring&, uint64_t&)> probe) { freeSpace_ = std::move(probe); }
  // For tests: the number of hashing threads; 0 means one per processor.
  void SetHashThreads(unsigned count) { hashThreads_ = count; }

 private:
  void Run(SyncMode mode, bool verify);
  void Fail(const std::wstring& text);
  void SetStatus(int status);
  // body: the game manifest whole; of a server's list, which goes to listScratch and is read
  // from there, only its start (for the diagnostics).
  bool FetchList(const std::wstring& url, const std::wstring& listScratch, Manifest& manifest, std::string& body,
                 uint32_t& keepAliveMax);
  void LogLineTagged(const std::wstring& text);
  // The state file against the manifest and the disk: as SetInstallFolder read it when the
  // file has not changed since, else read now entry by entry. stamp is the version read;
  // canonical whether its text is exactly what writing the record gives.
  PreviousRecord TakePreviousRecord(const std::wstring& statePath, const Manifest& manifest,
                                    const std::vector<DiskFile>& disk, StateFileStamp& stamp,
                                    bool& canonical);

  std::wstring installFolder_;
  std::wstring contentBaseUrl_;
  bool gameMode_ = true;
  std::wstring serverRoot_;
  std::wstring clientFilesUrl_;
  std::wstring stateFileName_ = L"installed.json";
  std::wstring scratchFolderName_ = L"download";
  std::wstring listScratchName_;  // server lists only
  std::wstring logTag_ = L"game";
  std::function<bool(const std::wstring&, uint64_t&)> freeSpace_;
  unsigned hashThreads_ = 0;

  std::atomic<bool> running_{false};
  std::atomic<bool> cancel_{false};
  std::thread thread_;
  std::mutex mutex_;
  SyncSnapshot status_;
  DownloadProgress progress_;  // the workers' counters, merged into snapshots

  // What SetInstallFolder read, kept for the next run so that a run reads the file once.
  std::mutex stateReadMutex_;
  std::condition_variable stateReadDone_;
  bool stateReading_ = false;  // the reader below has not stored its read yet
  std::optional<StateFileRead> stateRead_;
  std::thread stateReader_;
};
