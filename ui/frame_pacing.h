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

// What one frame was seen to cost, in ms.
struct FrameSample {
  double uiMs = -1;       // the UI thread's processor time for the frame; < 0 when unknown
  double processMs = -1;  // the whole process's since the previous frame ended; < 0 when unknown
  double wallMs = 0;      // from the start of drawing to the present's return
  bool quiet = false;     // no worker ran since the previous frame, which ended a moment ago
};

// The last few frames' costs; their mean decides the period. A frame's cost is the UI
// thread's time plus the renderer's own threads. Those threads are not always the
// process's to name (a software GL driver under Wine starts native ones), so they are
// measured as the rest of the process's time while nothing else runs, and while workers run
// estimated from what they added to the UI thread's time before.
class FrameCosts {
 public:
  static constexpr size_t kKept = 8;
  // Records the frame and returns its cost.
  double Add(const FrameSample& frame);
  double Mean() const;
  double Last() const { return count_ == 0 ? 0 : costs_[(next_ + kKept - 1) % kKept]; }
  size_t Count() const { return count_; }
  // The renderer's threads' time per ms of the UI thread's, as last seen while all was quiet.
  double RendererRatio() const { return uiSeen_ > 0 ? restSeen_ / uiSeen_ : 0; }

 private:
  void Keep(double costMs);
  double costs_[kKept] = {};
  size_t next_ = 0, count_ = 0;
  double uiSeen_ = 0, restSeen_ = 0;
};
