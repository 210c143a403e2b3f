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
  std::vector<Fill> fills;    // rectangles and rounded rectangles
  std::vector<Fill> strokes;  // rounded-rectangle outlines
  std::vector<std::wstring> texts;
  int clipDepth = 0, layerDepth = 0, maxClipDepth = 0;
  float textWidth = 40;
  float charWidth = 0;  // when set, a text measures this much per character instead of textWidth

  void Clear(Color) override {}
  void FillRect(const RectF& b, Color c) override { fills.push_back({b, c}); }
  void FillRoundedRect(const RectF& b, float, Color c) override { fills.push_back({b, c}); }
  void StrokeRoundedRect(const RectF& b, float, float, Color c) override { strokes.push_back({b, c}); }
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
  float MeasureText(const std::wstring& t, int) override {
    return charWidth > 0 ? charWidth * static_cast<float>(t.size()) : textWidth;
  }
  void DrawEmblem(int, const RectF&, float) override {}
};
