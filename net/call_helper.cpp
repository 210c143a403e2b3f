#include "net/call_helper.h"

#include <process.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

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

}  // namespace

struct CallHelperState {
  std::mutex mutex;
  std::condition_variable changed;
  HINTERNET request = nullptr;
  uint64_t watchdogId = 0;
  const std::atomic<bool>* cancel = nullptr;
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
  std::vector<uint8_t> buffers[kReadBuffers];
  std::vector<int> free;
  std::deque<Piece> filled;
  int inHand = -1;  // the buffer the caller is reading
  bool reading = false;
  bool bodyEnded = false;
  bool readFailed = false;
  DWORD readCode = 0;

  bool quit = false;
  bool leftBehind = false;  // the handle is the helper's to close

  bool WantsRead() const { return reading && !free.empty() && !bodyEnded && !readFailed; }
  void ResetRead() {
    free.clear();
    for (int i = 0; i < kReadBuffers; ++i) free.push_back(i);
    filled.clear();
    inHand = -1;
    reading = bodyEnded = readFailed = false;
  }
};

namespace {

// One read of whatever has arrived (at most a buffer): asking first makes the read return
// with what is there, since Wine's WinHttpReadData alone waits for the whole buffer.
bool ReadPiece(HINTERNET request, uint64_t watchdogId, std::vector<uint8_t>& buffer, DWORD& read, DWORD& code) {
  RequestWatchdog& watchdog = RequestWatchdog::Instance();
  read = 0;
  if (!watchdog.BeginBlockingCall(watchdogId)) {
    code = kOperationCancelled;
    return false;
  }
  if (buffer.size() != kReadBufferBytes) buffer.assign(kReadBufferBytes, 0);
  DWORD available = 0;
  BOOL ok = WinHttpQueryDataAvailable(request, &available);
  if (ok && available > 0) ok = WinHttpReadData(request, buffer.data(), available < kReadBufferBytes ? available : kReadBufferBytes, &read);
  code = ok ? 0 : GetLastError();
  const bool active = watchdog.EndBlockingCall(watchdogId);
  if (ok && !active) code = kOperationCancelled;
  return ok && active;
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
      const int buffer = s.free.back();
      s.free.pop_back();
      const uint64_t id = s.watchdogId;
      lock.unlock();
      DWORD read = 0, code = 0;
      const bool ok = ReadPiece(request, id, s.buffers[buffer], read, code);
      lock.lock();
      if (ok && read > 0) {
        s.filled.push_back({buffer, read});
      } else {
        s.free.push_back(buffer);
        s.bodyEnded = ok;
        s.readFailed = !ok;
        s.readCode = code;
      }
    }
    s.inCall = false;
    s.changed.notify_all();
  }
  if (!s.leftBehind) return;
  if (s.request) WinHttpCloseHandle(s.request);
  s.request = nullptr;
  lock.unlock();
  std::lock_guard<std::mutex> count(g_leftBehindMutex);
  --g_leftBehind;
  g_leftBehindChanged.notify_all();
}

unsigned __stdcall HelperThread(void* parameter) {
  std::unique_ptr<std::shared_ptr<CallHelperState>> state(static_cast<std::shared_ptr<CallHelperState>*>(parameter));
  HelperLoop(**state);
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
}

}  // namespace

std::unique_ptr<CallHelper> CallHelper::Start() {
  {
    std::lock_guard<std::mutex> count(g_leftBehindMutex);
    if (g_leftBehind >= kMaxCallsLeftBehind) return nullptr;
  }
  auto state = std::make_shared<CallHelperState>();
  state->ResetRead();
  auto* parameter = new std::shared_ptr<CallHelperState>(state);
  // std::thread cannot choose its stack; the default 2 MiB would add up in a 32-bit process.
  const uintptr_t thread = _beginthreadex(nullptr, kHelperStackBytes, HelperThread, parameter,
                                          STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (!thread) {
    delete parameter;
    return nullptr;
  }
  CloseHandle(reinterpret_cast<HANDLE>(thread));
  return std::unique_ptr<CallHelper>(new CallHelper(std::move(state)));
}

CallHelper::~CallHelper() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  Withdraw(*state_);
}

void CallHelper::Adopt(HINTERNET request, uint64_t watchdogId, const std::atomic<bool>* cancel) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->request = request;
  state_->watchdogId = watchdogId;
  state_->cancel = cancel;
  state_->ResetRead();
}

bool CallHelper::Release() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  CallHelperState& s = *state_;
  s.reading = false;
  if (s.inCall || s.quit) {
    Withdraw(s);
    return false;
  }
  if (s.request) WinHttpCloseHandle(s.request);
  s.request = nullptr;
  s.ResetRead();
  return true;
}

bool CallHelper::AwaitVerdictOr(const std::function<bool()>& done) {
  RequestWatchdog& watchdog = RequestWatchdog::Instance();
  std::unique_lock<std::mutex> lock(state_->mutex);
  for (;;) {
    if (state_->changed.wait_for(lock, kVerdictPoll, done)) return true;
    if (state_->cancel && state_->cancel->load()) watchdog.Cancel(state_->watchdogId);
    if (!watchdog.IsActive(state_->watchdogId)) break;
  }
  if (done()) return true;
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
  ok = state_->ok;
  code = state_->code;
  return true;
}

bool CallHelper::NextPiece(const uint8_t*& data, uint32_t& length, DWORD& code) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    CallHelperState& s = *state_;
    if (s.inHand >= 0) s.free.push_back(s.inHand);
    s.inHand = -1;
    s.reading = true;
    s.changed.notify_all();
  }
  const bool arrived = AwaitVerdictOr([this] {
    const CallHelperState& s = *state_;
    return !s.filled.empty() || s.bodyEnded || s.readFailed;
  });
  std::lock_guard<std::mutex> lock(state_->mutex);
  CallHelperState& s = *state_;
  if (!arrived) {
    code = kOperationCancelled;
    return false;
  }
  if (!s.filled.empty()) {
    const CallHelperState::Piece piece = s.filled.front();
    s.filled.pop_front();
    s.inHand = piece.buffer;
    data = s.buffers[piece.buffer].data();
    length = piece.length;
    return true;
  }
  length = 0;
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
