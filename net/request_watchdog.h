// One process-wide thread that gives blocked WinHTTP calls their verdict: a request is
// cancelled as soon as the caller's cancel flag is set, and timed out once 40 s pass without
// any of its blocking calls completing. It never touches a request handle: the caller stops
// waiting at the verdict and the helper that owns the handle closes it (net/call_helper.h).
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "net/watchdog_rules.h"

class RequestWatchdog {
 public:
  static RequestWatchdog& Instance();

  uint64_t Register(const std::atomic<bool>* cancel);
  bool BeginBlockingCall(uint64_t id);  // false: do not make the call, the verdict is in
  bool EndBlockingCall(uint64_t id);    // false: the request was cancelled or timed out
  void Unregister(uint64_t id);
  void FailureText(uint64_t id, uint32_t code, std::wstring& error);
  // The caller saw its own cancel flag: the verdict now instead of at the next scan.
  void Cancel(uint64_t id);
  bool IsActive(uint64_t id);  // false once the request is cancelled or timed out

  // For tests: how many scans the thread has made (it does not scan while idle), and a
  // wait until some request is inside a blocking call.
  uint64_t ScanCount();
  void WaitUntilAnyBlockingCall();

 private:
  RequestWatchdog() = default;
  void Run();

  struct Entry {
    const std::atomic<bool>* cancel = nullptr;
    WatchedRequest request;
  };

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable blockingChanged_;
  std::unordered_map<uint64_t, Entry> entries_;
  uint64_t nextId_ = 1;
  uint64_t scans_ = 0;
  bool started_ = false;
};
