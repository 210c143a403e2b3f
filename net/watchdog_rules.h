// The watchdog's verdicts as plain data, so that the rules are tested without threads.
#pragma once

#include <cstdint>

inline constexpr uint64_t kInactivityTimeoutMs = 40000;
inline constexpr uint32_t kWatchdogScanMs = 250;

enum class RequestState : int { Active = 0, TimedOut = 1, Cancelled = 2 };

struct WatchedRequest {
  uint64_t lastActivity = 0;  // ms of waking time at registration or at the end of the last blocking call
  bool inBlockingCall = false;
  bool cancelRequested = false;  // the caller's flag as read during this scan
  RequestState state = RequestState::Active;
};

// One scan step for one entry: the verdict, when there is one now. The owner's wait sees it
// at once; a call left blocked is abandoned, never closed from here (see CallHelper).
inline void ScanWatchedRequest(WatchedRequest& r, uint64_t now) {
  if (r.state != RequestState::Active) return;
  if (r.cancelRequested) {
    r.state = RequestState::Cancelled;
  } else if (now - r.lastActivity > kInactivityTimeoutMs) {
    r.state = RequestState::TimedOut;
  }
}
