// The thread that makes an HttpClient's blocking WinHTTP calls, so that the caller can stop
// waiting for one. Closing a request handle aborts a blocked call on Windows but not under
// Wine, where WinHttpSendRequest has been seen blocked for many minutes; so the caller waits
// for the helper with the watchdog's verdict in view and, once the verdict is in, leaves the
// call behind. A helper left behind owns everything its call touches (the read buffer, the
// request body) and ends by itself when its call returns.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct CallHelperState;

class CallHelper {
 public:
  // What a call may touch besides its handle: owned by the helper, valid after Run returned.
  struct Scratch {
    std::vector<uint8_t> buffer;  // read target
    std::string body;             // request body, copied here before the send
    DWORD read = 0;
  };
  using Call = std::function<BOOL(Scratch&)>;

  // Starts the thread; null when the system refuses one.
  static std::unique_ptr<CallHelper> Start();
  ~CallHelper();  // the thread ends now when idle, else as soon as its call returns
  CallHelper(const CallHelper&) = delete;
  CallHelper& operator=(const CallHelper&) = delete;

  // Free for the caller between calls only.
  Scratch& Data();

  // Runs call on the helper. True: it returned, with ok and code (its last error). False:
  // the request's verdict came first (cancel flag or watchdog); a call already under way is
  // left behind, and this helper must not be used again.
  bool Run(const Call& call, uint64_t watchdogId, const std::atomic<bool>* cancel, BOOL& ok, DWORD& code);

  // Helper threads alive that were left behind in a call (for the exit log and for tests).
  static uint32_t LeftBehind();

 private:
  explicit CallHelper(std::shared_ptr<CallHelperState> state) : state_(std::move(state)) {}
  std::shared_ptr<CallHelperState> state_;
};
