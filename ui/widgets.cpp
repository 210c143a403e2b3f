#include "ui/widgets.h"

#include <algorithm>
#include <cmath>

#include "ui/theme.h"

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kTitleBarHeight = 56;
constexpr float kStatusBandTop = 548;

double Fract(double v) { return v - std::floor(v); }

}  // namespace

WidgetId MakeWidgetId(std::string_view id) {
  uint32_t hash = 0x811C9DC5u;
  for (unsigned char ch : id) {
    hash ^= ch;
    hash *= 0x01000193u;
  }
  return hash == 0 ? 1 : hash;
}

// ---- Ui: frame ---------------------------------------------------------------------------

void Ui::BeginFrame(double frameTime) {
  dt = previousFrameTime_ < 0 ? 0 : std::clamp(frameTime - previousFrameTime_, 0.0, 0.1);
  previousFrameTime_ = frameTime;
  now = frameTime;
  input.newFocusOrder.clear();
  input.newHitRects.clear();
  input.hot = 0;
  input.animating = false;
  input.layer = kLayerBase;
}

void Ui::BeginFixedFrame(double frameTime, double step) {
  BeginFrame(frameTime);
  dt = step;
}

void Ui::EndFrame() {
  if (input.focused != 0 &&
      std::find(input.newFocusOrder.begin(), input.newFocusOrder.end(), input.focused) == input.newFocusOrder.end()) {
    input.focused = 0;
  }
  if (input.releasedThisFrame) input.active = 0;
  input.pressedThisFrame = false;
  input.releasedThisFrame = false;
  input.keyboardActivated = 0;
  input.focusOrder.swap(input.newFocusOrder);
  input.hitRects.swap(input.newHitRects);
  input.newFocusOrder.clear();
  input.newHitRects.clear();
}

// ---- Ui: events --------------------------------------------------------------------------

void Ui::MouseLeave() {
  input.tracking = false;
  input.mouseX = input.mouseY = -10000;
}

void Ui::ButtonDown() {
  input.buttonDown = true;
  input.pressedThisFrame = true;
  input.focusVisible = false;
}

void Ui::ButtonUp() {
  input.buttonDown = false;
  input.releasedThisFrame = true;
}

void Ui::Tab(bool backwards) {
  const auto& order = input.focusOrder;
  if (order.empty()) return;
  auto at = std::find(order.begin(), order.end(), input.focused);
  if (at == order.end()) {
    input.focused = backwards ? order.back() : order.front();
  } else {
    size_t index = static_cast<size_t>(at - order.begin());
    index = backwards ? (index + order.size() - 1) % order.size() : (index + 1) % order.size();
    input.focused = order[index];
  }
  input.focusVisible = true;
}

void Ui::ActivateFocused() {
  if (input.focusVisible && input.focused != 0) input.keyboardActivated = input.focused;
}

// ---- Ui: interaction ---------------------------------------------------------------------

Interaction Ui::Interact(WidgetId id, const RectF& box, bool enabled) {
  Interaction r;
  const int layer = input.layer;
  r.takesPart = layer == kLayerAlways || (layer == kLayerOverlay && overlayOpen) || (layer == kLayerBase && !overlayOpen);
  if (r.takesPart) input.newHitRects.push_back(box);
  if (enabled && r.takesPart && !shotsMode) {
    input.newFocusOrder.push_back(id);
    r.hovered = box.Contains(input.mouseX, input.mouseY);
    if (r.hovered) {
      input.hot = id;
      if (input.pressedThisFrame) input.active = id;
    }
    r.pressed = input.buttonDown && input.active == id;
    r.activated = (input.releasedThisFrame && input.active == id && r.hovered) || input.keyboardActivated == id;
    r.focusRing = input.focusVisible && input.focused == id;
  }
  float& hover = states_[id];
  Animate(hover, r.hovered ? 1.0f : 0.0f);
  r.hover = hover;
  return r;
}

void Ui::Animate(float& value, float target) {
  value += static_cast<float>(std::min(1.0, dt * 14)) * (target - value);
  if (std::fabs(target - value) <= 0.003f) {
    value = target;
  } else {
    input.animating = true;
  }
}

bool Ui::IsDragArea(float x, float y) const {
  for (const RectF& r : input.hitRects) {
    if (r.Contains(x, y)) return false;
  }
  return y < kTitleBarHeight || (!overlayOpen && y < kStatusBandTop);
}

// ---- Window rules ------------------------------------------------------------------------

TaskbarCalls DecideTaskbarCalls(int lastState, int state, uint64_t completed, uint64_t total) {
  TaskbarCalls calls;
  calls.setState = state != lastState;
  calls.setValue = (completed != 0 || total != 0) && (state == 2 || state == 4 || state == 8);
  return calls;
}

void WindowPixelSize(unsigned dpi, int& width, int& height) {
  width = static_cast<int>(std::lround(dpi / 96.0 * 1100));
  height = static_cast<int>(std::lround(dpi / 96.0 * 660));
}

WindowPlacement PlaceWindow(unsigned monitorDpi, int workLeft, int workTop, int workRight, int workBottom) {
  WindowPlacement p;
  const long long workWidth = std::max(0, workRight - workLeft), workHeight = std::max(0, workBottom - workTop);
  p.dpi = std::max(1u, monitorDpi);
  if (workWidth > 0 && workHeight > 0) {
    // Largest whole DPI whose size fits; the rounding of WindowPixelSize may still need one less.
    const long long fits = std::min(workWidth * 96 / 1100, workHeight * 96 / 660);
    p.dpi = static_cast<unsigned>(std::max(1LL, std::min<long long>(p.dpi, fits)));
  }
  WindowPixelSize(p.dpi, p.width, p.height);
  const bool known = workWidth > 0 && workHeight > 0;
  while (known && p.dpi > 1 && (p.width > workWidth || p.height > workHeight)) WindowPixelSize(--p.dpi, p.width, p.height);
  p.x = workLeft + static_cast<int>(std::max(0LL, (workWidth - p.width) / 2));
  p.y = workTop + static_cast<int>(std::max(0LL, (workHeight - p.height) / 2));
  return p;
}

// ---- Widgets -----------------------------------------------------------------------------

void FocusRing(Canvas& c, const RectF& box, float radius) {
  // Widgets at the window's edge (minimise, close) keep the whole 2-DIP ring inside it.
  RectF ring = box.Inflated(4);
  ring.left = std::max(ring.left, 1.0f);
  ring.top = std::max(ring.top, 1.0f);
  ring.right = std::min(ring.right, kCanvasWidth - 1);
  ring.bottom = std::min(ring.bottom, kCanvasHeight - 1);
  c.StrokeRoundedRect(ring, radius + 4, 2, theme::kAccent);
}

bool Button(Ui& ui, Canvas& c, WidgetId id, const RectF& box, const std::wstring& label, ButtonStyle style,
            bool enabled, bool playIcon) {
  const Interaction in = ui.Interact(id, box, enabled);
  const float h = in.hover;
  float radius = 10;
  Color labelColor = theme::kTextMuted;
  switch (style) {
    case ButtonStyle::Primary:
      radius = 12;
      if (enabled) {
        const PointF centre{(box.left + box.right) / 2, (box.top + box.bottom) / 2};
        c.RadialGlow(centre, box.Width() / 2 + 28, box.Height() / 2 + 22, WithAlpha(theme::kPrimary, 0.32f + 0.22f * h));
        c.FillRoundedRect(box, radius, Mix(theme::kPrimary, theme::kPrimaryHover, h));
        c.StrokeRoundedRect(box, radius, 1, WithAlpha(theme::kWhite, 0.12f + 0.10f * h));
        labelColor = theme::kWhite;
      } else {
        c.FillRoundedRect(box, radius, theme::kSurfaceRaised);
        c.StrokeRoundedRect(box, radius, 1, theme::kBorder);
      }
      break;
    case ButtonStyle::Outline:
      c.FillRoundedRect(box, radius, Mix(theme::kSurfaceRaised, theme::kSurfaceHigh, h));
      c.StrokeRoundedRect(box, radius, 1, Mix(theme::kBorder, theme::kBorderStrong, h));
      if (enabled) labelColor = theme::kText;
      break;
    case ButtonStyle::Ghost:
      c.FillRoundedRect(box, radius, WithAlpha(theme::kWhite, 0.07f * h));
      if (enabled) labelColor = Mix(theme::kAccent, theme::kAccentLight, h);
      break;
  }
  const int textStyle = box.Height() >= 56 ? 5 : 7;
  if (playIcon) {
    const float iconSize = 16, gap = 12;
    const float labelWidth = c.MeasureText(label, textStyle);
    const float groupLeft = (box.left + box.right - (iconSize + gap + labelWidth)) / 2;
    const float cy = (box.top + box.bottom) / 2;
    DrawIcon(ui, c, 10, PointF{groupLeft + iconSize / 2, cy}, iconSize, labelColor);
    c.DrawString(label, RectF{groupLeft + iconSize + gap, box.top, box.right, box.bottom}, textStyle, labelColor,
               TextAlign::Leading, TextVAlign::Center, true);
  } else {
    c.DrawString(label, box, textStyle, labelColor, TextAlign::Center, TextVAlign::Center, true);
  }
  if (in.focusRing) FocusRing(c, box, radius);
  return in.activated;
}

bool IconButton(Ui& ui, Canvas& c, WidgetId id, const RectF& box, int iconKind, bool closeStyle) {
  const Interaction in = ui.Interact(id, box, true);
  if (closeStyle) {
    c.FillRect(box, WithAlpha(theme::kCloseHover, in.pressed ? 0.75f : in.hover));
  } else {
    c.FillRoundedRect(box, 8, WithAlpha(theme::kWhite, in.pressed ? 0.12f : 0.08f * in.hover));
  }
  const PointF centre{(box.left + box.right) / 2, (box.top + box.bottom) / 2};
  DrawIcon(ui, c, iconKind, centre, 16, Mix(theme::kTextSecondary, theme::kText, in.hover));
  if (in.focusRing) FocusRing(c, box, closeStyle ? 0 : 8);
  return in.activated;
}

void ProgressBar(Ui& ui, Canvas& c, const RectF& box, float value) {
  const float radius = box.Height() / 2;
  c.FillRoundedRect(box, radius, theme::kTrack);
  if (value <= 0) return;
  ui.input.animating = true;
  c.BeginMotion();
  c.PushClip(box);
  if (value <= 1) {
    const float fillWidth = std::max(value * box.Width(), box.Height());
    const RectF fill{box.left, box.top, box.left + fillWidth, box.bottom};
    c.FillRoundedRect(fill, radius, theme::kAccent);
    c.PushClip(fill);
    const float band = 45;
    const float pos = static_cast<float>(Fract(ui.now * 0.5)) * (fillWidth + 2 * band) - 2 * band;
    for (int i = 0; i < 2; ++i) {
      const float x = fill.left + pos + i * band;
      c.GradientRect(RectF{x, box.top, x + band / 2, box.bottom}, WithAlpha(theme::kWhite, 0),
                     WithAlpha(theme::kWhite, 0.38f), false);
      c.GradientRect(RectF{x + band / 2, box.top, x + band, box.bottom}, WithAlpha(theme::kWhite, 0.38f),
                     WithAlpha(theme::kWhite, 0), false);
    }
    c.PopClip();
  } else {
    const float segment = 0.26f * box.Width();
    const float pos = static_cast<float>(Fract(ui.now * 0.75)) * (box.Width() + segment) - segment;
    c.FillRoundedRect(RectF{box.left + pos, box.top, box.left + pos + segment, box.bottom}, radius, theme::kAccent);
  }
  c.PopClip();
  c.EndMotion();
}

RectF BeginOverlayPanel(Ui& ui, Canvas& c, float width, float height) {
  const float t = static_cast<float>(std::clamp((ui.now - ui.overlayStart) / kOverlayOpeningSeconds, 0.0, 1.0));
  const float e = 1 - (1 - t) * (1 - t);
  if (t < 1) ui.input.animating = true;
  c.FillRect(RectF{0, 56, 1100, 660}, Rgb(4, 5, 10, 0.72f * e));
  const float left = (1100 - width) / 2;
  const float top = 56 + (604 - height) / 2 + (1 - e) * 12;
  const RectF panel{left, top, left + width, top + height};
  c.Shade(RectF{0, 56, 1100, 660}, 1 - 0.72f * e);
  // Nothing that moves shows through the panel, not even while it fades in: a turning emblem
  // over half-drawn buttons reads as a fault. The nearest, darkest part of its shadow counts too.
  c.Shade(panel.Inflated(8), 0);
  c.PushLayer(e);
  c.SoftShadow(panel, 18, 44, 0.75f);
  c.FillRoundedRect(panel, 18, theme::kSurface);
  c.PushClip(panel);
  c.RadialGlow(PointF{left + 0.18f * width, top}, 0.55f * width, 120, WithAlpha(theme::kPrimary, 0.22f));
  c.PopClip();
  c.StrokeRoundedRect(panel, 18, 1, theme::kBorder);
  return panel;
}

void EndOverlayPanel(Canvas& c) { c.PopLayer(); }

// ---- Icons -------------------------------------------------------------------------------

void DrawIcon(Ui& ui, Canvas& c, int kind, PointF o, float s, Color color) {
  const double now = ui.now;
  const float w = std::max(1.5f, s * 0.1f);
  auto P = [&](float x, float y) { return PointF{o.x + x * s, o.y + y * s}; };
  auto L = [&](float x0, float y0, float x1, float y1) { c.Line(P(x0, y0), P(x1, y1), w, color); };
  auto Dot = [&](float x, float y) { c.FillEllipse(P(x, y), w * 0.75f, w * 0.75f, color); };
  auto Circle = [&](float r) { c.StrokeEllipse(o, r * s, r * s, w, color); };
  switch (kind) {
    case 0: {
      Circle(0.46f);
      const PointF check[] = {P(-0.2f, 0.01f), P(-0.05f, 0.16f), P(0.22f, -0.14f)};
      c.StrokePolyline(check, 3, false, w, color);
      break;
    }
    case 1: {
      const PointF tri[] = {P(0, -0.42f), P(0.47f, 0.38f), P(-0.47f, 0.38f)};
      c.StrokePolyline(tri, 3, true, w, color);
      L(0, -0.12f, 0, 0.1f);
      Dot(0, 0.24f);
      break;
    }
    case 2:
      Circle(0.46f);
      L(-0.15f, -0.15f, 0.15f, 0.15f);
      L(0.15f, -0.15f, -0.15f, 0.15f);
      break;
    case 3:
      Circle(0.46f);
      L(0, -0.04f, 0, 0.2f);
      Dot(0, -0.19f);
      break;
    case 4: {
      L(0, -0.4f, 0, 0.1f);
      const PointF chevron[] = {P(-0.2f, -0.1f), P(0, 0.1f), P(0.2f, -0.1f)};
      c.StrokePolyline(chevron, 3, false, w, color);
      const PointF tray[] = {P(-0.4f, 0.08f), P(-0.4f, 0.38f), P(0.4f, 0.38f), P(0.4f, 0.08f)};
      c.StrokePolyline(tray, 4, false, w, color);
      break;
    }
    case 5: {
      const PointF folder[] = {P(-0.44f, -0.3f), P(-0.12f, -0.3f), P(-0.02f, -0.18f), P(0.44f, -0.18f),
                               P(0.44f, 0.34f),  P(-0.44f, 0.34f)};
      c.StrokePolyline(folder, 6, true, w, color);
      break;
    }
    case 6:
      Circle(0.28f);
      Circle(0.1f);
      for (int i = 0; i < 8; ++i) {
        const float a = i * kPi / 4;
        L(std::cos(a) * 0.3f, std::sin(a) * 0.3f, std::cos(a) * 0.44f, std::sin(a) * 0.44f);
      }
      break;
    case 7:
      L(-0.32f, -0.32f, 0.32f, 0.32f);
      L(0.32f, -0.32f, -0.32f, 0.32f);
      break;
    case 8:
      L(-0.34f, 0, 0.34f, 0);
      break;
    case 9:
      ui.input.animating = true;
      c.StrokeEllipse(o, 0.42f * s, 0.42f * s, w, WithAlpha(color, color.a * 0.22f));
      c.BeginMotion();
      c.StrokeArc(o, 0.42f * s, static_cast<float>(std::fmod(now * 4.2, 2 * kPi)), kPi * 0.6f, w, color);
      c.EndMotion();
      break;
    case 10: {
      const PointF tri[] = {P(-0.26f, -0.36f), P(0.36f, 0), P(-0.26f, 0.36f)};
      c.FillPolygon(tri, 3, color);
      break;
    }
    case 11:
      L(-0.14f, -0.3f, -0.14f, 0.3f);
      L(0.14f, -0.3f, 0.14f, 0.3f);
      break;
    default:
      break;
  }
}
