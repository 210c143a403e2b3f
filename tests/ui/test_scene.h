// A small scene of every widget kind, for the off-screen renderer and the window while the
// screens do not exist, and for tests that look for its parts at known places.
#pragma once

#include <string>
#include <vector>

#include "ui/canvas.h"
#include "ui/widgets.h"

struct TestScene {
  static constexpr RectF kPlayBox{60, 420, 340, 484};
  static constexpr RectF kOutlineBox{360, 436, 520, 476};
  static constexpr RectF kCloseBox{1054, 0, 1100, 40};
  static constexpr RectF kMinimiseBox{1008, 0, 1054, 40};
  static constexpr RectF kStatusBand{0, 548, 1100, 660};
  static constexpr RectF kOverlayCloseBox{724, 224, 760, 260};
  static constexpr RectF kProgressBox{60, 610, 520, 618};

  bool overlayOpen = false;
  float progress = 0.42f;
  std::vector<std::string> activated;  // string ids of activated widgets, in order

  void Draw(Ui& ui, Canvas& c);
  void OpenOverlay(Ui& ui);
  void CloseOverlay(Ui& ui);
};
