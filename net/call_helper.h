// The thread that makes an HttpClient's blocking WinHTTP calls and owns the request handle
// they run on. Closing a handle does not end a blocked call under Wine, where WinHttpSendRequest
// has been seen blocked for many minutes, and a handle value closed by anyone else may be
// reused by the next request while a call is still on its way to it. So one thread owns a
// request handle at a time: the caller until it hands the handle over, then the helper, which
// alone calls into it; the caller waits with the watchdog's verdict in view and, once the
// verdict is in, leaves the call behind; the helper closes the handle when its call returns
// and ends. Nobody else ever closes a request handle.
//
// The body is read ahead by the helper into a few buffers while the caller consumes the
// previous ones, so that the caller waits only when nothing has arrived yet and a read takes
// whatever the socket holds by then. The buffers are allocated when the helper starts, so the
// helper's loop allocates nothing; what can still throw there fails the request it serves.
//
// A helper left behind keeps what its handle depends on (the connection and the session,
// passed to Adopt) until its call returns: some WinHTTP versions free child handles with
// their parent and hand the freed slot to the next handle opened.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

struct CallHelperState;

// Helpers left behind at once in the process, at most: each one holds a thread (and its
// stack) until its peer answers or drops the connection.
inline constexpr uint32_t kMaxCallsLeftBehind = 4;
inline constexpr uint32_t kHelperStackBytes = 256 * 1024;

class CallHelper {
 public:
  using Call = std::function<BOOL(HINTERNET request)>;

  enum class StartFailure { None, TooManyLeftBehind, NoThread, NoMemory };
  // Starts the thread with its read buffers; null (and why) when kMaxCallsLeftBehind helpers
  // are still blocked, the system refuses a thread or the buffers cannot be had.
  static std::unique_ptr<CallHelper> Start(StartFailure& failure);
  ~CallHelper();  // closes an adopted handle; a helper in a call is left behind
  CallHelper(const CallHelper&) = delete;
  CallHelper& operator=(const CallHelper&) = delete;

  // From here on only this helper calls into request and closes it; keepAlive (the handles
  // request depends on) is held until then.
  void Adopt(HINTERNET request, uint64_t watchdogId, const std::atomic<bool>* cancel,
             std::shared_ptr<void> keepAlive);
  // Closes the adopted handle, or leaves it to the helper when a call of it is still under
  // way at the request's verdict (a read ahead is waited for until then). True: the helper
  // can take the next request.
  bool Release();

  // Runs call on the adopted handle. True: it returned, with ok and code (its last error).
  // False: the request's verdict came first; code is then 12017 (operation cancelled).
  bool Run(const Call& call, BOOL& ok, DWORD& code);

  // The next piece of the body, read ahead: true with length 0 at its end. False: the read
  // failed (code) or the verdict came first (12017). data stays valid until the next call.
  bool NextPiece(const uint8_t*& data, uint32_t& length, DWORD& code);

  // Left behind in a call that has not returned yet.
  bool StillBlocked() const;

  // Helper threads alive that were left behind in a call (for the exit log and for tests),
  // and a wait (of at most ms) until at most count are left.
  static uint32_t LeftBehind();
  static bool WaitForLeftBehindAtMost(uint32_t count, uint32_t ms);

  // For tests: the next Start fails as if the read buffers could not be allocated.
  static void FailNextBufferAllocation();

 private:
  explicit CallHelper(std::shared_ptr<CallHelperState> state) : state_(std::move(state)) {}
  bool AwaitVerdictOr(const std::function<bool()>& done);
  std::shared_ptr<CallHelperState> state_;
};
