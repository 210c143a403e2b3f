#include "ui/frame_recorder.h"

#include <algorithm>
#include <string>

namespace {

enum Op : uint8_t {
  kClear = 1, kFillRect, kFillRounded, kStrokeRounded, kLine, kFillEllipse, kStrokeEllipse, kArc, kPolyline,
  kPolygon, kGlow, kGradient, kPushClip, kPopClip, kPushLayer, kPopLayer, kTranslation, kShadow, kText, kEmblem,
  kSegments,
};

Color Kept(Color c, float keep) { return WithAlpha(c, c.a * keep); }

RectF Bounds(const PointF* points, size_t count, float pad) {
  RectF box{1e9f, 1e9f, -1e9f, -1e9f};
  for (size_t i = 0; i < count; ++i) {
    box.left = std::min(box.left, points[i].x), box.right = std::max(box.right, points[i].x);
    box.top = std::min(box.top, points[i].y), box.bottom = std::max(box.bottom, points[i].y);
  }
  return box.Inflated(pad);
}

RectF Around(PointF centre, float rx, float ry) { return RectF{centre.x - rx, centre.y - ry, centre.x + rx, centre.y + ry}; }

const RectF kUnbounded{-1e9f, -1e9f, 1e9f, 1e9f};

}  // namespace

void FrameRecorder::Mix(const void* data, size_t size) {
  if (motionDepth_ > 0) return;  // motion is not part of the scene
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) hash_ = (hash_ ^ bytes[i]) * 1099511628211ull;
}

void FrameRecorder::Add(const RectF& box, bool bounded, Draw draw) {
  if (motionDepth_ > 0) {
    motion_.push_back(Motion{std::move(draw), box, bounded, nullptr, shades_.size()});
  } else {
    scene_.push_back([draw = std::move(draw)](Canvas& c) { draw(c, 1); });
  }
}

void FrameRecorder::Play() {
  target_.DrawScene(hash_, [this](Canvas& c) {
    for (const auto& draw : scene_) draw(c);
  });
  // A shade covers only the motion drawn before it: what is drawn later lies on top.
  Shades over;
  for (const Motion& m : motion_) {
    over.assign(shades_.begin() + static_cast<std::ptrdiff_t>(m.shadesBefore), shades_.end());
    if (m.shaded) {
      m.shaded(target_, over);
    } else if (!m.bounded) {
      m.draw(target_, 1);
    } else {
      const float keep = ShadeKeepAt(over, (m.box.left + m.box.right) / 2, (m.box.top + m.box.bottom) / 2);
      if (keep > 0) m.draw(target_, keep);
    }
  }
}

void FrameRecorder::ShadedMotion(const std::function<void(Canvas&, const Shades&)>& draw) {
  motion_.push_back(Motion{nullptr, kUnbounded, false, draw, shades_.size()});
}

void FrameRecorder::Clear(Color color) {
  MixValue(kClear), MixValue(color);
  Add(kUnbounded, true, [=](Canvas& c, float keep) { c.Clear(Kept(color, keep)); });
}

void FrameRecorder::FillRect(const RectF& box, Color color) {
  MixValue(kFillRect), MixValue(box), MixValue(color);
  Add(box, true, [=](Canvas& c, float keep) { c.FillRect(box, Kept(color, keep)); });
}

void FrameRecorder::FillRoundedRect(const RectF& box, float radius, Color color) {
  MixValue(kFillRounded), MixValue(box), MixValue(radius), MixValue(color);
  Add(box, true, [=](Canvas& c, float keep) { c.FillRoundedRect(box, radius, Kept(color, keep)); });
}

void FrameRecorder::StrokeRoundedRect(const RectF& box, float radius, float width, Color color) {
  MixValue(kStrokeRounded), MixValue(box), MixValue(radius), MixValue(width), MixValue(color);
  Add(box, true, [=](Canvas& c, float keep) { c.StrokeRoundedRect(box, radius, width, Kept(color, keep)); });
}

void FrameRecorder::Line(PointF from, PointF to, float width, Color color) {
  MixValue(kLine), MixValue(from), MixValue(to), MixValue(width), MixValue(color);
  const PointF ends[] = {from, to};
  Add(Bounds(ends, 2, width), true, [=](Canvas& c, float keep) { c.Line(from, to, width, Kept(color, keep)); });
}

void FrameRecorder::FillEllipse(PointF centre, float rx, float ry, Color color) {
  MixValue(kFillEllipse), MixValue(centre), MixValue(rx), MixValue(ry), MixValue(color);
  Add(Around(centre, rx, ry), true, [=](Canvas& c, float keep) { c.FillEllipse(centre, rx, ry, Kept(color, keep)); });
}

void FrameRecorder::StrokeEllipse(PointF centre, float rx, float ry, float width, Color color) {
  MixValue(kStrokeEllipse), MixValue(centre), MixValue(rx), MixValue(ry), MixValue(width), MixValue(color);
  Add(Around(centre, rx, ry), true,
      [=](Canvas& c, float keep) { c.StrokeEllipse(centre, rx, ry, width, Kept(color, keep)); });
}

void FrameRecorder::StrokeArc(PointF centre, float radius, float start, float sweep, float width, Color color) {
  MixValue(kArc), MixValue(centre), MixValue(radius), MixValue(start), MixValue(sweep), MixValue(width);
  MixValue(color);
  Add(Around(centre, radius, radius), true,
      [=](Canvas& c, float keep) { c.StrokeArc(centre, radius, start, sweep, width, Kept(color, keep)); });
}

void FrameRecorder::StrokePolyline(const PointF* points, size_t count, bool closed, float width, Color color) {
  MixValue(kPolyline), Mix(points, count * sizeof(PointF)), MixValue(closed), MixValue(width), MixValue(color);
  std::vector<PointF> copy(points, points + count);
  Add(Bounds(points, count, width), true, [=, copy = std::move(copy)](Canvas& c, float keep) {
    c.StrokePolyline(copy.data(), copy.size(), closed, width, Kept(color, keep));
  });
}

void FrameRecorder::FillPolygon(const PointF* points, size_t count, Color color) {
  MixValue(kPolygon), Mix(points, count * sizeof(PointF)), MixValue(color);
  std::vector<PointF> copy(points, points + count);
  Add(Bounds(points, count, 0), true, [=, copy = std::move(copy)](Canvas& c, float keep) {
    c.FillPolygon(copy.data(), copy.size(), Kept(color, keep));
  });
}

void FrameRecorder::Segments(const PointF* pairs, size_t pairCount, float width, Color color) {
  MixValue(kSegments), Mix(pairs, 2 * pairCount * sizeof(PointF)), MixValue(width), MixValue(color);
  std::vector<PointF> copy(pairs, pairs + 2 * pairCount);
  Add(Bounds(pairs, 2 * pairCount, width), true, [=, copy = std::move(copy)](Canvas& c, float keep) {
    c.Segments(copy.data(), copy.size() / 2, width, Kept(color, keep));
  });
}

void FrameRecorder::RadialGlow(PointF centre, float rx, float ry, Color color) {
  MixValue(kGlow), MixValue(centre), MixValue(rx), MixValue(ry), MixValue(color);
  Add(Around(centre, rx, ry), true, [=](Canvas& c, float keep) { c.RadialGlow(centre, rx, ry, Kept(color, keep)); });
}

void FrameRecorder::GradientRect(const RectF& box, Color from, Color to, bool vertical) {
  MixValue(kGradient), MixValue(box), MixValue(from), MixValue(to), MixValue(vertical);
  Add(box, true, [=](Canvas& c, float keep) { c.GradientRect(box, Kept(from, keep), Kept(to, keep), vertical); });
}

void FrameRecorder::PushClip(const RectF& box) {
  MixValue(kPushClip), MixValue(box);
  Add(kUnbounded, false, [=](Canvas& c, float) { c.PushClip(box); });
}

void FrameRecorder::PopClip() {
  MixValue(kPopClip);
  Add(kUnbounded, false, [](Canvas& c, float) { c.PopClip(); });
}

void FrameRecorder::PushLayer(float opacity) {
  MixValue(kPushLayer), MixValue(opacity);
  Add(kUnbounded, false, [=](Canvas& c, float) { c.PushLayer(opacity); });
}

void FrameRecorder::PopLayer() {
  MixValue(kPopLayer);
  Add(kUnbounded, false, [](Canvas& c, float) { c.PopLayer(); });
}

void FrameRecorder::SetTranslation(float dx, float dy) {
  MixValue(kTranslation), MixValue(dx), MixValue(dy);
  // Motion drawn later inside a moved panel needs the same offset, so the motion gets it too.
  motion_.push_back(Motion{[=](Canvas& c, float) { c.SetTranslation(dx, dy); }, kUnbounded, false, nullptr,
                           shades_.size()});
  if (motionDepth_ == 0) scene_.push_back([=](Canvas& c) { c.SetTranslation(dx, dy); });
}

void FrameRecorder::SoftShadow(const RectF& box, float radius, float blur, float alpha) {
  MixValue(kShadow), MixValue(box), MixValue(radius), MixValue(blur), MixValue(alpha);
  Add(box.Inflated(blur), true, [=](Canvas& c, float keep) { c.SoftShadow(box, radius, blur, alpha * keep); });
}

void FrameRecorder::DrawString(const std::wstring& text, const RectF& box, int style, Color color, TextAlign align,
                               TextVAlign valign, bool singleLineEllipsis) {
  MixValue(kText), MixText(text), MixValue(box), MixValue(style), MixValue(color), MixValue(align), MixValue(valign);
  MixValue(singleLineEllipsis);
  Add(box, true, [=](Canvas& c, float keep) {
    c.DrawString(text, box, style, Kept(color, keep), align, valign, singleLineEllipsis);
  });
}

void FrameRecorder::DrawEmblem(int index, const RectF& box, float opacity) {
  MixValue(kEmblem), MixValue(index), MixValue(box), MixValue(opacity);
  Add(box, true, [=](Canvas& c, float keep) { c.DrawEmblem(index, box, opacity * keep); });
}
