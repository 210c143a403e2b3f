#include "ui/frame_pacing.h"

#include <algorithm>
#include <cmath>

bool WindowSeen(const FrameView& view) {
  return view.visible && !view.minimised && !view.cloaked && !view.covered && view.sessionShown && view.displayOn;
}

int FramePeriodMs(const PacingInput& in, double meanCostMs) {
  if (!WindowSeen(in.view)) return 0;
  int base = kForegroundPeriodMs;
  if (!in.foreground) {
    if (!in.animating) return 0;  // drawn on input and on the tick only
    base = kBackgroundPeriodMs;
  }
  const double share = in.foreground && !in.workRuns ? kForegroundShare : kBackgroundShare;
  // The pause after a frame is what the share leaves: a frame of cost c every c / share.
  const double wanted = std::max(0.0, meanCostMs) / share - std::max(0.0, meanCostMs);
  const int period = static_cast<int>(std::min<double>(std::ceil(wanted), kSlowestPeriodMs));
  return std::max(base, period);
}

int InputFrameDelayMs(bool pressOrKey, double lastCostMs, double sinceLastFrameMs) {
  if (pressOrKey) return 0;
  const double wait = lastCostMs - sinceLastFrameMs;
  return wait <= 0 ? 0 : static_cast<int>(std::ceil(std::min(wait, static_cast<double>(kSlowestPeriodMs))));
}

double FrameCosts::Add(const FrameSample& frame) {
  double cost = std::max(0.0, frame.wallMs);
  if (frame.uiMs >= 0) {
    if (frame.quiet && frame.processMs >= frame.uiMs) {
      cost = frame.processMs;
      // Older frames weigh less, so that a renderer that changed (a lost device, another
      // monitor) is learnt again within a few frames.
      uiSeen_ = uiSeen_ * 0.75 + frame.uiMs;
      restSeen_ = restSeen_ * 0.75 + (frame.processMs - frame.uiMs);
    } else {
      cost = frame.uiMs * (1 + RendererRatio());
    }
  }
  Keep(cost);
  return cost;
}

void FrameCosts::Keep(double costMs) {
  costs_[next_] = std::max(0.0, costMs);
  next_ = (next_ + 1) % kKept;
  count_ = std::min(count_ + 1, kKept);
}

double FrameCosts::Mean() const {
  if (count_ == 0) return 0;
  double sum = 0;
  for (size_t i = 0; i < count_; ++i) sum += costs_[i];
  return sum / static_cast<double>(count_);
}
