// Direct2D, DirectWrite and WIC behind Canvas: the factories and text formats made once
// (Graphics), and a Canvas over any Direct2D render target (D2DCanvas).
#pragma once

#include <d2d1.h>
#include <dwrite.h>
#include <wincodec.h>
#include <windows.h>
#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <string>
#include <vector>

#include "ui/canvas.h"
#include "ui/theme.h"

using Microsoft::WRL::ComPtr;

inline constexpr int kEmblemCount = 3;
inline constexpr int kFirstEmblemResource = 201;

class Graphics {
 public:
  // Factories, the ten text formats and the emblems (RCDATA 201..203 of resourceModule;
  // null means the executable). Fails only when a factory or a text format cannot be made.
  bool Init(HMODULE resourceModule = nullptr);

  ID2D1Factory* D2D() const { return d2d_.Get(); }
  IDWriteFactory* DWrite() const { return dwrite_.Get(); }
  IWICImagingFactory* Wic() const { return wic_.Get(); }
  IDWriteTextFormat* Format(int style) const;
  IDWriteTypography* TabularFigures() const { return tabular_.Get(); }
  IDWriteInlineObject* Ellipsis(int style) const;
  IWICBitmapSource* Emblem(int index) const;  // null when its resource is missing
  const theme::FontFamilies& Families() const { return families_; }

 private:
  bool ChooseFamilies();
  void LoadEmblems(HMODULE module);

  ComPtr<ID2D1Factory> d2d_;
  ComPtr<IDWriteFactory> dwrite_;
  ComPtr<IWICImagingFactory> wic_;
  ComPtr<IDWriteTextFormat> formats_[theme::kTextStyleCount];
  ComPtr<IDWriteInlineObject> ellipsis_[theme::kTextStyleCount];
  ComPtr<IDWriteTypography> tabular_;
  ComPtr<IWICBitmap> emblems_[kEmblemCount];
  theme::FontFamilies families_;
};

// Device-dependent resources of one render target: emblems, gradient ramps and the frame's
// static scene as last drawn. All are made on first use and released together with the
// target (a lost device, a new size), so their re-creation lives here and nowhere else.
struct TargetBitmaps {
  ComPtr<ID2D1Bitmap> emblems[kEmblemCount];
  bool emblemsCreated = false;
  std::map<std::pair<int, uint64_t>, ComPtr<ID2D1Bitmap>> ramps;  // (kind, colours)
  ComPtr<ID2D1BitmapRenderTarget> scene;  // same size and DPI as the target
  ComPtr<ID2D1SolidColorBrush> sceneBrush;
  ComPtr<ID2D1Bitmap> sceneBitmap;  // null until a scene was drawn
  uint64_t sceneHash = 0;
  FrameSignature sceneOps;       // what the kept scene draws where; empty when unknown
  uint64_t scenesDrawn = 0;      // how often the scene had to be drawn again whole
  uint64_t scenePartsDrawn = 0;  // and how often only where it changed
  std::map<std::pair<int, std::wstring>, float> widths;  // measured texts (style, text)
  void Reset() {
    for (auto& b : emblems) b.Reset();
    emblemsCreated = false;
    ramps.clear();
    sceneBitmap.Reset();
    sceneBrush.Reset();
    scene.Reset();
    sceneOps.clear();
    widths.clear();
  }
};

// Draws one frame on a render target between its BeginDraw and EndDraw.
class D2DCanvas : public Canvas {
 public:
  D2DCanvas(const Graphics& graphics, ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, TargetBitmaps& bitmaps);
  // Pops clips and layers the frame left pushed; call before EndDraw.
  void Finish();

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
  void DrawString(const std::wstring& text, const RectF& box, int style, Color color, TextAlign align, TextVAlign valign,
                bool singleLineEllipsis) override;
  float MeasureText(const std::wstring& text, int style) override;
  void DrawEmblem(int index, const RectF& box, float opacity) override;
  void Segments(const PointF* pairs, size_t pairCount, float width, Color color) override;
  // The scene is drawn into a bitmap of the target's size when its hash changed (again only
  // where it changed, when that is known and small), and that bitmap is drawn pixel for pixel.
  void DrawScene(uint64_t hash, const FrameSignature& ops, const std::function<void(Canvas&)>& replay,
                 const std::function<void(Canvas&, const RectF&)>& within) override;

 private:
  ID2D1SolidColorBrush* Brush(Color color);
  ComPtr<ID2D1PathGeometry> Path(const PointF* points, size_t count, bool closed, bool filled);
  float MeasureNow(const std::wstring& text, int style);
  static size_t ClusterCount(IDWriteTextLayout* layout);  // 0 for none or a failed layout
  bool MeasureWhole(const std::wstring& text, int style, float& width, size_t& clusters);
  ComPtr<IDWriteTextLayout> Layout(const std::wstring& text, int style, float width, float height);
  ID2D1Bitmap* Ramp(std::pair<int, uint64_t> key, UINT width, UINT height, const std::vector<uint32_t>& pixels);

  const Graphics& graphics_;
  ID2D1RenderTarget* target_;
  ID2D1SolidColorBrush* brush_;
  TargetBitmaps& bitmaps_;
  // Clip (false) and layer (true) pushes in order, so Finish can undo them.
  std::vector<bool> stack_;
  std::vector<ComPtr<ID2D1Layer>> layers_;
};

// Render-target set-up shared by the window and the off-screen renderer.
D2D1_RENDER_TARGET_PROPERTIES TargetProperties(float dpi, D2D1_ALPHA_MODE alpha);
