// Immediate-mode widgets: ids, the per-frame input record, interaction rules (layers, hot,
// active, activation on release or by keyboard, focus order), and the widgets themselves,
// drawn through Canvas so that all of it runs and is tested without Direct2D.
//
// Sections: ids and input; Ui (frame, mouse, keyboard, interaction); window rules
// (hit area, taskbar calls, window size); widgets and icons.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ui/canvas.h"

using WidgetId = uint32_t;

// FNV-1a of the string id; 0 is kept free for "no widget".
WidgetId MakeWidgetId(std::string_view id);

enum Layer { kLayerBase = 0, kLayerOverlay = 1, kLayerAlways = 2 };

struct FrameInput {
  float mouseX = -10000, mouseY = -10000;  // DIPs
  bool tracking = false;
  bool buttonDown = false, pressedThisFrame = false, releasedThisFrame = false;
  WidgetId active = 0, hot = 0, keyboardActivated = 0, focused = 0;
  bool focusVisible = false;
  int layer = kLayerBase;
  std::vector<WidgetId> focusOrder, newFocusOrder;  // previous frame, frame being drawn
  std::vector<RectF> hitRects, newHitRects;
  bool animating = false;
};

struct Interaction {
  bool takesPart = false, hovered = false, pressed = false, activated = false, focusRing = false;
  float hover = 0;  // animated 0..1
};

class Ui {
 public:
  FrameInput input;
  double now = 0;    // seconds
  double dt = 0;     // clamped frame step
  bool overlayOpen = false;  // set by the owner before drawing; hit testing and Escape read it
  double overlayStart = 0;
  bool shotsMode = false;  // no widget reacts to input

  // Frame steps: BeginFrame(now) computes dt; EndFrame hands this frame's lists over.
  void BeginFrame(double frameTime);
  // A frame with a chosen step, for pictures: a step of 1 s lets every animation settle.
  void BeginFixedFrame(double frameTime, double step);
  void EndFrame();
  void SetLayer(int layer) { input.layer = layer; }

  // Mouse and keyboard events, as the window procedure delivers them.
  void MouseMove(float x, float y) { input.mouseX = x, input.mouseY = y; }
  void MouseLeave();
  void ButtonDown();
  void ButtonUp();
  void Tab(bool backwards);
  void ActivateFocused();  // Enter or Space

  // The common rules of every widget; records the box for hit testing.
  Interaction Interact(WidgetId id, const RectF& box, bool enabled);
  // Eases value toward target; marks the frame animating until it settles.
  void Animate(float& value, float target);
  float& State(WidgetId id) { return states_[id]; }

  bool HasHotWidget() const { return input.hot != 0; }
  // Window rule: true where a press should drag the window.
  bool IsDragArea(float x, float y) const;

 private:
  std::unordered_map<WidgetId, float> states_;
  double previousFrameTime_ = -1;
};

// Which taskbar calls a progress update makes: the state only when it changed (lastState -1
// means nothing sent yet), the values when not both 0 and the state is normal (2), error (4)
// or paused (8).
struct TaskbarCalls {
  bool setState = false, setValue = false;
};
TaskbarCalls DecideTaskbarCalls(int lastState, int state, uint64_t completed, uint64_t total);

// Window size in pixels for a monitor DPI (1100 x 660 DIPs).
void WindowPixelSize(unsigned dpi, int& width, int& height);

// Where the window opens on a monitor and at which DPI it draws: the monitor's DPI when the
// window fits the work area at it, else the largest DPI at which the whole window fits. The
// window is centred in the work area and never starts left of or above it.
struct WindowPlacement {
  unsigned dpi = 96;
  int x = 0, y = 0, width = 0, height = 0;
};
WindowPlacement PlaceWindow(unsigned monitorDpi, int workLeft, int workTop, int workRight, int workBottom);

enum class ButtonStyle { Primary, Outline, Ghost };

bool Button(Ui& ui, Canvas& c, WidgetId id, const RectF& box, const std::wstring& label, ButtonStyle style,
            bool enabled, bool playIcon = false);
bool IconButton(Ui& ui, Canvas& c, WidgetId id, const RectF& box, int iconKind, bool closeStyle);
void FocusRing(Canvas& c, const RectF& box, float radius);
// value <= 0 track only, (0, 1] filled, > 1 indeterminate.
void ProgressBar(Ui& ui, Canvas& c, const RectF& box, float value);
// An overlay opens over this long. Its first frame already shows the first 60th of a second:
// at a few frames a second (a software renderer) a first frame at nought would show nothing.
inline constexpr double kOverlayOpeningSeconds = 0.18, kOverlayFirstStep = 1 / 60.0;
// Draws backdrop, shadow and panel; returns the panel box. Call EndOverlayPanel after the contents.
RectF BeginOverlayPanel(Ui& ui, Canvas& c, float width, float height);
void EndOverlayPanel(Canvas& c);
// Line glyphs 0..11; the spinner (9) keeps the frame animating.
void DrawIcon(Ui& ui, Canvas& c, int kind, PointF centre, float size, Color color);
