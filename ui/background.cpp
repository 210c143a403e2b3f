#include "ui/background.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "ui/theme.h"

namespace {

constexpr float kPi = 3.14159265358979f;

struct Vec3 {
  float x, y, z;
};

Vec3 Rotate(Vec3 v, float yaw, float pitch) {
  const float cy = std::cos(yaw), sy = std::sin(yaw);
  Vec3 r{v.x * cy + v.z * sy, v.y, -v.x * sy + v.z * cy};
  const float cp = std::cos(pitch), sp = std::sin(pitch);
  return Vec3{r.x, r.y * cp - r.z * sp, r.y * sp + r.z * cp};
}

// What the left fade (720 wide, 0.96 to 0) and the top fade (110 high, 0.9 to 0) leave of
// anything drawn under them.
float FadeKeepX(float x) { return x < 720 ? 1 - 0.96f * (1 - std::max(x, 0.0f) / 720) : 1; }
float FadeKeepY(float y) { return y < 110 ? 1 - 0.9f * (1 - std::max(y, 0.0f) / 110) : 1; }
// The darkening across the horizon (two gradients of the background colour, 0.7 at y 300).
float HorizonKeep(float y) {
  if (y < 210 || y > 390) return 1;
  return 1 - 0.7f * (y <= 300 ? (y - 210) / 90 : (390 - y) / 90);
}

// One 1-DIP horizontal line of the scrolling grid, drawn over the finished scene: dimmed as the
// fades and the horizon gradients over it would, and cut where the screen covers it.
void ScrollingLine(Canvas& c, float y, float alpha, const Shades& shades) {
  const float vertical = alpha * FadeKeepY(y) * HorizonKeep(y);
  std::vector<float> edges = {0, 720, 1100};
  for (const ShadeRect& shade : shades) {
    if (y < shade.box.top || y >= shade.box.bottom) continue;
    edges.push_back(std::clamp(shade.box.left, 0.0f, 1100.0f));
    edges.push_back(std::clamp(shade.box.right, 0.0f, 1100.0f));
  }
  std::sort(edges.begin(), edges.end());
  for (size_t i = 0; i + 1 < edges.size(); ++i) {
    const float x0 = edges[i], x1 = edges[i + 1];
    if (x1 - x0 < 0.5f) continue;
    const float keep = vertical * ShadeKeepAt(shades, (x0 + x1) / 2, y);
    if (keep <= 0) continue;
    const RectF box{x0, y - 0.5f, x1, y + 0.5f};
    if (x1 <= 720) {
      c.GradientRect(box, WithAlpha(theme::kAccent, keep * FadeKeepX(x0)), WithAlpha(theme::kAccent, keep * FadeKeepX(x1)),
                     false);
    } else {
      c.FillRect(box, WithAlpha(theme::kAccent, keep));
    }
  }
}

void ScrollingLines(Canvas& c, double now, const Shades& shades) {
  const double phase = now * 0.22 - std::floor(now * 0.22);
  for (int i = 1; i <= 22; ++i) {
    const float d = static_cast<float>(i - phase);
    if (d < 0.6f) continue;
    const float intensity = std::clamp(1.15f - d / 14, 0.0f, 1.0f);
    const float floorY = 300 + 420 / d, ceilingY = 300 - 330 / d;
    if (floorY < 662) ScrollingLine(c, floorY, 0.085f * intensity, shades);
    if (ceilingY > -2) ScrollingLine(c, ceilingY, 0.05f * intensity, shades);
  }
}

// Rings and a slowly turning octahedron; each edge is drawn as 18 segments lit by depth so
// the shape reads as solid without any bitmap. Segments of nearly the same colour are drawn
// as one figure, and like the lines the emblem comes after the scene: the fades and what
// covers it are applied to its colours.
void DrawEmblem(Canvas& c, double now, PointF centre, const Shades& shades) {
  const float t = static_cast<float>(now);
  // An opaque panel over the emblem's middle leaves only what lies right of it.
  constexpr float kReach = 150;
  float visibleLeft = centre.x - kReach;
  for (const ShadeRect& shade : shades) {
    if (shade.keep > 0 || !shade.box.Contains(centre.x, centre.y)) continue;
    visibleLeft = std::max(visibleLeft, shade.box.right);
  }
  if (visibleLeft >= centre.x + kReach) return;
  const bool clipped = visibleLeft > centre.x - kReach;
  if (clipped) c.PushClip(RectF{visibleLeft, centre.y - kReach, centre.x + kReach, centre.y + kReach});
  const float keepAtCentre = ShadeKeepAt(shades, std::max(visibleLeft, centre.x), centre.y);

  for (int ring = 0; ring < 3; ++ring) {
    const float radius = 92 + ring * 26;
    const float tilt = 0.35f + ring * 0.22f;
    const float spin = t * (0.25f + ring * 0.12f) * (ring % 2 ? -1.0f : 1.0f);
    std::array<PointF, 49> points;
    for (size_t i = 0; i < points.size(); ++i) {
      const float a = spin + i * 2 * kPi / 48;
      Vec3 p = Rotate(Vec3{std::cos(a) * radius, 0, std::sin(a) * radius}, spin * 0.3f, tilt);
      points[i] = PointF{centre.x + p.x, centre.y + p.y * 0.9f};
    }
    c.StrokePolyline(points.data(), points.size(), false, 1.2f,
                     WithAlpha(theme::kAccent, (0.16f - ring * 0.035f) * keepAtCentre));
  }

  constexpr int kLightLevels = 12, kAlphaLevels = 24;
  std::vector<PointF> buckets[kLightLevels + 1][kAlphaLevels + 1];
  const float size = 58;
  const Vec3 vertices[6] = {{0, -1.25f, 0}, {0, 1.25f, 0}, {1, 0, 0}, {-1, 0, 0}, {0, 0, 1}, {0, 0, -1}};
  const int edges[12][2] = {{0, 2}, {0, 3}, {0, 4}, {0, 5}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {2, 4}, {4, 3}, {3, 5}, {5, 2}};
  const float yaw = t * 0.6f, pitch = 0.32f;
  Vec3 v[6];
  for (int i = 0; i < 6; ++i) v[i] = Rotate(vertices[i], yaw, pitch);
  for (const auto& e : edges) {
    const Vec3 a = v[e[0]], b = v[e[1]];
    for (int s = 0; s < 18; ++s) {
      const float f0 = s / 18.0f, f1 = (s + 1) / 18.0f;
      const Vec3 p0{a.x + (b.x - a.x) * f0, a.y + (b.y - a.y) * f0, a.z + (b.z - a.z) * f0};
      const Vec3 p1{a.x + (b.x - a.x) * f1, a.y + (b.y - a.y) * f1, a.z + (b.z - a.z) * f1};
      const float depth = std::clamp(0.5f - (p0.z + p1.z) * 0.25f, 0.0f, 1.0f);  // nearer is brighter
      const float light = std::clamp(0.55f + 0.45f * (-(p0.x + p1.x) * 0.35f - (p0.y + p1.y) * 0.25f), 0.0f, 1.0f);
      const PointF q0{centre.x + p0.x * size, centre.y + p0.y * size}, q1{centre.x + p1.x * size, centre.y + p1.y * size};
      const float midX = (q0.x + q1.x) / 2, midY = (q0.y + q1.y) / 2;
      const float alpha = (0.18f + 0.6f * depth) * FadeKeepX(midX) * ShadeKeepAt(shades, midX, midY);
      auto& bucket = buckets[std::lround(light * kLightLevels)][std::lround(alpha * kAlphaLevels)];
      bucket.push_back(q0);
      bucket.push_back(q1);
    }
  }
  for (int l = 0; l <= kLightLevels; ++l) {
    for (int a = 1; a <= kAlphaLevels; ++a) {
      const auto& bucket = buckets[l][a];
      if (bucket.empty()) continue;
      const Color color = WithAlpha(Mix(theme::kPrimary, theme::kAccentLight, static_cast<float>(l) / kLightLevels),
                                    static_cast<float>(a) / kAlphaLevels);
      c.Segments(bucket.data(), bucket.size() / 2, 1.6f, color);
    }
  }
  if (clipped) c.PopClip();
}

}  // namespace

void DrawBackground(Ui& ui, Canvas& c) {
  const Color bg = theme::kBackground;
  c.Clear(bg);

  const float vx = 790;
  for (int i = -18; i <= 18; ++i) {
    c.Line(PointF{vx + 118.0f * i, 680}, PointF{vx + 0.08f * 118.0f * i, 328.8f}, 1, WithAlpha(theme::kAccent, 0.075f));
    c.Line(PointF{vx + 118.0f * i, -20}, PointF{vx + 0.08f * 118.0f * i, 276}, 1, WithAlpha(theme::kAccent, 0.045f));
  }
  c.GradientRect(BoxAt(0, 210, 1100, 90), WithAlpha(bg, 0), WithAlpha(bg, 0.7f), true);
  c.GradientRect(BoxAt(0, 300, 1100, 90), WithAlpha(bg, 0.7f), WithAlpha(bg, 0), true);
  c.RadialGlow(PointF{790, 300}, 560, 230, WithAlpha(theme::kPrimary, 0.3f));
  c.Line(PointF{370, 300}, PointF{1210, 300}, 1, WithAlpha(theme::kAccentLight, 0.1f));
  c.RadialGlow(PointF{790, 240}, 250, 170, WithAlpha(theme::kAccent, 0.16f));
  c.GradientRect(BoxAt(0, 0, 720, 660), WithAlpha(bg, 0.96f), WithAlpha(bg, 0), false);
  c.GradientRect(BoxAt(0, 0, 1100, 110), WithAlpha(bg, 0.9f), WithAlpha(bg, 0), true);
  // The scrolling lines and the emblem are the only parts that move; they come last, placed
  // against the fades above and against whatever the screen draws over them.
  const double now = ui.now;
  c.ShadedMotion([now](Canvas& canvas, const Shades& shades) {
    ScrollingLines(canvas, now, shades);
    DrawEmblem(canvas, now, PointF{790, 318}, shades);
  });
  ui.input.animating = true;
}
