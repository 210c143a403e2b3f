#include "ui/background.h"

#include <algorithm>
#include <array>
#include <cmath>

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

// Rings and a slowly turning octahedron; each edge is drawn as 18 segments lit by depth so
// the shape reads as solid without any bitmap.
void DrawEmblem(Ui& ui, Canvas& c, PointF centre) {
  const float t = static_cast<float>(ui.now);
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
    c.StrokePolyline(points.data(), points.size(), false, 1.2f, WithAlpha(theme::kAccent, 0.16f - ring * 0.035f));
  }

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
      const Color color = WithAlpha(Mix(theme::kPrimary, theme::kAccentLight, light), 0.18f + 0.6f * depth);
      c.Line(PointF{centre.x + p0.x * size, centre.y + p0.y * size}, PointF{centre.x + p1.x * size, centre.y + p1.y * size},
             1.6f, color);
    }
  }
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
  const double phase = ui.now * 0.22 - std::floor(ui.now * 0.22);
  for (int i = 1; i <= 22; ++i) {
    const float d = static_cast<float>(i - phase);
    if (d < 0.6f) continue;
    const float intensity = std::clamp(1.15f - d / 14, 0.0f, 1.0f);
    const float floorY = 300 + 420 / d, ceilingY = 300 - 330 / d;
    if (floorY < 662) c.Line(PointF{0, floorY}, PointF{1100, floorY}, 1, WithAlpha(theme::kAccent, 0.085f * intensity));
    if (ceilingY > -2) c.Line(PointF{0, ceilingY}, PointF{1100, ceilingY}, 1, WithAlpha(theme::kAccent, 0.05f * intensity));
  }
  c.GradientRect(BoxAt(0, 210, 1100, 90), WithAlpha(bg, 0), WithAlpha(bg, 0.7f), true);
  c.GradientRect(BoxAt(0, 300, 1100, 90), WithAlpha(bg, 0.7f), WithAlpha(bg, 0), true);
  c.RadialGlow(PointF{790, 300}, 560, 230, WithAlpha(theme::kPrimary, 0.3f));
  c.Line(PointF{370, 300}, PointF{1210, 300}, 1, WithAlpha(theme::kAccentLight, 0.1f));
  c.RadialGlow(PointF{790, 240}, 250, 170, WithAlpha(theme::kAccent, 0.16f));
  DrawEmblem(ui, c, PointF{790, 318});
  c.GradientRect(BoxAt(0, 0, 720, 660), WithAlpha(bg, 0.96f), WithAlpha(bg, 0), false);
  c.GradientRect(BoxAt(0, 0, 1100, 110), WithAlpha(bg, 0.9f), WithAlpha(bg, 0), true);
  ui.input.animating = true;
}
