#include "ui/frame_recorder.h"

#include <algorithm>
#include <string>
#include <unordered_map>

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
  for (size_t i = 0; i < size; ++i) {
    hash_ = (hash_ ^ bytes[i]) * 1099511628211ull;
    key_ = (key_ ^ bytes[i]) * 1099511628211ull;
  }
}

void FrameRecorder::Add(const RectF& box, Kind kind, Draw draw) {
  const uint64_t key = key_;
  key_ = kHashBasis;
  if (motionDepth_ > 0) {
    motion_.push_back(Motion{std::move(draw), kind, box, nullptr, shades_.size()});
  } else {
    scene_.push_back(Op{[draw = std::move(draw)](Canvas& c) { draw(c, 1); }, kind, box, key});
  }
}

namespace {

RectF Intersect(const RectF& a, const RectF& b) {
  return RectF{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
}

bool Empty(const RectF& r) { return r.right <= r.left || r.bottom <= r.top; }

RectF Union(const RectF& a, const RectF& b) {
  if (Empty(a)) return b;
  if (Empty(b)) return a;
  return RectF{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
               std::max(a.bottom, b.bottom)};
}

uint64_t MixKey(uint64_t key, const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) key = (key ^ bytes[i]) * 1099511628211ull;
  return key;
}

}  // namespace

void FrameRecorder::Place() {
  struct Level {
    RectF clip;        // on the canvas
    uint64_t context;  // the clips and layers in force
  };
  std::vector<Level> levels{Level{RectF{0, 0, kCanvasWidth, kCanvasHeight}, kHashBasis}};
  float dx = 0, dy = 0;
  auto context = [&] {
    const uint64_t c = MixKey(levels.back().context, &dx, sizeof(dx));
    return MixKey(c, &dy, sizeof(dy));
  };
  signature_.clear();
  for (Op& op : scene_) {
    switch (op.kind) {
      case Kind::Translate:
        dx = op.box.left, dy = op.box.top;
        break;
      case Kind::PushClip: {
        const RectF clip{op.box.left + dx, op.box.top + dy, op.box.right + dx, op.box.bottom + dy};
        levels.push_back(Level{Intersect(levels.back().clip, clip), MixKey(context(), &clip, sizeof(clip))});
        break;
      }
      case Kind::PushLayer:
        levels.push_back(Level{levels.back().clip, MixKey(context(), &op.key, sizeof(op.key))});
        break;
      case Kind::PopClip:
      case Kind::PopLayer:
        if (levels.size() > 1) levels.pop_back();
        break;
      case Kind::Draw: {
        // Edges are antialiased half a pixel beyond their geometry, at any scale.
        const RectF moved{op.box.left + dx - 1, op.box.top + dy - 1, op.box.right + dx + 1, op.box.bottom + dy + 1};
        op.area = Intersect(moved, levels.back().clip);
        if (!Empty(op.area)) signature_.push_back(DrawnOp{MixKey(context(), &op.key, sizeof(op.key)), op.area});
        break;
      }
    }
  }
}

void FrameRecorder::Play() {
  Place();
  target_.DrawScene(
      hash_, signature_,
      [this](Canvas& c) {
        for (const Op& op : scene_) op.draw(c);
      },
      [this](Canvas& c, const RectF& area) {
        for (const Op& op : scene_) {
          if (op.kind != Kind::Draw || !Empty(Intersect(op.area, area))) op.draw(c);
        }
      });
  // A shade covers only the motion drawn before it: what is drawn later lies on top.
  Shades over;
  for (const Motion& m : motion_) {
    over.assign(shades_.begin() + static_cast<std::ptrdiff_t>(m.shadesBefore), shades_.end());
    if (m.shaded) {
      m.shaded(target_, over);
    } else if (m.kind != Kind::Draw) {
      m.draw(target_, 1);
    } else {
      const float keep = ShadeKeepAt(over, (m.box.left + m.box.right) / 2, (m.box.top + m.box.bottom) / 2);
      if (keep > 0) m.draw(target_, keep);
    }
  }
}

void FrameRecorder::ShadedMotion(const std::function<void(Canvas&, const Shades&)>& draw) {
  motion_.push_back(Motion{nullptr, Kind::Draw, kUnbounded, draw, shades_.size()});
}

RectF FrameDamage(const FrameSignature& before, const FrameSignature& after) {
  // The same command at the same place in both frames draws the same pixels. The order of
  // commands that do not overlap does not matter, and those that overlap a changed one are
  // drawn again with it.
  std::unordered_map<uint64_t, int> drawn;
  auto id = [](const DrawnOp& op) { return MixKey(op.key, &op.area, sizeof(op.area)); };
  for (const DrawnOp& op : before) ++drawn[id(op)];
  RectF damage{};
  for (const DrawnOp& op : after) {
    auto it = drawn.find(id(op));
    if (it != drawn.end() && it->second > 0) {
      --it->second;
    } else {
      damage = Union(damage, op.area);
    }
  }
  for (const DrawnOp& op : before) {  // what the new frame no longer draws
    auto it = drawn.find(id(op));
    if (it != drawn.end() && it->second > 0) {
      --it->second;
      damage = Union(damage, op.area);
    }
  }
  return Empty(damage) ? RectF{} : Intersect(damage, RectF{0, 0, kCanvasWidth, kCanvasHeight});
}

void FrameRecorder::Clear(Color color) {
  MixValue(kClear), MixValue(color);
  Add(kUnbounded, Kind::Draw, [=](Canvas& c, float keep) { c.Clear(Kept(color, keep)); });
}

void FrameRecorder::FillRect(const RectF& box, Color color) {
  MixValue(kFillRect), MixValue(box), MixValue(color);
  Add(box, Kind::Draw, [=](Canvas& c, float keep) { c.FillRect(box, Kept(color, keep)); });
}

void FrameRecorder::FillRoundedRect(const RectF& box, float radius, Color color) {
  MixValue(kFillRounded), MixValue(box), MixValue(radius), MixValue(color);
  Add(box, Kind::Draw, [=](Canvas& c, float keep) { c.FillRoundedRect(box, radius, Kept(color, keep)); });
}

void FrameRecorder::StrokeRoundedRect(const RectF& box, float radius, float width, Color color) {
  MixValue(kStrokeRounded), MixValue(box), MixValue(radius), MixValue(width), MixValue(color);
  Add(box.Inflated(width / 2), Kind::Draw,
      [=](Canvas& c, float keep) { c.StrokeRoundedRect(box, radius, width, Kept(color, keep)); });
}

void FrameRecorder::Line(PointF from, PointF to, float width, Color color) {
  MixValue(kLine), MixValue(from), MixValue(to), MixValue(width), MixValue(color);
  const PointF ends[] = {from, to};
  Add(Bounds(ends, 2, width), Kind::Draw, [=](Canvas& c, float keep) { c.Line(from, to, width, Kept(color, keep)); });
}

void FrameRecorder::FillEllipse(PointF centre, float rx, float ry, Color color) {
  MixValue(kFillEllipse), MixValue(centre), MixValue(rx), MixValue(ry), MixValue(color);
  Add(Around(centre, rx, ry), Kind::Draw,
      [=](Canvas& c, float keep) { c.FillEllipse(centre, rx, ry, Kept(color, keep)); });
}

void FrameRecorder::StrokeEllipse(PointF centre, float rx, float ry, float width, Color color) {
  MixValue(kStrokeEllipse), MixValue(centre), MixValue(rx), MixValue(ry), MixValue(width), MixValue(color);
  Add(Around(centre, rx, ry).Inflated(width / 2), Kind::Draw,
      [=](Canvas& c, float keep) { c.StrokeEllipse(centre, rx, ry, width, Kept(color, keep)); });
}

void FrameRecorder::StrokeArc(PointF centre, float radius, float start, float sweep, float width, Color color) {
  MixValue(kArc), MixValue(centre), MixValue(radius), MixValue(start), MixValue(sweep), MixValue(width);
  MixValue(color);
  Add(Around(centre, radius, radius).Inflated(width / 2), Kind::Draw,
      [=](Canvas& c, float keep) { c.StrokeArc(centre, radius, start, sweep, width, Kept(color, keep)); });
}

void FrameRecorder::StrokePolyline(const PointF* points, size_t count, bool closed, float width, Color color) {
  MixValue(kPolyline), Mix(points, count * sizeof(PointF)), MixValue(closed), MixValue(width), MixValue(color);
  std::vector<PointF> copy(points, points + count);
  Add(Bounds(points, count, width), Kind::Draw, [=, copy = std::move(copy)](Canvas& c, float keep) {
    c.StrokePolyline(copy.data(), copy.size(), closed, width, Kept(color, keep));
  });
}

void FrameRecorder::FillPolygon(const PointF* points, size_t count, Color color) {
  MixValue(kPolygon), Mix(points, count * sizeof(PointF)), MixValue(color);
  std::vector<PointF> copy(points, points + count);
  Add(Bounds(points, count, 0), Kind::Draw, [=, copy = std::move(copy)](Canvas& c, float keep) {
    c.FillPolygon(copy.data(), copy.size(), Kept(color, keep));
  });
}

void FrameRecorder::Segments(const PointF* pairs, size_t pairCount, float width, Color color) {
  MixValue(kSegments), Mix(pairs, 2 * pairCount * sizeof(PointF)), MixValue(width), MixValue(color);
  std::vector<PointF> copy(pairs, pairs + 2 * pairCount);
  Add(Bounds(pairs, 2 * pairCount, width), Kind::Draw, [=, copy = std::move(copy)](Canvas& c, float keep) {
    c.Segments(copy.data(), copy.size() / 2, width, Kept(color, keep));
  });
}

void FrameRecorder::RadialGlow(PointF centre, float rx, float ry, Color color) {
  MixValue(kGlow), MixValue(centre), MixValue(rx), MixValue(ry), MixValue(color);
  Add(Around(centre, rx, ry), Kind::Draw,
      [=](Canvas& c, float keep) { c.RadialGlow(centre, rx, ry, Kept(color, keep)); });
}

void FrameRecorder::GradientRect(const RectF& box, Color from, Color to, bool vertical) {
  MixValue(kGradient), MixValue(box), MixValue(from), MixValue(to), MixValue(vertical);
  Add(box, Kind::Draw,
      [=](Canvas& c, float keep) { c.GradientRect(box, Kept(from, keep), Kept(to, keep), vertical); });
}

void FrameRecorder::PushClip(const RectF& box) {
  MixValue(kPushClip), MixValue(box);
  Add(box, Kind::PushClip, [=](Canvas& c, float) { c.PushClip(box); });
}

void FrameRecorder::PopClip() {
  MixValue(kPopClip);
  Add(kUnbounded, Kind::PopClip, [](Canvas& c, float) { c.PopClip(); });
}

void FrameRecorder::PushLayer(float opacity) {
  MixValue(kPushLayer), MixValue(opacity);
  Add(kUnbounded, Kind::PushLayer, [=](Canvas& c, float) { c.PushLayer(opacity); });
}

void FrameRecorder::PopLayer() {
  MixValue(kPopLayer);
  Add(kUnbounded, Kind::PopLayer, [](Canvas& c, float) { c.PopLayer(); });
}

void FrameRecorder::SetTranslation(float dx, float dy) {
  MixValue(kTranslation), MixValue(dx), MixValue(dy);
  // Motion drawn later inside a moved panel needs the same offset, so the motion gets it too.
  const uint64_t key = key_;
  key_ = kHashBasis;
  const RectF offset{dx, dy, dx, dy};
  motion_.push_back(
      Motion{[=](Canvas& c, float) { c.SetTranslation(dx, dy); }, Kind::Translate, offset, nullptr, shades_.size()});
  if (motionDepth_ == 0) {
    scene_.push_back(Op{[=](Canvas& c) { c.SetTranslation(dx, dy); }, Kind::Translate, offset, key});
  }
}

void FrameRecorder::SoftShadow(const RectF& box, float radius, float blur, float alpha) {
  MixValue(kShadow), MixValue(box), MixValue(radius), MixValue(blur), MixValue(alpha);
  Add(box.Inflated(blur), Kind::Draw, [=](Canvas& c, float keep) { c.SoftShadow(box, radius, blur, alpha * keep); });
}

void FrameRecorder::DrawString(const std::wstring& text, const RectF& box, int style, Color color, TextAlign align,
                               TextVAlign valign, bool singleLineEllipsis) {
  MixValue(kText), MixText(text), MixValue(box), MixValue(style), MixValue(color), MixValue(align), MixValue(valign);
  MixValue(singleLineEllipsis);
  // Glyphs may reach past the layout box: overhangs, a word too long for its line, lines
  // that do not fit its height.
  const float reach = std::clamp(box.Height(), 8.0f, 48.0f);
  Add(box.Inflated(reach), Kind::Draw, [=](Canvas& c, float keep) {
    c.DrawString(text, box, style, Kept(color, keep), align, valign, singleLineEllipsis);
  });
}

void FrameRecorder::DrawEmblem(int index, const RectF& box, float opacity) {
  MixValue(kEmblem), MixValue(index), MixValue(box), MixValue(opacity);
  Add(box, Kind::Draw, [=](Canvas& c, float keep) { c.DrawEmblem(index, box, opacity * keep); });
}
