// The window's removal of the game files on a thread of its own, shaped like the other
// workers: a running flag, a status under a mutex, snapshots for the UI thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

struct UninstallSnapshot {
  uint32_t deleted = 0;
  bool finished = false;  // a run ended and its result is below
  bool ok = false;
  std::wstring error;     // the first file that could not be removed
};

class UninstallWorker {
 public:
  UninstallWorker() = default;
  ~UninstallWorker();  // joins a running removal; it cannot be stopped half-way
  UninstallWorker(const UninstallWorker&) = delete;
  UninstallWorker& operator=(const UninstallWorker&) = delete;

  // Removes the game files of installDir (UninstallCore); false while a run is under way.
  bool Start(const std::wstring& installDir, const std::wstring& gtaFolder);
  UninstallSnapshot GetSnapshot();
  bool IsRunning() const { return running_.load(); }
  // The owner's completion step: joins a run that ended and hands its result over once.
  bool TakeResult(UninstallSnapshot& result);
  // Forgets the last run's error (the overlay opens afresh).
  void ClearError();
  void Join();

 private:
  std::atomic<bool> running_{false};
  std::atomic<unsigned> deleted_{0};
  std::thread thread_;
  std::mutex mutex_;
  UninstallSnapshot status_;
  bool resultTaken_ = true;
};
