// Splits a frame into its static scene and the motion over it. Everything drawn through the
// recorder is kept as a list of commands with a hash of their arguments; Play hands the scene
// to the target as one piece (DrawScene, which a Direct2D canvas keeps as a bitmap while the
// hash stays the same) and then draws the motion over it. Motion that the frame draws under
// parts of the scene is dimmed or left out where those parts (Shade) cover it, so that it can
// come last. Measuring text goes straight to the target.
//
// Each command of the scene also leaves a key (its arguments, and the translation, clips and
// layers around it) and the area of the canvas it may touch. Two scenes' keys tell which part
// of the canvas differs (FrameDamage), and a target that keeps the scene draws only that part
// again, so that a click costs the button's pixels, not the whole scene's. Portable.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "ui/canvas.h"

// The part of the canvas whose pixels may differ between two frames: the union of the areas
// of the commands only one of them draws, within the canvas. Empty (zero width) when both draw
// the same.
RectF FrameDamage(const FrameSignature& before, const FrameSignature& after);

class FrameRecorder : public Canvas {
 public:
  explicit FrameRecorder(Canvas& target) : target_(target) {}

  // The scene, then the motion in the order it was drawn.
  void Play();
  uint64_t SceneHash() const { return hash_; }
  size_t MotionCommands() const { return motion_.size(); }
  // What the scene draws where; complete once Play ran.
  const FrameSignature& SceneSignature() const { return signature_; }

  void Clear(Color color) override;
  void FillRect(const RectF& box, Color color) override;
  void FillRoundedRect(const RectF& box, float radius, Color color) override;
  void StrokeRoundedRect(const RectF& box, float radius, float width, Color color) override;
  void Line(PointF from, PointF to, float width, Color color) override;
  void FillEllipse(PointF centre, float rx, float ry, Color color) override;
  void StrokeEllipse(PointF centre, float rx, float ry, float width, Color color) override;
  void StrokeArc(PointF centre, float radius, float start, float sweep, float width, Color color) override;
  void StrokePolyline(const PointF* points, size_t count, bool closed, float width, Color color) override;
  void FillPolygon(const PointF* points, size_t count, Color color) override;
  void RadialGlow(PointF centre, float rx, float ry, Color color) override;
  void GradientRect(const RectF& box, Color from, Color to, bool vertical) override;
  void PushClip(const RectF& box) override;
  void PopClip() override;
  void PushLayer(float opacity) override;
  void PopLayer() override;
  void SetTranslation(float dx, float dy) override;
  void SoftShadow(const RectF& box, float radius, float blur, float alpha) override;
  void DrawString(const std::wstring& text, const RectF& box, int style, Color color, TextAlign align,
                  TextVAlign valign, bool singleLineEllipsis) override;
  float MeasureText(const std::wstring& text, int style) override { return target_.MeasureText(text, style); }
  void DrawEmblem(int index, const RectF& box, float opacity) override;
  void Segments(const PointF* pairs, size_t pairCount, float width, Color color) override;

  void BeginMotion() override { ++motionDepth_; }
  void EndMotion() override {
    if (motionDepth_ > 0) --motionDepth_;
  }
  void Shade(const RectF& box, float keep) override { shades_.push_back(ShadeRect{box, keep}); }
  void ShadedMotion(const std::function<void(Canvas&, const Shades&)>& draw) override;

 private:
  enum class Kind : uint8_t { Draw, Translate, PushClip, PopClip, PushLayer, PopLayer };
  // A motion command draws with its colours' alpha times `keep`.
  using Draw = std::function<void(Canvas&, float keep)>;
  struct Motion {
    Draw draw;
    Kind kind;
    RectF box;           // Draw: where it draws, dimmed by the shades over its centre
    std::function<void(Canvas&, const Shades&)> shaded;  // set for ShadedMotion
    size_t shadesBefore;  // shades registered earlier lie under it
  };
  struct Op {
    std::function<void(Canvas&)> draw;
    Kind kind;
    RectF box;     // Draw: where it draws; PushClip: the clip; Translate: left, top = dx, dy
    uint64_t key;  // of its arguments
    RectF area{};  // Draw: on the canvas, within its clips (set by Place)
  };

  // Scene: hashes the command and keeps it; motion: keeps it with its box.
  void Add(const RectF& box, Kind kind, Draw draw);
  // The scene's areas and keys.
  void Place();
  void Mix(const void* data, size_t size);
  template <typename T>
  void MixValue(const T& value) {
    Mix(&value, sizeof(value));
  }
  void MixText(const std::wstring& text) { Mix(text.data(), text.size() * sizeof(wchar_t)); }

  static constexpr uint64_t kHashBasis = 14695981039346656037ull;  // FNV-1a

  Canvas& target_;
  std::vector<Op> scene_;
  std::vector<Motion> motion_;
  Shades shades_;
  FrameSignature signature_;
  uint64_t hash_ = kHashBasis;  // the scene's
  uint64_t key_ = kHashBasis;   // the command being recorded
  int motionDepth_ = 0;
};
