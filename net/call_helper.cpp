#include "net/call_helper.h"

#include <process.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "net/http_rules.h"
#include "net/request_watchdog.h"

namespace {

// How often a waiting caller looks at its cancel flag and at the watchdog's verdict.
constexpr auto kVerdictPoll = std::chrono::milliseconds(50);
constexpr DWORD kOperationCancelled = 12017;  // ERROR_WINHTTP_OPERATION_CANCELLED
// One piece in the caller's hands, one being read, one ready: the caller rarely waits.
constexpr int kReadBuffers = 3;

std::mutex g_leftBehindMutex;
std::condition_variable g_leftBehindChanged;
uint32_t g_leftBehind = 0;
std::atomic<bool> g_failNextBufferAllocation{false};

}  // namespace

struct CallHelperState {
  std::mutex mutex;
  std::condition_variable changed;
  HINTERNET request = nullptr;
  uint64_t watchdogId = 0;
  const std::atomic<bool>* cancel = nullptr;
  std::shared_ptr<void> keepAlive;  // what request depends on, held while it is open
  bool inCall = false;  // the helper is inside WinHTTP on request

  CallHelper::Call call;
  bool pending = false;
  bool returned = false;
  BOOL ok = FALSE;
  DWORD code = 0;

  struct Piece {
    int buffer;
    DWORD length;
  };
  // Fixed rings, so that nothing in the helper's loop allocates.
  std::unique_ptr<uint8_t[]> buffers[kReadBuffers];
  int free[kReadBuffers] = {};
  int freeCount = 0;
  Piece filled[kReadBuffers] = {};
  int filledFirst = 0;
  int filledCount = 0;
  int inHand = -1;  // the buffer the caller is reading
  bool reading = false;
  bool bodyEnded = false;
  bool readFailed = false;
  DWORD readCode = 0;

  bool quit = false;
  bool leftBehind = false;  // the handle is the helper's to close
  bool ended = false;       // the helper's thread is done with the handle
  DWORD brokenCode = 0;     // an exception stopped the helper's loop

  bool WantsRead() const { return reading && freeCount > 0 && !bodyEnded && !readFailed; }
  void ResetRead() {
    freeCount = 0;
    for (int i = 0; i < kReadBuffers; ++i) free[freeCount++] = i;
    filledFirst = filledCount = 0;
    inHand = -1;
    reading = bodyEnded = readFailed = false;
  }
  void PushFilled(int buffer, DWORD length) {
    filled[(filledFirst + filledCount++) % kReadBuffers] = {buffer, length};
  }
  Piece PopFilled() {
    const Piece piece = filled[filledFirst];
    filledFirst = (filledFirst + 1) % kReadBuffers;
    --filledCount;
    return piece;
  }
};

namespace {

// One read of whatever has arrived (at most a buffer): asking first makes the read return
// with what is there, since Wine's WinHttpReadData alone waits for the whole buffer.
bool ReadPiece(HINTERNET request, uint64_t watchdogId, uint8_t* buffer, DWORD& read, DWORD& code) {
  RequestWatchdog& watchdog = RequestWatchdog::Instance();
  read = 0;
  if (!watchdog.BeginBlockingCall(watchdogId)) {
    code = kOperationCancelled;
    return false;
  }
  DWORD available = 0;
  BOOL ok = WinHttpQueryDataAvailable(request, &available);
  if (ok && available > 0) ok = WinHttpReadData(request, buffer, available < kReadBufferBytes ? available : kReadBufferBytes, &read);
  code = ok ? 0 : GetLastError();
  const bool active = watchdog.EndBlockingCall(watchdogId);
  if (ok && !active) code = kOperationCancelled;
  return ok && active;
}

// The end of a helper that was left behind: its call has returned, so it closes the handle
// and lets go of the connection and session (closing them when their client is gone too)
// before it stops counting as left behind.
void EndLeftBehind(CallHelperState& s, std::unique_lock<std::mutex>& lock) {
  const HINTERNET request = s.request;
  s.request = nullptr;
  std::shared_ptr<void> keepAlive = std::move(s.keepAlive);
  lock.unlock();
  if (request) WinHttpCloseHandle(request);
  keepAlive.reset();
  lock.lock();
  s.ended = true;
  s.changed.notify_all();
  lock.unlock();
  std::lock_guard<std::mutex> count(g_leftBehindMutex);
  --g_leftBehind;
  g_leftBehindChanged.notify_all();
}

// How every helper ends, its loop done or broken: one left behind closes what it holds.
void EndHelper(CallHelperState& s, std::unique_lock<std::mutex>& lock) {
  if (s.leftBehind) {
    EndLeftBehind(s, lock);
  } else {
    s.ended = true;
  }
}

void HelperLoop(CallHelperState& s) {
  std::unique_lock<std::mutex> lock(s.mutex);
  for (;;) {
    s.changed.wait(lock, [&] { return s.pending || s.WantsRead() || s.quit; });
    if (s.quit) break;
    const HINTERNET request = s.request;
    s.inCall = true;
    if (s.pending) {
      const CallHelper::Call call = std::move(s.call);
      s.pending = false;
      lock.unlock();
      BOOL ok = FALSE;
      try {
        ok = call(request);
      } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);  // only the standard library throws here
      }
      const DWORD code = ok ? 0 : GetLastError();
      lock.lock();
      s.ok = ok;
      s.code = code;
      s.returned = true;
    } else {
      const int buffer = s.free[--s.freeCount];
      const uint64_t id = s.watchdogId;
      lock.unlock();
      DWORD read = 0, code = 0;
      const bool ok = ReadPiece(request, id, s.buffers[buffer].get(), read, code);
      lock.lock();
      if (ok && read > 0) {
        s.PushFilled(buffer, read);
      } else {
        s.free[s.freeCount++] = buffer;
        s.bodyEnded = ok;
        s.readFailed = !ok;
        s.readCode = code;
      }
    }
    s.inCall = false;
    s.changed.notify_all();
  }
  EndHelper(s, lock);
}

// What is left to do when an exception (a lock the system could not take) stopped the loop:
// fail whatever the caller waits for, and end as a helper left behind would.
void EndBroken(CallHelperState& s) {
  try {
    std::unique_lock<std::mutex> lock(s.mutex);
    s.brokenCode = ERROR_NOT_ENOUGH_MEMORY;
    s.inCall = false;
    s.changed.notify_all();
    EndHelper(s, lock);
  } catch (...) {
  }
}

unsigned __stdcall HelperThread(void* parameter) {
  std::unique_ptr<std::shared_ptr<CallHelperState>> state(static_cast<std::shared_ptr<CallHelperState>*>(parameter));
  try {
    HelperLoop(**state);
  } catch (...) {
    EndBroken(**state);
  }
  return 0;
}

// Under s.mutex: the caller stops waiting for the helper. A call under way keeps the
// handle and closes it when it returns; otherwise the handle is closed here.
void Withdraw(CallHelperState& s) {
  s.quit = true;
  s.changed.notify_all();
  if (s.inCall) {
    if (!s.leftBehind) {
      s.leftBehind = true;
      std::lock_guard<std::mutex> count(g_leftBehindMutex);
      ++g_leftBehind;
    }
    return;
  }
  if (s.request) WinHttpCloseHandle(s.request);
  s.request = nullptr;
  s.keepAlive.reset();
}

}  // namespace

std::unique_ptr<CallHelper> CallHelper::Start(StartFailure& failure) {
  failure = StartFailure::None;
  {
    std::lock_guard<std::mutex> count(g_leftBehindMutex);
    if (g_leftBehind >= kMaxCallsLeftBehind) {
      failure = StartFailure::TooManyLeftBehind;
      return nullptr;
    }
  }
  std::unique_ptr<CallHelper> helper;
  std::unique_ptr<std::shared_ptr<CallHelperState>> parameter;
  try {
    if (g_failNextBufferAllocation.exchange(false)) throw std::bad_alloc();
    auto state = std::make_shared<CallHelperState>();
    for (auto& buffer : state->buffers) buffer.reset(new uint8_t[kReadBufferBytes]);
    state->ResetRead();
    parameter.reset(new std::shared_ptr<CallHelperState>(state));
    helper.reset(new CallHelper(std::move(state)));
  } catch (const std::bad_alloc&) {
    failure = StartFailure::NoMemory;
    return nullptr;
  }
  // std::thread cannot choose its stack; the default 2 MiB would add up in a 32-bit process.
  const uintptr_t thread = _beginthreadex(nullptr, kHelperStackBytes, HelperThread, parameter.get(),
                                          STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (!thread) {
    failure = StartFailure::NoThread;
    return nullptr;
  }
  parameter.release();  // the thread's now
  CloseHandle(reinterpret_cast<HANDLE>(thread));
  return helper;
}

CallHelper::~CallHelper() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  Withdraw(*state_);
}

void CallHelper::Adopt(HINTERNET request, uint64_t watchdogId, const std::atomic<bool>* cancel,
                       std::shared_ptr<void> keepAlive) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->request = request;
  state_->watchdogId = watchdogId;
  state_->cancel = cancel;
  state_->keepAlive = std::move(keepAlive);
  state_->ResetRead();
}

bool CallHelper::Release() {
  bool readingAhead = false;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->reading = false;
    readingAhead = state_->inCall && !state_->quit;
  }
  // A request stopped by its caller may leave a read ahead under way, which returns with the
  // next piece or the end; leaving it behind would hold this client's next request.
  if (readingAhead) AwaitVerdictOr([this] { return !state_->inCall; });
  std::lock_guard<std::mutex> lock(state_->mutex);
  CallHelperState& s = *state_;
  if (s.inCall || s.quit) {
    Withdraw(s);
    return false;
  }
  if (s.request) WinHttpCloseHandle(s.request);
  s.request = nullptr;
  s.keepAlive.reset();
  s.ResetRead();
  return s.brokenCode == 0;
}

bool CallHelper::StillBlocked() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->leftBehind && !state_->ended;
}

bool CallHelper::AwaitVerdictOr(const std::function<bool()>& done) {
  RequestWatchdog& watchdog = RequestWatchdog::Instance();
  std::unique_lock<std::mutex> lock(state_->mutex);
  auto over = [&] { return state_->brokenCode != 0 || done(); };
  for (;;) {
    if (state_->changed.wait_for(lock, kVerdictPoll, over)) return true;
    if (state_->cancel && state_->cancel->load()) watchdog.Cancel(state_->watchdogId);
    if (!watchdog.IsActive(state_->watchdogId)) break;
  }
  if (over()) return true;
  state_->pending = false;
  state_->call = nullptr;
  state_->reading = false;
  if (state_->inCall) Withdraw(*state_);
  return false;
}

bool CallHelper::Run(const Call& call, BOOL& ok, DWORD& code) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->call = call;
    state_->pending = true;
    state_->returned = false;
    state_->changed.notify_all();
  }
  if (!AwaitVerdictOr([this] { return state_->returned; })) {
    ok = FALSE;
    code = kOperationCancelled;
    return false;
  }
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->brokenCode != 0) {
    ok = FALSE;
    code = state_->brokenCode;
    return true;
  }
  ok = state_->ok;
  code = state_->code;
  return true;
}

bool CallHelper::NextPiece(const uint8_t*& data, uint32_t& length, DWORD& code) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    CallHelperState& s = *state_;
    if (s.inHand >= 0) s.free[s.freeCount++] = s.inHand;
    s.inHand = -1;
    s.reading = true;
    s.changed.notify_all();
  }
  const bool arrived = AwaitVerdictOr([this] {
    const CallHelperState& s = *state_;
    return s.filledCount > 0 || s.bodyEnded || s.readFailed;
  });
  std::lock_guard<std::mutex> lock(state_->mutex);
  CallHelperState& s = *state_;
  if (!arrived) {
    code = kOperationCancelled;
    return false;
  }
  if (s.filledCount > 0) {
    const CallHelperState::Piece piece = s.PopFilled();
    s.inHand = piece.buffer;
    data = s.buffers[piece.buffer].get();
    length = piece.length;
    return true;
  }
  length = 0;
  if (s.brokenCode != 0) {
    code = s.brokenCode;
    return false;
  }
  code = s.readCode;
  return s.bodyEnded;
}

uint32_t CallHelper::LeftBehind() {
  std::lock_guard<std::mutex> count(g_leftBehindMutex);
  return g_leftBehind;
}

bool CallHelper::WaitForLeftBehindAtMost(uint32_t count, uint32_t ms) {
  std::unique_lock<std::mutex> lock(g_leftBehindMutex);
  return g_leftBehindChanged.wait_for(lock, std::chrono::milliseconds(ms), [count] { return g_leftBehind <= count; });
}

void CallHelper::FailNextBufferAllocation() { g_failNextBufferAllocation = true; }
