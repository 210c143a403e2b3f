#include "gta/gta_installer.h"

#include <windows.h>

#include <algorithm>

#include "base/files.h"
#include "base/format.h"
#include "base/handles.h"
#include "base/install_layout.h"
#include "base/keep_awake.h"
#include "base/log.h"
#include "base/registry.h"
#include "base/text.h"
#include "base/worker_failure.h"
#include "gta/archive_rules.h"
#include "gta/rar_archive.h"
#include "net/resume_rules.h"

namespace {

constexpr uint64_t kUnpackSpaceReserve = 67108864;  // 64 MiB

// What makes a game folder valid, below it.
const wchar_t* const kKeyFiles[] = {L"gta_sa.exe", L"models\\gta3.img"};

std::wstring WithBackslashes(std::wstring path) {
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

// Small records written straight to the disk. Their readers take anything unexpected for the
// safe case (a partial copy, no earlier failure), so a torn write needs no scratch file.
bool WriteRecord(const std::wstring& path, const std::string& text, DWORD& error) {
  UniqueHandle file(CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!file.Valid()) {
    error = GetLastError();
    return false;
  }
  DWORD written = 0;
  if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      !FlushFileBuffers(file.Get())) {
    error = GetLastError();
    return false;
  }
  // A short write that reports success is the file system running out of room.
  error = written == text.size() ? 0 : ERROR_HANDLE_DISK_FULL;
  return error == 0;
}

}  // namespace

const wchar_t* GtaStatusName(int status) {
  static const wchar_t* const names[] = {L"idle", L"connecting", L"downloading", L"extracting",
                                         L"done", L"paused",     L"failed"};
  return status >= 0 && status <= 6 ? names[status] : L"idle";
}

bool IsValidGameFolder(const std::wstring& folder) {
  if (folder.empty()) return false;
  for (const wchar_t* file : kKeyFiles) {
    if (!FileExists(JoinPath(folder, file))) return false;
  }
  return true;
}

GtaInstaller::GtaInstaller(std::wstring installDir, std::wstring archiveUrl)
    : installDir_(std::move(installDir)), archiveUrl_(std::move(archiveUrl)) {}

GtaInstaller::~GtaInstaller() {
  stop_ = true;
  Join();
}

void GtaInstaller::Join() {
  if (thread_.joinable()) thread_.join();
}

std::wstring GtaInstaller::GameFolder() const { return JoinPath(installDir_, kGameFolderName); }
std::wstring GtaInstaller::WorkFolder() const { return JoinPath(JoinPath(installDir_, kStateFolder), L"gta"); }
std::wstring GtaInstaller::ArchivePath() const { return JoinPath(WorkFolder(), L"talvoreen-gtasa.rar"); }
std::wstring GtaInstaller::OldCopyPath() const { return JoinPath(WorkFolder(), L"GTA-SA.old"); }
std::wstring GtaInstaller::FailureRecordPath() const { return ArchivePath() + L".failed"; }
std::wstring GtaInstaller::UnfinishedMarkerPath() const { return JoinPath(WorkFolder(), L"GTA-SA.unfinished"); }

// The key files alone do not make an installation: unpacking may have stopped after them.
// Earlier builds marked an unfinished one by the archive, without the marker; the next run
// writes the marker for them. An old copy with neither is a leftover (LeftoverOldCopy): the
// copy beside it is whole and playable, and a run only deletes the leftover.
bool GtaInstaller::IsInstalled() const {
  return !FileExists(UnfinishedMarkerPath()) && !FileExists(ArchivePath()) && IsValidGameFolder(GameFolder());
}

// Every build deletes the archive before the old copy, so an old copy with neither the marker
// nor the archive, beside a valid game folder, is one that a finished installation could not
// delete (a held file): never a fallback, and never a reason to unpack over the game folder,
// which by now holds the player's own additions.
bool GtaInstaller::LeftoverOldCopy() const {
  return !FileExists(UnfinishedMarkerPath()) && !FileExists(ArchivePath()) && DirectoryExists(OldCopyPath()) &&
         IsValidGameFolder(GameFolder());
}

bool GtaInstaller::MarkerSaysWhole() const {
  std::string text;
  return ReadWholeFile(UnfinishedMarkerPath(), text) && text == kMarkerUnpackedWhole;
}

bool GtaInstaller::WriteMarker(const char* text) {
  DWORD error = 0;
  if (WriteRecord(UnfinishedMarkerPath(), text, error)) return true;
  FailWriting(UnfinishedMarkerPath(), error);
  return false;
}

void GtaInstaller::FailWriting(const std::wstring& path, uint32_t systemError) {
  LogLine(L"[gta] could not write " + path);
  Fail(UnpackFailureText(19, systemError, path, WindowsErrorText(systemError)));
}

GtaSnapshot GtaInstaller::GetSnapshot() {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

void GtaInstaller::Start(bool reinstall) {
  if (running_.exchange(true)) return;
  Join();
  stop_ = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = GtaSnapshot();
    status_.status = kGtaConnecting;
  }
  const bool started = TryStartThread(thread_, L"gta", [this, reinstall] {
    const KeepAwake awake;
    try {
      Run(reinstall);
    } catch (...) {
      Fail(CaughtExceptionText(L"gta"));
    }
    running_ = false;
  });
  if (!started) {
    Fail(kThreadStartFailedText);
    running_ = false;
  }
}

void GtaInstaller::Fail(const std::wstring& text) {
  const bool stopping = stop_.load();
  if (!stopping) LogLine(L"[gta] failed: " + text);
  std::lock_guard<std::mutex> lock(mutex_);
  status_.status = stopping ? kGtaPaused : kGtaFailed;
  status_.message = stopping ? std::wstring() : text;
}

bool GtaInstaller::Download(const std::wstring& partPath, const std::wstring& finalPath) {
  ResumableDownload download;
  download.url = archiveUrl_;
  download.destinationFolder = WorkFolder();
  download.cancel = &stop_;
  download.freeSpace = freeSpace_;
  download.onStarted = [this](uint64_t total, uint64_t done) {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.status = kGtaDownloading;
    status_.downloadTotal = total;
    status_.downloadDone = done;
  };
  download.onProgress = [this](uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.downloadDone += bytes;
  };
  std::wstring error;
  if (download.Run(partPath, finalPath, error)) return true;
  Fail(error);
  return false;
}

void GtaInstaller::Run(bool reinstall) {
  const std::wstring work = WorkFolder();
  if (!CreateDirectoryTree(work)) {
    // The helper ends with a check that resets the error; creating the folder once more
    // gives the cause.
    const DWORD error = CreateDirectoryW(LongPath(work).c_str(), nullptr) ? 0 : GetLastError();
    Fail(WithSystemText(L"Kurulum klasörüne yazılamıyor", installDir_, error ? WindowsErrorText(error) : L""));
    return;
  }
  const std::wstring stateFolder = JoinPath(installDir_, kStateFolder);
  SetFileAttributesW(stateFolder.c_str(), GetFileAttributesW(stateFolder.c_str()) | FILE_ATTRIBUTE_HIDDEN);

  const std::wstring archive = ArchivePath();
  const std::wstring game = GameFolder();
  const std::wstring old = OldCopyPath();
  // Under "unpacked whole" an old copy is one that a completion could not delete yet: a
  // leftover, never a fallback to put back over the copy that was called whole.
  const bool markerWasWhole = MarkerSaysWhole();
  const bool leftover = LeftoverOldCopy();
  if (leftover) {
    LogLine(L"[gta] deleting the previous copy an earlier installation left: " + old);
    DeleteTree(old);
    if (!reinstall && DirectoryExists(old)) {
      // A held file of a copy nothing uses: the game stays playable, the next start tries again.
      LogLine(L"[gta] the previous copy could not be deleted yet; the next start tries again: " + old);
      std::wstring message;
      if (!Register(message)) {
        Fail(message);
        return;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      status_.status = kGtaDone;
      status_.folder = game;
      return;
    }
    if (!reinstall) {
      Finish();
      return;
    }
  }
  // Left by an earlier build that marked an unfinished installation this way: from here on
  // the marker says so, and the old copy, perhaps the only complete one, is the fallback.
  if (!FileExists(UnfinishedMarkerPath()) && (FileExists(archive) || (!leftover && DirectoryExists(old)))) {
    LogLine(L"[gta] an unfinished installation without its marker; marking it");
    if (!WriteMarker(kMarkerUnpacking)) return;
  }
  // A copy the marker calls whole only missed its completion. Any other copy under the marker
  // is partial, whatever files it holds: it is unpacked again, the old copy kept until then.
  if (!reinstall && markerWasWhole && IsValidGameFolder(game)) {
    Finish();
    return;
  }
  bool movedAside = FileExists(UnfinishedMarkerPath()) && !markerWasWhole && DirectoryExists(old);
  if (!FileExists(archive)) {
    if (!Download(archive + L".part", archive)) return;
    DeleteFileW(FailureRecordPath().c_str());  // the record was about an earlier file
  }
  if (!ListArchive()) return;
  if (!WriteMarker(kMarkerUnpacking)) return;

  if (reinstall && DirectoryExists(game) && !movedAside) {
    if (DirectoryExists(old)) DeleteTree(old);
    if (MoveFileRetrying(game, old, MOVEFILE_WRITE_THROUGH)) {
      movedAside = true;
    } else {
      LogLine(L"[gta] could not put the old copy aside (" + WindowsErrorText(GetLastError()) + L"), unpacking over it");
    }
  }

  // Whatever goes wrong with the new copy, the player gets the old one back rather than a
  // broken folder that the next reinstall would take for the copy to keep. The marker stays:
  // the archive is unpacked again on the next start.
  auto restoreOldCopy = [&] {
    if (!movedAside || stop_ || !IsValidGameFolder(old)) return;
    DeleteTree(game);
    if (DirectoryExists(game)) return;
    if (!MoveFileRetrying(old, game, MOVEFILE_WRITE_THROUGH)) {
      LogLine(L"[gta] could not put the old copy back (" + WindowsErrorText(GetLastError()) + L")");
    }
  };
  std::vector<std::wstring> unpacked;
  if (!Extract(unpacked) || !FlushUnpackedFiles(unpacked)) {
    restoreOldCopy();
    return;
  }
  if (!IsValidGameFolder(game)) {
    // A key file the library wrote and that is gone now was taken by another program (an
    // antivirus quarantines at once); one it never wrote is missing from the archive.
    bool reported = false;
    for (const wchar_t* key : kKeyFiles) {
      const std::wstring path = JoinPath(game, key);
      if (FileExists(path)) continue;
      const std::wstring name = JoinPath(kGameFolderName, key);
      const bool written = std::any_of(unpacked.begin(), unpacked.end(),
                                       [&](const std::wstring& file) { return EqualsIgnoreCase(file, name); });
      reported = true;
      if (written) {
        FailUnpack(kUnpackedFileRemoved, 0, path);
      } else {
        FailArchive(kArchiveLacksKeyFiles, 0, L"Arşivden çıkan dosyalar eksik");
      }
      break;
    }
    // Every key file there again when looked at once more: another program had it for a moment.
    if (!reported) FailUnpack(kUnpackedFileRemoved, 0, game);
    restoreOldCopy();
    return;
  }
  if (!WriteMarker(kMarkerUnpackedWhole)) return;
  Finish();
}

bool GtaInstaller::Finish() {
  std::wstring message;
  if (!Register(message)) {
    Fail(message);
    return false;
  }
  const std::wstring archive = ArchivePath();
  DeleteFileW((archive + L".part.validator").c_str());
  DeleteFileW(FailureRecordPath().c_str());
  // An archive beside a copy without the marker reads as an unfinished installation, so one
  // that cannot go yet keeps the marker: the next start retries only this completion.
  if (!DeleteFileRetrying(archive) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    const DWORD error = GetLastError();
    LogLine(L"[gta] the archive could not be deleted: " + WindowsErrorText(error));
    Fail(WithSystemError(L"Kurulum tamamlanamadı", archive, error));
    return false;
  }
  if (DirectoryExists(OldCopyPath())) DeleteTree(OldCopyPath());
  // An old copy without the marker would make the next start take this copy for unfinished
  // and download the archive again; with the marker it only retries this completion.
  if (DirectoryExists(OldCopyPath())) {
    LogLine(L"[gta] the previous copy could not be deleted: " + OldCopyPath());
    Fail(WithSystemText(L"Kurulum tamamlanamadı", OldCopyPath(), L""));
    return false;
  }
  if (!DeleteFileW(UnfinishedMarkerPath().c_str())) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) {
      Fail(WithSystemError(L"Kurulum tamamlanamadı", UnfinishedMarkerPath(), error));
      return false;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  status_.status = kGtaDone;
  status_.folder = GameFolder();
  return true;
}

// A complete archive that failed is normally kept, so that the next start does not download
// it again. One whose headers or data are bad goes at once; any other failure goes when it
// repeats with the same code, since unpacking the same file again would fail the same way.
void GtaInstaller::FailUnpack(int code, uint32_t systemError, const std::wstring& file) {
  if (systemError != 0) LogLine(L"[gta] unpacking ended with code " + DecimalText(static_cast<long long>(code)) +
                                L", system error " + DecimalText(static_cast<long long>(systemError)) + L": " + file);
  FailArchive(code, systemError, UnpackFailureText(code, systemError, file, WindowsErrorText(systemError)));
}

void GtaInstaller::FailArchive(int code, uint32_t systemError, const std::wstring& text) {
  // A failure of the machine says nothing about the archive: it neither goes nor counts.
  if (!stop_ && !IsMachineFailure(code, systemError)) {
    const std::wstring archive = ArchivePath();
    const std::wstring record = FailureRecordPath();
    std::string previous;
    if (!ReadWholeFile(record, previous)) previous.clear();
    if (DiscardArchiveAfterFailure(code, systemError, previous)) {
      if (!DeleteFileRetrying(archive)) {
        LogLine(L"[gta] the failed archive could not be deleted: " + WindowsErrorText(GetLastError()));
      }
      DeleteFileW(record.c_str());
    } else {
      DWORD error = 0;
      if (!WriteRecord(record, FailureRecordText(code), error)) {
        LogLine(L"[gta] could not record the failure: " + WindowsErrorText(error));
      }
    }
  }
  Fail(text);
}

bool GtaInstaller::ListArchive() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.status = kGtaExtracting;
  }
  const std::wstring archivePath = ArchivePath();
  // Callers close the archive first: the library opens it without delete sharing, so a
  // delete through a handle still open fails.
  // The library's failures while listing are about the archive file itself.
  auto failWithCode = [&](int code, uint32_t systemError) {
    FailUnpack(code, systemError, archivePath);
    return false;
  };
  auto failUnexpectedFormat = [&]() {
    DeleteFileRetrying(archivePath);
    Fail(L"Beklenmeyen arşiv biçimi");
    return false;
  };

  uint64_t countedBytes = 0;
  uint32_t countedFiles = 0;
  {
    RarArchive listing;
    const int code = listing.Open(archivePath, RarArchive::Mode::List);
    // A header-encrypted archive asks for its password while opening; refusing it ends here.
    if (code == 22 || code == 24) return failUnexpectedFormat();
    if (code != 0) return failWithCode(code, listing.SystemError());
    if (listing.IsMultiVolume() || listing.HasEncryptedHeaders()) {
      listing.Close();
      return failUnexpectedFormat();
    }
    for (;;) {
      RarEntry entry;
      int result = listing.ReadHeader(entry);
      if (result == 10) break;
      if (result == 0) {
        if (!entry.isFolder && !entry.isLink && IsWantedArchiveEntry(entry.name)) {
          countedBytes += entry.unpackedSize;
          ++countedFiles;
        }
        result = listing.Skip();
      }
      if (result != 0) {
        const uint32_t error = listing.SystemError();
        listing.Close();
        return failWithCode(result, error);
      }
    }
  }
  if (countedFiles == 0) {
    DeleteFileRetrying(archivePath);
    Fail(L"Arşivde beklenen dosyalar yok");
    return false;
  }
  uint64_t available = 0;
  const bool known = freeSpace_ ? freeSpace_(installDir_, available) : FreeSpaceForFolder(installDir_, available);
  if (known && available < countedBytes + kUnpackSpaceReserve) {
    Fail(L"Diskte yeterli yer yok: " + FormatSize(countedBytes) + L" gerekli, " + FormatSize(available) + L" boş");
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.extractTotal = countedBytes;
    status_.filesTotal = countedFiles;
  }
  return true;
}

bool GtaInstaller::Extract(std::vector<std::wstring>& unpacked) {
  RarArchive archive;
  const int code = archive.Open(ArchivePath(), RarArchive::Mode::Extract, [this](uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.extractDone += bytes;
    return !stop_.load();
  });
  if (code != 0) {
    const uint32_t error = archive.SystemError();
    archive.Close();
    FailUnpack(code, error, ArchivePath());
    return false;
  }
  for (;;) {
    RarEntry entry;
    int result = archive.ReadHeader(entry);
    if (result == 10) return true;
    if (result == 0) {
      const bool wanted = IsWantedArchiveEntry(entry.name) && !entry.isLink && !entry.isEncrypted;
      result = wanted ? archive.ExtractInto(installDir_) : archive.Skip();
      if (result == 0 && wanted && !entry.isFolder) {
        unpacked.push_back(WithBackslashes(entry.name));
        if (unpackedFileHook_) unpackedFileHook_(JoinPath(installDir_, unpacked.back()));
        std::lock_guard<std::mutex> lock(mutex_);
        ++status_.filesDone;
      }
    }
    if (result != 0) {
      const uint32_t error = archive.SystemError();
      archive.Close();
      // Opening and reading fail on the archive, creating and writing on the entry's file.
      const bool archiveFailed = result == 15 || result == 18 || entry.name.empty();
      FailUnpack(result, error, archiveFailed ? ArchivePath() : JoinPath(installDir_, WithBackslashes(entry.name)));
      return false;
    }
  }
}

// The marker's "unpacked whole" must not reach the disk before the files do: after a power
// cut the system may otherwise keep files of the right size full of zeros, which the next
// start would complete and register. A flush needs a handle that may write; a read-only
// file loses the attribute for that moment.
bool GtaInstaller::FlushUnpackedFiles(const std::vector<std::wstring>& unpacked) {
  for (const std::wstring& name : unpacked) {
    if (stop_) {
      Fail(std::wstring());
      return false;
    }
    const std::wstring path = JoinPath(installDir_, name);
    const std::wstring longPath = LongPath(path);
    const DWORD attributes = GetFileAttributesW(longPath.c_str());
    const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly) SetFileAttributesW(longPath.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    DWORD error = 0;
    {
      const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
      UniqueHandle file(
          CreateFileW(longPath.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file.Valid() || !FlushFileBuffers(file.Get())) error = GetLastError();
    }
    if (readOnly) SetFileAttributesW(longPath.c_str(), attributes);
    if (error != 0) {
      const bool gone = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
      FailUnpack(gone ? kUnpackedFileRemoved : 19, error, path);
      return false;
    }
    if (flushedFileHook_) flushedFileHook_(path);
  }
  return true;
}

bool GtaInstaller::Register(std::wstring& message) {
  const std::wstring game = GameFolder();
  if (!IsValidGameFolder(game)) {
    message = L"Oyun dosyaları eksik; Ayarlar'dan dosyaları doğrula.";
    return false;
  }
  const std::wstring previous = ReadRegistryString(kCommonRegistryKey, kGtaFolderValue);
  if (!previous.empty() && EqualsIgnoreCase(NormalizePath(previous), NormalizePath(game))) return true;
  uint32_t error = 0;
  if (!WriteRegistryString(kCommonRegistryKey, kGtaFolderValue, game, &error)) {
    message = WithSystemError(L"Oyun ayarı kaydedilemedi", L"kayıt defteri", error);
    return false;
  }
  LogLine(L"[gta] GTA folder " + (previous.empty() ? std::wstring(L"(none)") : previous) + L" -> " + game);
  return true;
}
