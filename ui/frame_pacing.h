// How often the window draws. A frame's price differs a hundredfold between a graphics card
// and a software renderer (a virtual machine, Remote Desktop, a missing driver, Wine without
// GL), so the period follows what recent frames cost: drawing keeps to a share of one core,
// a smaller one while downloads or a game need the processor, and never draws faster than
// 60 (foreground) or 30 (background) frames a second. Portable.
#pragma once

#include <cstddef>

// Whether anybody can see the window.
struct FrameView {
  bool visible = true, minimised = false, cloaked = false;
  bool covered = false;       // other windows cover all of it
  bool sessionShown = true;   // false while the workstation is locked or the session disconnected
  bool displayOn = true;      // false while the console display is off
};

struct PacingInput {
  FrameView view;
  bool foreground = false;
  bool animating = false;  // the last frame moved, or work shows its progress
  bool workRuns = false;   // a game-file or server sync, the GTA installer or a game
};

inline constexpr int kForegroundPeriodMs = 16, kBackgroundPeriodMs = 33;
inline constexpr double kForegroundShare = 0.25, kBackgroundShare = 0.10;  // of one core
// The slowest a window that is seen ever gets: time still moves on it.
inline constexpr int kSlowestPeriodMs = 2000;

bool WindowSeen(const FrameView& view);

// The frame timer's period in ms for frames that cost `meanCostMs` of processor time each;
// 0 means no frames at all.
int FramePeriodMs(const PacingInput& in, double meanCostMs);

// How long input waits for its frame after the last one ended `sinceLastFrameMs` ago: a press
// or a key at once; a mere mouse move once the pause after the last frame is as long as
// that frame took, so that hovering costs at most half a core.
int InputFrameDelayMs(bool pressOrKey, double lastCostMs, double sinceLastFrameMs);

// The last few frames' costs in ms; their mean decides the period.
class FrameCosts {
 public:
  static constexpr size_t kKept = 8;
  void Add(double costMs);
  double Mean() const;
  double Last() const { return count_ == 0 ? 0 : costs_[(next_ + kKept - 1) % kKept]; }
  size_t Count() const { return count_; }

 private:
  double costs_[kKept] = {};
  size_t next_ = 0, count_ = 0;
};
