// Keeps the launcher executable current: reads the signed launcher manifest, and when it
// names a newer version downloads that executable from the object store, verifies it while
// it streams and stages it as "<target>.new". Applying the staged file is a separate step.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

enum UpdateState : int { kUpdateIdle = 0, kUpdateChecking = 1, kUpdateDownloading = 2, kUpdateReady = 3,
                         kUpdateNoUpdate = 4, kUpdateFailed = 5 };

struct UpdateSnapshot {
  int state = kUpdateIdle;
  std::wstring message;
  std::string remoteVersion;
  uint64_t bytesTotal = 0;
  uint64_t bytesDone = 0;
  std::wstring stagedPath;
};

inline constexpr uint32_t kMaxLauncherManifestBytes = 1048576;

class LauncherUpdater {
 public:
  LauncherUpdater() = default;
  ~LauncherUpdater();
  LauncherUpdater(const LauncherUpdater&) = delete;
  LauncherUpdater& operator=(const LauncherUpdater&) = delete;

  void Init(std::wstring contentBaseUrl, std::wstring target, std::string ownVersion);
  void Start();
  UpdateSnapshot GetSnapshot();
  bool IsRunning() const { return running_.load(); }
  void Join();

  void SetResult(int state, const std::wstring& text);

  // Swaps the staged file in; the previous launcher is kept as "<target>.old" meanwhile and
  // put back when the swap fails.
  static bool ApplyUpdate(const std::wstring& stagedPath, const std::wstring& target, std::wstring& error);
  // Removes "<target>.old" (retrying while the previous process lets go) and "<target>.new".
  static void CleanupAfterUpdate(const std::wstring& target);
  // A swap killed between its two moves leaves no target, only "<target>.old": that file
  // goes back, so that the folder holds a launcher again. True when it did.
  static bool RecoverInterruptedSwap(const std::wstring& target);

 private:
  void Run();

  std::wstring contentBaseUrl_;
  std::wstring target_;
  std::string ownVersion_;
  std::atomic<bool> running_{false};
  std::atomic<bool> cancel_{false};
  std::thread thread_;
  std::mutex mutex_;
  UpdateSnapshot status_;
};
