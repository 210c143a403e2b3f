// Provides a clean GTA: San Andreas inside the install folder: downloads the archive with
// resume, unpacks only its "GTA-SA" folder, checks the key files and records the folder
// in the registry. Runs on a thread of its own; owners poll a snapshot.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/install_layout.h"
#include "net/resumable_download.h"

enum GtaStatus : int {
  kGtaIdle = 0,
  kGtaConnecting = 1,
  kGtaDownloading = 2,
  kGtaExtracting = 3,
  kGtaDone = 4,
  kGtaPaused = 5,
  kGtaFailed = 6,
};

const wchar_t* GtaStatusName(int status);

struct GtaSnapshot {
  int status = kGtaIdle;
  std::wstring message;
  uint64_t downloadDone = 0;
  uint64_t downloadTotal = 0;
  uint64_t extractDone = 0;
  uint64_t extractTotal = 0;
  uint32_t filesDone = 0;
  uint32_t filesTotal = 0;
  std::wstring folder;  // the game folder once done
};

// A valid game folder holds "gta_sa.exe" and "models\gta3.img" as files.
bool IsValidGameFolder(const std::wstring& folder);

class GtaInstaller {
 public:
  GtaInstaller(std::wstring installDir, std::wstring archiveUrl);
  ~GtaInstaller();  // stops a running installation (it ends "paused") and joins
  GtaInstaller(const GtaInstaller&) = delete;
  GtaInstaller& operator=(const GtaInstaller&) = delete;

  void Start(bool reinstall);
  GtaSnapshot GetSnapshot();
  bool IsRunning() const { return running_.load(); }
  // A valid game folder and no marker of an unfinished installation.
  bool IsInstalled() const;
  // An old copy that an earlier build finished without deleting, beside a whole copy.
  bool LeftoverOldCopy() const;

  // Records the game folder for the game client; also run before every launch. On failure
  // message holds the text to show.
  bool Register(std::wstring& message);

  std::wstring GameFolder() const;
  std::wstring WorkFolder() const;
  std::wstring ArchivePath() const;
  std::wstring OldCopyPath() const;        // the previous copy while a reinstall runs
  std::wstring FailureRecordPath() const;  // the code of the archive's last failed unpacking
  std::wstring UnfinishedMarkerPath() const;  // exists from before unpacking until Finish is done

  // For tests: the free-space figure of the download's volume.
  void SetFreeSpaceProbe(std::function<bool(const std::wstring&, uint64_t&)> probe) { freeSpace_ = std::move(probe); }
  // For tests: called on the run thread with each file the library has just written, as an
  // antivirus that takes a file at once would see it.
  void SetUnpackedFileHook(std::function<void(const std::wstring&)> hook) { unpackedFileHook_ = std::move(hook); }
  // For tests: the same once the file has been flushed, just before the game folder is checked.
  void SetFlushedFileHook(std::function<void(const std::wstring&)> hook) { flushedFileHook_ = std::move(hook); }
  // For tests: stop as the window's shutdown does, without destroying the installer.
  void RequestStop() { stop_ = true; }
  void Join();

 private:
  void Run(bool reinstall);
  void Fail(const std::wstring& text);
  bool Download(const std::wstring& partPath, const std::wstring& finalPath);
  // Counts what the archive holds for the game and checks the space for it; touches nothing.
  bool ListArchive();
  // Unpacks the wanted entries; unpacked gets the names (below the install folder) of the
  // files the library wrote.
  bool Extract(std::vector<std::wstring>& unpacked);
  bool FlushUnpackedFiles(const std::vector<std::wstring>& unpacked);
  void FailUnpack(int code, uint32_t systemError, const std::wstring& file);
  // Fails with text; the archive goes when it is corrupt or failed the same way last time.
  void FailArchive(int code, uint32_t systemError, const std::wstring& text);
  void FailWriting(const std::wstring& path, uint32_t systemError);
  bool WriteMarker(const char* text);
  bool MarkerSaysWhole() const;
  // Registers, then removes what the installation left, the marker last; false when that
  // failed (the marker stays and the next start tries again).
  bool Finish();

  const std::wstring installDir_;
  const std::wstring archiveUrl_;
  std::function<bool(const std::wstring&, uint64_t&)> freeSpace_;
  std::function<void(const std::wstring&)> unpackedFileHook_;
  std::function<void(const std::wstring&)> flushedFileHook_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  GtaSnapshot status_;
};
