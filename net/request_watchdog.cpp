#include "net/request_watchdog.h"

#include <thread>

#include "net/network_error_text.h"

namespace {

// Inactivity is measured on a clock that stops while the computer sleeps: after a wake,
// GetTickCount64 would count the sleep as silence and fail every request at once.
uint64_t InactivityClockMs() {
  ULONGLONG units = 0;  // 100 ns
  QueryUnbiasedInterruptTime(&units);
  return units / 10000;
}

}  // namespace

RequestWatchdog& RequestWatchdog::Instance() {
  // Never destroyed: the detached thread may still be waiting on it while the process ends.
  static RequestWatchdog* instance = new RequestWatchdog();
  return *instance;
}

uint64_t RequestWatchdog::Register(const std::atomic<bool>* cancel) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint64_t id = nextId_++;
  Entry& entry = entries_[id];
  entry.cancel = cancel;
  entry.request.lastActivity = InactivityClockMs();
  if (!started_) {
    started_ = true;
    std::thread([this] { Run(); }).detach();
  }
  wake_.notify_all();
  return id;
}

bool RequestWatchdog::BeginBlockingCall(uint64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(id);
  if (it == entries_.end()) return false;
  WatchedRequest& r = it->second.request;
  r.inBlockingCall = r.state == RequestState::Active;
  if (r.inBlockingCall) blockingChanged_.notify_all();
  return r.inBlockingCall;
}

bool RequestWatchdog::EndBlockingCall(uint64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(id);
  if (it == entries_.end()) return false;
  WatchedRequest& r = it->second.request;
  r.inBlockingCall = false;
  r.lastActivity = InactivityClockMs();
  return r.state == RequestState::Active;
}

void RequestWatchdog::Unregister(uint64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.erase(id);
}

void RequestWatchdog::FailureText(uint64_t id, uint32_t code, std::wstring& error) {
  RequestState state = RequestState::Active;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(id);
    if (it != entries_.end()) state = it->second.request.state;
  }
  switch (state) {
    case RequestState::Cancelled: error = kCancelledText; break;
    case RequestState::TimedOut: error = InactivityTimeoutText(); break;
    case RequestState::Active: error = NetworkErrorTextFor(code, Tls12Unavailable()); break;
  }
}

void RequestWatchdog::Cancel(uint64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(id);
  if (it == entries_.end()) return;
  it->second.request.cancelRequested = true;
  ScanWatchedRequest(it->second.request, InactivityClockMs());
}

bool RequestWatchdog::IsActive(uint64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(id);
  return it != entries_.end() && it->second.request.state == RequestState::Active;
}

uint64_t RequestWatchdog::ScanCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return scans_;
}

void RequestWatchdog::WaitUntilAnyBlockingCall() {
  std::unique_lock<std::mutex> lock(mutex_);
  blockingChanged_.wait(lock, [this] {
    for (const auto& [id, entry] : entries_) {
      if (entry.request.inBlockingCall) return true;
    }
    return false;
  });
}

void RequestWatchdog::Run() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return !entries_.empty(); });
      ++scans_;
      const uint64_t now = InactivityClockMs();
      for (auto& [id, entry] : entries_) {
        entry.request.cancelRequested = entry.cancel && entry.cancel->load();
        ScanWatchedRequest(entry.request, now);
      }
    }
    Sleep(kWatchdogScanMs);
  }
}
