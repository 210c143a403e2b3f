// The launcher's screens drawn through Canvas: background, setup or main screen with the
// server cards and the status bar, the settings and uninstall overlays, the title bar.
// The same function draws the live window and the screenshots. Widgets that are clicked
// append their ActionId to the queue. Portable.
#pragma once

#include <cstdint>
#include <vector>

#include "ui/app_model.h"
#include "ui/canvas.h"
#include "ui/widgets.h"

struct FrameModel {
  const AppState& app;
  const UiSnapshot& snap;
  const StatusView& status;
  std::vector<int32_t>& actions;
};

// One whole frame. Sets ui.overlayOpen from the model before anything takes input.
void DrawLauncherFrame(Ui& ui, Canvas& c, const FrameModel& model);

// Layout boxes that tests and the window's end-to-end test click.
namespace layout {
inline constexpr RectF kStatusPrimary{808, 572, 808 + 236, 572 + 64};
inline constexpr RectF kStatusSecondary{608, 582, 608 + 176, 582 + 44};
inline constexpr RectF kSetupChange{440, 354, 440 + 108, 354 + 40};
inline constexpr RectF kWindowClose{1052, 0, 1100, 44};
inline constexpr RectF kWindowMinimise{1004, 0, 1052, 44};
inline constexpr RectF kSettingsButton{872, 2, 872 + 116, 42};
// Card i of the row on the main screen (three cards, or four with development servers).
RectF ServerCard(int index, bool devServer);
}  // namespace layout
