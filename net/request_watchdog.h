// One process-wide thread that ends blocked WinHTTP calls: when the caller's cancel flag is
// set, or when 40 s pass without any of the request's blocking calls completing, it closes
// the request handle from its own thread. On Windows that makes the blocked call return;
// under Wine it does not, so the caller waits for the call with IsActive in view and stops
// waiting once the verdict is in (see HttpClient).
#pragma once

#include <windows.h>
#include <winhttp.h>

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

  uint64_t Register(HINTERNET request, const std::atomic<bool>* cancel);
  bool BeginBlockingCall(uint64_t id);  // false: do not make the call, the verdict is in
  bool EndBlockingCall(uint64_t id);    // false: the request was cancelled or timed out
  bool Unregister(uint64_t id);         // true: the watchdog closed the handle already
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
    HINTERNET handle = nullptr;
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
