#include "net/call_helper.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "net/request_watchdog.h"

namespace {

// How often a waiting caller looks at its cancel flag and at the watchdog's verdict.
constexpr auto kVerdictPoll = std::chrono::milliseconds(50);

std::atomic<uint32_t> g_leftBehind{0};

}  // namespace

struct CallHelperState {
  std::mutex mutex;
  std::condition_variable changed;
  CallHelper::Call call;
  bool pending = false;
  bool returned = false;
  bool quit = false;
  bool leftBehind = false;
  BOOL ok = FALSE;
  DWORD code = 0;
  CallHelper::Scratch scratch;
};

namespace {

void HelperLoop(std::shared_ptr<CallHelperState> state) {
  std::unique_lock<std::mutex> lock(state->mutex);
  for (;;) {
    state->changed.wait(lock, [&] { return state->pending || state->quit; });
    if (!state->pending) break;
    CallHelper::Call call = std::move(state->call);
    state->pending = false;
    lock.unlock();
    BOOL ok = FALSE;
    try {
      ok = call(state->scratch);
    } catch (...) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);  // only the standard library throws here
    }
    const DWORD code = ok ? 0 : GetLastError();
    lock.lock();
    state->ok = ok;
    state->code = code;
    state->returned = true;
    state->changed.notify_all();
  }
  if (state->leftBehind) g_leftBehind.fetch_sub(1);
}

}  // namespace

std::unique_ptr<CallHelper> CallHelper::Start() {
  auto state = std::make_shared<CallHelperState>();
  try {
    std::thread(HelperLoop, state).detach();
  } catch (const std::system_error&) {
    return nullptr;
  }
  return std::unique_ptr<CallHelper>(new CallHelper(std::move(state)));
}

CallHelper::~CallHelper() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->quit = true;
  state_->changed.notify_all();
}

CallHelper::Scratch& CallHelper::Data() { return state_->scratch; }

bool CallHelper::Run(const Call& call, uint64_t watchdogId, const std::atomic<bool>* cancel, BOOL& ok, DWORD& code) {
  RequestWatchdog& watchdog = RequestWatchdog::Instance();
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->call = call;
    state_->pending = true;
    state_->returned = false;
    state_->changed.notify_all();
  }
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(state_->mutex);
      if (state_->changed.wait_for(lock, kVerdictPoll, [&] { return state_->returned; })) {
        ok = state_->ok;
        code = state_->code;
        return true;
      }
    }
    if (cancel && cancel->load()) watchdog.Cancel(watchdogId);
    if (!watchdog.IsActive(watchdogId)) break;
  }
  std::lock_guard<std::mutex> lock(state_->mutex);
  // Not started yet: it never will be, since its handle may be closed (and its value reused)
  // by now. Returned just now: nothing is left behind either.
  if (state_->pending || state_->returned) {
    state_->pending = false;
    state_->call = nullptr;
    ok = FALSE;
    code = state_->returned ? state_->code : ERROR_OPERATION_ABORTED;
    return false;
  }
  state_->leftBehind = true;
  g_leftBehind.fetch_add(1);
  return false;
}

uint32_t CallHelper::LeftBehind() { return g_leftBehind.load(); }
