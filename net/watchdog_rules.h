// The watchdog's verdicts as plain data, so that the rules are tested without threads.
#pragma once

#include <cstdint>

inline constexpr uint64_t kInactivityTimeoutMs = 40000;
inline constexpr uint32_t kWatchdogScanMs = 250;

enum class RequestState : int { Active = 0, TimedOut = 1, Cancelled = 2 };

struct WatchedRequest {
  uint64_t lastActivity = 0;  // tick count at registration or at the end of the last blocking call
  bool inBlockingCall = false;
  bool closedByWatchdog = false;
  bool cancelRequested = false;  // the caller's flag as read during this scan
  RequestState state = RequestState::Active;
};

// One scan step for one entry. Returns true when the watchdog must close the handle now.
inline bool ScanWatchedRequest(WatchedRequest& r, uint64_t now) {
  if (r.state == RequestState::Active) {
    if (r.cancelRequested) {
      r.state = RequestState::Cancelled;
    } else if (now - r.lastActivity > kInactivityTimeoutMs) {
      r.state = RequestState::TimedOut;
    }
  }
  // A verdict reached in this scan closes a blocked call in the same scan.
  if (r.state != RequestState::Active && r.inBlockingCall && !r.closedByWatchdog) {
    r.closedByWatchdog = true;
    return true;
  }
  return false;
}
