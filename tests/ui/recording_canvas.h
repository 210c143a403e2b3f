// A Canvas that draws nothing and remembers what it was asked to draw, for widget tests.
#pragma once

#include <string>
#include <vector>

#include "ui/canvas.h"

struct RecordingCanvas : Canvas {
  struct Fill {
    RectF box;
    Color color;
  };
  std::vector<Fill> fills;  // rectangles and rounded rectangles
  std::vector<std::wstring> texts;
  int clipDepth = 0, layerDepth = 0, maxClipDepth = 0;
  float textWidth = 40;

  void Clear(Color) override {}
  void FillRect(const RectF& b, Color c) override { fills.push_back({b, c}); }
  void FillRoundedRect(const RectF& b, float, Color c) override { fills.push_back({b, c}); }
  void StrokeRoundedRect(const RectF&, float, float, Color) override {}
  void Line(PointF, PointF, float, Color) override {}
  void FillEllipse(PointF, float, float, Color) override {}
  void StrokeEllipse(PointF, float, float, float, Color) override {}
  void StrokeArc(PointF, float, float, float, float, Color) override {}
  void StrokePolyline(const PointF*, size_t, bool, float, Color) override {}
  void FillPolygon(const PointF*, size_t, Color) override {}
  void RadialGlow(PointF, float, float, Color) override {}
  void GradientRect(const RectF&, Color, Color, bool) override {}
  void PushClip(const RectF&) override {
    ++clipDepth;
    if (clipDepth > maxClipDepth) maxClipDepth = clipDepth;
  }
  void PopClip() override { --clipDepth; }
  void PushLayer(float) override { ++layerDepth; }
  void PopLayer() override { --layerDepth; }
  void SetTranslation(float, float) override {}
  void SoftShadow(const RectF&, float, float, float) override {}
  void DrawString(const std::wstring& t, const RectF&, int, Color, TextAlign, TextVAlign, bool) override {
    texts.push_back(t);
  }
  float MeasureText(const std::wstring&, int) override { return textWidth; }
  void DrawEmblem(int, const RectF&, float) override {}
};
