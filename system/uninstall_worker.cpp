#include "system/uninstall_worker.h"

#include "base/worker_failure.h"
#include "system/uninstall.h"

UninstallWorker::~UninstallWorker() { Join(); }

bool UninstallWorker::Start(const std::wstring& installDir, const std::wstring& gtaFolder) {
  if (running_.load()) return false;
  Join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = UninstallSnapshot{};
    resultTaken_ = false;
  }
  deleted_ = 0;
  running_ = true;
  const bool started = TryStartThread(thread_, L"uninstall", [this, installDir, gtaFolder] {
    std::wstring error;
    bool ok = false;
    try {
      ok = UninstallCore(installDir, gtaFolder, deleted_, error);
    } catch (...) {
      CaughtExceptionText(L"uninstall");  // logs the message; the run keeps its own text
      error = L"Kaldırma yarıda kaldı (beklenmeyen hata)";
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      status_.finished = true;
      status_.ok = ok;
      status_.error = error;
    }
    // The result is published before the flag clears: a worker seen idle has its result.
    running_ = false;
  });
  if (!started) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      status_.finished = true;
      status_.ok = false;
      status_.error = kThreadStartFailedText;
    }
    running_ = false;
  }
  return true;
}

UninstallSnapshot UninstallWorker::GetSnapshot() {
  std::lock_guard<std::mutex> lock(mutex_);
  UninstallSnapshot copy = status_;
  copy.deleted = deleted_.load();
  return copy;
}

bool UninstallWorker::TakeResult(UninstallSnapshot& result) {
  if (running_.load()) return false;
  Join();
  std::lock_guard<std::mutex> lock(mutex_);
  if (resultTaken_ || !status_.finished) return false;
  resultTaken_ = true;
  result = status_;
  result.deleted = deleted_.load();
  return true;
}

void UninstallWorker::ClearError() {
  std::lock_guard<std::mutex> lock(mutex_);
  status_.error.clear();
}

void UninstallWorker::Join() {
  if (thread_.joinable()) thread_.join();
}
