// The drawing seam: screens and widgets draw through Canvas, which the Windows build
// implements with Direct2D and DirectWrite. Everything is in DIPs of the 1100 x 660 canvas.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

inline constexpr float kCanvasWidth = 1100, kCanvasHeight = 660;  // DIPs

struct Color {
  float r = 0, g = 0, b = 0, a = 1;  // 0..1
};

// From 0..255 channels, the way the palette is written down.
constexpr Color Rgb(int r, int g, int b, float a = 1.0f) {
  return Color{r / 255.0f, g / 255.0f, b / 255.0f, a};
}
constexpr Color WithAlpha(Color c, float a) { return Color{c.r, c.g, c.b, a}; }
Color Mix(Color from, Color to, float t);

struct PointF {
  float x = 0, y = 0;
};

struct RectF {
  float left = 0, top = 0, right = 0, bottom = 0;
  float Width() const { return right - left; }
  float Height() const { return bottom - top; }
  bool Contains(float x, float y) const { return x >= left && x < right && y >= top && y < bottom; }
  RectF Inflated(float d) const { return RectF{left - d, top - d, right + d, bottom + d}; }
};
inline RectF BoxAt(float x, float y, float w, float h) { return RectF{x, y, x + w, y + h}; }

// Static drawing laid over `box`: `keep` of what is drawn under it shows through (0 nothing).
struct ShadeRect {
  RectF box;
  float keep = 0;
};
using Shades = std::vector<ShadeRect>;

// How much of what lies at (x, y) shows through the shades: 0 when a shade with keep 0 covers it.
inline float ShadeKeepAt(const Shades& shades, float x, float y) {
  float keep = 1;
  for (const ShadeRect& shade : shades) {
    if (shade.box.Contains(x, y)) keep *= shade.keep < 0 ? 0 : shade.keep > 1 ? 1 : shade.keep;
  }
  return keep;
}

// One drawing command as a later frame compares it: what it draws and where.
struct DrawnOp {
  uint64_t key = 0;  // its arguments, and the translation, clips and layers around it
  RectF area;        // canvas DIPs it may touch, within its clips
};
using FrameSignature = std::vector<DrawnOp>;

enum class TextAlign { Leading, Center, Trailing };
enum class TextVAlign { Top, Center, Bottom };

class Canvas {
 public:
  virtual ~Canvas() = default;

  virtual void Clear(Color color) = 0;
  virtual void FillRect(const RectF& box, Color color) = 0;
  virtual void FillRoundedRect(const RectF& box, float radius, Color color) = 0;
  virtual void StrokeRoundedRect(const RectF& box, float radius, float width, Color color) = 0;
  virtual void Line(PointF from, PointF to, float width, Color color) = 0;
  virtual void FillEllipse(PointF centre, float rx, float ry, Color color) = 0;
  virtual void StrokeEllipse(PointF centre, float rx, float ry, float width, Color color) = 0;
  // Angles in radians, clockwise from the positive x axis (y points down).
  virtual void StrokeArc(PointF centre, float radius, float start, float sweep, float width, Color color) = 0;
  virtual void StrokePolyline(const PointF* points, size_t count, bool closed, float width, Color color) = 0;
  virtual void FillPolygon(const PointF* points, size_t count, Color color) = 0;
  // The colour at the centre fades to transparent at the radii.
  virtual void RadialGlow(PointF centre, float rx, float ry, Color color) = 0;
  virtual void GradientRect(const RectF& box, Color from, Color to, bool vertical) = 0;
  virtual void PushClip(const RectF& box) = 0;
  virtual void PopClip() = 0;
  virtual void PushLayer(float opacity) = 0;
  virtual void PopLayer() = 0;
  virtual void SetTranslation(float dx, float dy) = 0;
  virtual void SoftShadow(const RectF& box, float radius, float blur, float alpha) = 0;
  virtual void DrawString(const std::wstring& text, const RectF& box, int style, Color color, TextAlign align,
                        TextVAlign valign, bool singleLineEllipsis) = 0;
  virtual float MeasureText(const std::wstring& text, int style) = 0;
  // Emblem of server card 0..2, fitted and centred in the box; nothing when it is missing.
  virtual void DrawEmblem(int index, const RectF& box, float opacity) = 0;
  // Line segments of one colour, given as pairs of points; one figure where the canvas can.
  virtual void Segments(const PointF* pairs, size_t pairCount, float width, Color color) {
    for (size_t i = 0; i + 1 < 2 * pairCount; i += 2) Line(pairs[i], pairs[i + 1], width, color);
  }

  // A frame is drawn as a static scene with motion over it (FrameRecorder). These default to
  // drawing in place, which is what a canvas without a recorder in front of it sees.
  //
  // The scene: `replay` draws it; a canvas may keep the result and draw that instead for as
  // long as `hash` stays the same. `ops` tell what the scene draws where, and `within` draws
  // only what touches a part of the canvas, so that a kept scene that changed in a few places
  // can be drawn again there alone.
  virtual void DrawScene(uint64_t hash, const FrameSignature& ops, const std::function<void(Canvas&)>& replay,
                         const std::function<void(Canvas&, const RectF&)>& within) {
    (void)hash;
    (void)ops;
    (void)within;
    replay(*this);
  }
  // What is drawn between these moves from frame to frame.
  virtual void BeginMotion() {}
  virtual void EndMotion() {}
  // Scene drawing that covers whatever moves under `box`.
  virtual void Shade(const RectF& box, float keep) {
    (void)box;
    (void)keep;
  }
  // Motion that lies under parts of the scene and places itself against all of the frame's shades.
  virtual void ShadedMotion(const std::function<void(Canvas&, const Shades&)>& draw) { draw(*this, Shades{}); }
};
