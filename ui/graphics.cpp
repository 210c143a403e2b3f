#include "ui/graphics.h"

#include <d2d1helper.h>
#include <dwrite_1.h>

#include <algorithm>
#include <cmath>

#include "base/log.h"
#include "ui/frame_recorder.h"

namespace {

D2D1_COLOR_F ToD2D(Color c) { return D2D1::ColorF(c.r, c.g, c.b, c.a); }
D2D1_RECT_F ToD2D(const RectF& r) { return D2D1::RectF(r.left, r.top, r.right, r.bottom); }
D2D1_POINT_2F ToD2D(PointF p) { return D2D1::Point2F(p.x, p.y); }

bool FamilyInstalled(IDWriteFontCollection* fonts, const std::wstring& name) {
  UINT32 index = 0;
  BOOL exists = FALSE;
  return SUCCEEDED(fonts->FindFamilyName(name.c_str(), &index, &exists)) && exists;
}

std::wstring FamilyName(IDWriteFontCollection* fonts, UINT32 index) {
  ComPtr<IDWriteFontFamily> family;
  ComPtr<IDWriteLocalizedStrings> names;
  if (FAILED(fonts->GetFontFamily(index, &family)) || FAILED(family->GetFamilyNames(&names))) return L"";
  UINT32 at = 0, length = 0;
  BOOL exists = FALSE;
  if (FAILED(names->FindLocaleName(L"en-us", &at, &exists)) || !exists) at = 0;
  if (FAILED(names->GetStringLength(at, &length))) return L"";
  std::wstring name(length + 1, L'\0');
  if (FAILED(names->GetString(at, name.data(), length + 1))) return L"";
  name.resize(length);
  return name;
}

std::wstring MessageFontName() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return L"";
  return metrics.lfMessageFont.lfFaceName;
}

}  // namespace

D2D1_RENDER_TARGET_PROPERTIES TargetProperties(float dpi, D2D1_ALPHA_MODE alpha) {
  return D2D1::RenderTargetProperties(D2D1_RENDER_TARGET_TYPE_DEFAULT,
                                      D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, alpha), dpi, dpi);
}

// ---- Graphics ----------------------------------------------------------------------------

bool Graphics::Init(HMODULE resourceModule) {
  if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, d2d_.GetAddressOf()))) return false;
  if (FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                 reinterpret_cast<IUnknown**>(dwrite_.GetAddressOf())))) {
    return false;
  }
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&wic_)))) {
    return false;
  }
  if (!ChooseFamilies()) return false;
  for (int i = 0; i < theme::kTextStyleCount; ++i) {
    const theme::TextStyle& s = theme::GetTextStyle(i);
    const std::wstring& family = s.family == theme::FontFamilyKind::Display     ? families_.display
                                 : s.family == theme::FontFamilyKind::Condensed ? families_.condensed
                                                                                : families_.body;
    // The hero title is sized for a condensed face; asking for the stretch also finds the
    // narrow member of a fallback family instead of cutting the word off.
    const DWRITE_FONT_STRETCH stretch = s.family == theme::FontFamilyKind::Condensed ? DWRITE_FONT_STRETCH_CONDENSED
                                                                                    : DWRITE_FONT_STRETCH_NORMAL;
    if (FAILED(dwrite_->CreateTextFormat(family.c_str(), nullptr, static_cast<DWRITE_FONT_WEIGHT>(s.weight),
                                         DWRITE_FONT_STYLE_NORMAL, stretch, s.size, L"tr-TR",
                                         &formats_[i]))) {
      return false;
    }
    dwrite_->CreateEllipsisTrimmingSign(formats_[i].Get(), &ellipsis_[i]);
  }
  if (SUCCEEDED(dwrite_->CreateTypography(&tabular_))) {
    tabular_->AddFontFeature(DWRITE_FONT_FEATURE{DWRITE_FONT_FEATURE_TAG_TABULAR_FIGURES, 1});
  }
  LoadEmblems(resourceModule ? resourceModule : GetModuleHandleW(nullptr));
  return true;
}

bool Graphics::ChooseFamilies() {
  ComPtr<IDWriteFontCollection> fonts;
  if (FAILED(dwrite_->GetSystemFontCollection(&fonts, FALSE))) return false;
  const std::wstring any = fonts->GetFontFamilyCount() > 0 ? FamilyName(fonts.Get(), 0) : L"";
  families_ = theme::ChooseFontFamilies(
      [&](const std::wstring& name) { return FamilyInstalled(fonts.Get(), name); }, MessageFontName(), any);
  if (families_.display != L"Bahnschrift" && families_.display != L"Segoe UI") {
    LogLine(L"fonts: named families missing, drawing with " + families_.display);
  }
  return true;
}

void Graphics::LoadEmblems(HMODULE module) {
  for (int i = 0; i < kEmblemCount; ++i) {
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(kFirstEmblemResource + i), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = info ? SizeofResource(module, info) : 0;
    if (!bytes || size == 0) continue;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(wic_->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(bytes)), size)) ||
        FAILED(wic_->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnLoad, &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) || FAILED(wic_->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                     WICBitmapPaletteTypeCustom))) {
      continue;
    }
    // A copy of the pixels, so nothing depends on the resource memory later.
    wic_->CreateBitmapFromSource(converter.Get(), WICBitmapCacheOnLoad, &emblems_[i]);
  }
}

IDWriteTextFormat* Graphics::Format(int style) const {
  if (style < 0 || style >= theme::kTextStyleCount) style = 6;
  return formats_[style].Get();
}

IDWriteInlineObject* Graphics::Ellipsis(int style) const {
  if (style < 0 || style >= theme::kTextStyleCount) style = 6;
  return ellipsis_[style].Get();
}

IWICBitmapSource* Graphics::Emblem(int index) const {
  return index >= 0 && index < kEmblemCount ? emblems_[index].Get() : nullptr;
}

// ---- D2DCanvas ---------------------------------------------------------------------------

D2DCanvas::D2DCanvas(const Graphics& graphics, ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush,
                     TargetBitmaps& bitmaps)
    : graphics_(graphics), target_(target), brush_(brush), bitmaps_(bitmaps) {}

void D2DCanvas::Finish() {
  while (!stack_.empty()) {
    if (stack_.back()) {
      PopLayer();
    } else {
      PopClip();
    }
  }
  target_->SetTransform(D2D1::Matrix3x2F::Identity());
}

ID2D1SolidColorBrush* D2DCanvas::Brush(Color color) {
  brush_->SetColor(ToD2D(color));
  return brush_;
}

void D2DCanvas::Clear(Color color) { target_->Clear(ToD2D(color)); }

void D2DCanvas::FillRect(const RectF& box, Color color) { target_->FillRectangle(ToD2D(box), Brush(color)); }

void D2DCanvas::FillRoundedRect(const RectF& box, float radius, Color color) {
  target_->FillRoundedRectangle(D2D1::RoundedRect(ToD2D(box), radius, radius), Brush(color));
}

void D2DCanvas::StrokeRoundedRect(const RectF& box, float radius, float width, Color color) {
  // Inset by half the width so the outline stays inside the box like a border.
  const RectF inner = box.Inflated(-width / 2);
  const float r = std::max(0.0f, radius - width / 2);
  target_->DrawRoundedRectangle(D2D1::RoundedRect(ToD2D(inner), r, r), Brush(color), width);
}

void D2DCanvas::Line(PointF from, PointF to, float width, Color color) {
  target_->DrawLine(ToD2D(from), ToD2D(to), Brush(color), width);
}

void D2DCanvas::FillEllipse(PointF centre, float rx, float ry, Color color) {
  target_->FillEllipse(D2D1::Ellipse(ToD2D(centre), rx, ry), Brush(color));
}

void D2DCanvas::StrokeEllipse(PointF centre, float rx, float ry, float width, Color color) {
  target_->DrawEllipse(D2D1::Ellipse(ToD2D(centre), rx, ry), Brush(color), width);
}

void D2DCanvas::StrokeArc(PointF centre, float radius, float start, float sweep, float width, Color color) {
  // A polyline rather than an arc segment: fine enough at icon sizes and drawn by every
  // Direct2D implementation.
  constexpr int kSegments = 24;
  PointF points[kSegments + 1];
  for (int i = 0; i <= kSegments; ++i) {
    const float a = start + sweep * i / kSegments;
    points[i] = PointF{centre.x + radius * std::cos(a), centre.y + radius * std::sin(a)};
  }
  StrokePolyline(points, kSegments + 1, false, width, color);
}

ComPtr<ID2D1PathGeometry> D2DCanvas::Path(const PointF* points, size_t count, bool closed, bool filled) {
  ComPtr<ID2D1PathGeometry> path;
  ComPtr<ID2D1GeometrySink> sink;
  if (count < 2 || FAILED(graphics_.D2D()->CreatePathGeometry(&path)) || FAILED(path->Open(&sink))) return nullptr;
  sink->BeginFigure(ToD2D(points[0]), filled ? D2D1_FIGURE_BEGIN_FILLED : D2D1_FIGURE_BEGIN_HOLLOW);
  for (size_t i = 1; i < count; ++i) sink->AddLine(ToD2D(points[i]));
  sink->EndFigure(closed ? D2D1_FIGURE_END_CLOSED : D2D1_FIGURE_END_OPEN);
  if (FAILED(sink->Close())) return nullptr;
  return path;
}

void D2DCanvas::StrokePolyline(const PointF* points, size_t count, bool closed, float width, Color color) {
  if (auto path = Path(points, count, closed, false)) target_->DrawGeometry(path.Get(), Brush(color), width);
}

void D2DCanvas::FillPolygon(const PointF* points, size_t count, Color color) {
  if (auto path = Path(points, count, true, true)) target_->FillGeometry(path.Get(), Brush(color));
}

// Gradients are drawn as small premultiplied ramp bitmaps stretched over the area: one
// blend per pixel keeps the colour exact (many stacked translucent fills drift in 8-bit
// targets), and gradient brushes are not drawn faithfully by every Direct2D implementation.
namespace {

uint32_t Premultiplied(Color c) {
  const float a = std::clamp(c.a, 0.0f, 1.0f);
  auto channel = [&](float v) { return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * a * 255)); };
  return (static_cast<uint32_t>(std::lround(a * 255)) << 24) | (channel(c.r) << 16) | (channel(c.g) << 8) | channel(c.b);
}

uint64_t Quantised(Color c) {
  auto q = [](float v) { return static_cast<uint64_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255)); };
  return (q(c.r) << 24) | (q(c.g) << 16) | (q(c.b) << 8) | q(c.a);
}

constexpr size_t kMaxRamps = 256;  // the scrolling lines use a few dozen

}  // namespace

ID2D1Bitmap* D2DCanvas::Ramp(std::pair<int, uint64_t> key, UINT width, UINT height, const std::vector<uint32_t>& pixels) {
  auto found = bitmaps_.ramps.find(key);
  if (found != bitmaps_.ramps.end()) return found->second.Get();
  if (bitmaps_.ramps.size() >= kMaxRamps) bitmaps_.ramps.clear();
  ComPtr<ID2D1Bitmap> bitmap;
  const D2D1_BITMAP_PROPERTIES properties =
      D2D1::BitmapProperties(D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), 96, 96);
  if (FAILED(target_->CreateBitmap(D2D1::SizeU(width, height), pixels.data(), width * 4, properties, &bitmap))) {
    return nullptr;
  }
  return (bitmaps_.ramps[key] = bitmap).Get();
}

void D2DCanvas::RadialGlow(PointF centre, float rx, float ry, Color color) {
  constexpr UINT kSize = 128;
  // The colour's alpha becomes the draw opacity, so a glow whose alpha animates reuses one ramp.
  const std::pair<int, uint64_t> key{0, Quantised(WithAlpha(color, 1))};
  ID2D1Bitmap* ramp = nullptr;
  auto found = bitmaps_.ramps.find(key);
  if (found != bitmaps_.ramps.end()) {
    ramp = found->second.Get();
  } else {
    std::vector<uint32_t> pixels(kSize * kSize);
    for (UINT y = 0; y < kSize; ++y) {
      for (UINT x = 0; x < kSize; ++x) {
        const float dx = (x + 0.5f) / kSize * 2 - 1, dy = (y + 0.5f) / kSize * 2 - 1;
        const float fade = std::max(0.0f, 1.0f - std::sqrt(dx * dx + dy * dy));
        pixels[y * kSize + x] = Premultiplied(WithAlpha(color, fade));
      }
    }
    ramp = Ramp(key, kSize, kSize, pixels);
  }
  if (!ramp) return;
  target_->DrawBitmap(ramp, D2D1::RectF(centre.x - rx, centre.y - ry, centre.x + rx, centre.y + ry),
                      std::clamp(color.a, 0.0f, 1.0f), D2D1_BITMAP_INTERPOLATION_MODE_LINEAR);
}

void D2DCanvas::GradientRect(const RectF& box, Color from, Color to, bool vertical) {
  if (box.Width() <= 0 || box.Height() <= 0) return;
  constexpr UINT kLength = 256;
  const std::pair<int, uint64_t> key{vertical ? 1 : 2, Quantised(from) << 32 | Quantised(to)};
  ID2D1Bitmap* ramp = nullptr;
  auto found = bitmaps_.ramps.find(key);
  if (found != bitmaps_.ramps.end()) {
    ramp = found->second.Get();
  } else {
    std::vector<uint32_t> pixels(kLength);
    for (UINT i = 0; i < kLength; ++i) pixels[i] = Premultiplied(Mix(from, to, (i + 0.5f) / kLength));
    ramp = vertical ? Ramp(key, 1, kLength, pixels) : Ramp(key, kLength, 1, pixels);
  }
  if (!ramp) return;
  target_->DrawBitmap(ramp, ToD2D(box), 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_LINEAR);
}

void D2DCanvas::PushClip(const RectF& box) {
  target_->PushAxisAlignedClip(ToD2D(box), D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
  stack_.push_back(false);
}

void D2DCanvas::PopClip() {
  if (stack_.empty() || stack_.back()) return;
  target_->PopAxisAlignedClip();
  stack_.pop_back();
}

void D2DCanvas::PushLayer(float opacity) {
  ComPtr<ID2D1Layer> layer;
  if (FAILED(target_->CreateLayer(nullptr, &layer))) layer.Reset();
  if (layer) {
    target_->PushLayer(D2D1::LayerParameters(D2D1::InfiniteRect(), nullptr, D2D1_ANTIALIAS_MODE_PER_PRIMITIVE,
                                             D2D1::IdentityMatrix(), opacity),
                       layer.Get());
  }
  layers_.push_back(layer);
  stack_.push_back(true);
}

void D2DCanvas::PopLayer() {
  if (stack_.empty() || !stack_.back()) return;
  if (layers_.back()) target_->PopLayer();
  layers_.pop_back();
  stack_.pop_back();
}

void D2DCanvas::SetTranslation(float dx, float dy) { target_->SetTransform(D2D1::Matrix3x2F::Translation(dx, dy)); }

void D2DCanvas::SoftShadow(const RectF& box, float radius, float blur, float alpha) {
  // Stacked, growing rounded rectangles with small alphas read as a blurred shadow without
  // effects, which not every Direct2D implementation offers.
  constexpr int kSteps = 12;
  const RectF base{box.left, box.top + blur * 0.25f, box.right, box.bottom + blur * 0.25f};
  for (int i = kSteps; i >= 1; --i) {
    const float f = static_cast<float>(i) / kSteps;
    const float grow = blur * 0.5f * f;
    FillRoundedRect(base.Inflated(grow), radius + grow, Rgb(0, 0, 0, alpha * 2.0f / kSteps * (1.0f - f * 0.85f)));
  }
}

ComPtr<IDWriteTextLayout> D2DCanvas::Layout(const std::wstring& text, int style, float width, float height) {
  ComPtr<IDWriteTextLayout> layout;
  if (FAILED(graphics_.DWrite()->CreateTextLayout(text.c_str(), static_cast<UINT32>(text.size()),
                                                  graphics_.Format(style), std::max(width, 0.0f),
                                                  std::max(height, 0.0f), &layout))) {
    return nullptr;
  }
  const theme::TextStyle& s = theme::GetTextStyle(style);
  const DWRITE_TEXT_RANGE all{0, static_cast<UINT32>(text.size())};
  if (s.letterSpacing != 0) {
    ComPtr<IDWriteTextLayout1> layout1;
    if (SUCCEEDED(layout.As(&layout1))) layout1->SetCharacterSpacing(0, s.letterSpacing, 0, all);
  }
  if (s.tabularFigures && graphics_.TabularFigures()) layout->SetTypography(graphics_.TabularFigures(), all);
  return layout;
}

// Letter spacing is applied once per cluster. Wine's DirectWrite (DejaVu faces) puts a
// precomposed İ, Ö, Ü, Ş, Ğ or Ç into the cluster of the letter before it, so "MERİDİAN"
// would read "M E Rİ Dİ A N". Where the layout has fewer clusters than letters, spaced text is
// set letter by letter instead (theme::SetLetterByLetter); elsewhere (Windows) the layout stays
// whole, with its kerning.
size_t D2DCanvas::ClusterCount(IDWriteTextLayout* layout) {
  UINT32 clusters = 0;
  if (layout) layout->GetClusterMetrics(nullptr, 0, &clusters);
  return clusters;
}

bool D2DCanvas::MeasureWhole(const std::wstring& text, int style, float& width, size_t& clusters) {
  ComPtr<IDWriteTextLayout> layout = Layout(text, style, 100000, 1000);
  DWRITE_TEXT_METRICS metrics{};
  if (!layout || FAILED(layout->GetMetrics(&metrics))) return false;
  // The spacing after the last character is not part of what the eye sees.
  width = std::max(0.0f, metrics.widthIncludingTrailingWhitespace - theme::GetTextStyle(style).letterSpacing);
  clusters = ClusterCount(layout.Get());
  return true;
}

void D2DCanvas::DrawString(const std::wstring& text, const RectF& box, int style, Color color, TextAlign align,
                         TextVAlign valign, bool singleLineEllipsis) {
  if (text.empty()) return;
  ComPtr<IDWriteTextLayout> layout = Layout(text, style, box.Width(), box.Height());
  if (!layout) return;
  layout->SetTextAlignment(align == TextAlign::Center     ? DWRITE_TEXT_ALIGNMENT_CENTER
                           : align == TextAlign::Trailing ? DWRITE_TEXT_ALIGNMENT_TRAILING
                                                          : DWRITE_TEXT_ALIGNMENT_LEADING);
  layout->SetParagraphAlignment(valign == TextVAlign::Center   ? DWRITE_PARAGRAPH_ALIGNMENT_CENTER
                                : valign == TextVAlign::Bottom ? DWRITE_PARAGRAPH_ALIGNMENT_FAR
                                                               : DWRITE_PARAGRAPH_ALIGNMENT_NEAR);
  if (singleLineEllipsis) {
    layout->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
    const DWRITE_TRIMMING trimming{DWRITE_TRIMMING_GRANULARITY_CHARACTER, 0, 0};
    layout->SetTrimming(&trimming, graphics_.Ellipsis(style));
  } else {
    layout->SetWordWrapping(DWRITE_WORD_WRAPPING_WRAP);
  }
  const float spacing = theme::GetTextStyle(style).letterSpacing;
  const std::vector<std::wstring> letters = spacing != 0 ? theme::SplitGraphemes(text) : std::vector<std::wstring>();
  if (theme::SetLetterByLetter(spacing, ClusterCount(layout.Get()), letters.size())) {
    std::vector<float> advances(letters.size(), 0.0f);
    float total = spacing * static_cast<float>(letters.size() - 1);
    for (size_t i = 0; i < letters.size(); ++i) {
      size_t clusters = 0;
      MeasureWhole(letters[i], style, advances[i], clusters);
      total += advances[i];
    }
    float x = align == TextAlign::Center     ? (box.left + box.right - total) / 2
              : align == TextAlign::Trailing ? box.right - total
                                             : box.left;
    for (size_t i = 0; i < letters.size(); ++i) {
      ComPtr<IDWriteTextLayout> one = Layout(letters[i], style, advances[i] + 100, box.Height());
      if (!one) continue;
      one->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
      one->SetParagraphAlignment(valign == TextVAlign::Center   ? DWRITE_PARAGRAPH_ALIGNMENT_CENTER
                                 : valign == TextVAlign::Bottom ? DWRITE_PARAGRAPH_ALIGNMENT_FAR
                                                                : DWRITE_PARAGRAPH_ALIGNMENT_NEAR);
      target_->DrawTextLayout(D2D1::Point2F(x, box.top), one.Get(), Brush(color));
      x += advances[i] + spacing;
    }
    return;
  }
  const float shift = theme::LetterSpacingShift(style, align);
  target_->DrawTextLayout(D2D1::Point2F(box.left + shift, box.top), layout.Get(), Brush(color));
}

float D2DCanvas::MeasureText(const std::wstring& text, int style) {
  if (text.empty()) return 0;
  // Layouts are costly and the same few texts are measured every frame.
  constexpr size_t kMaxWidths = 512;
  const auto key = std::make_pair(style, text);
  if (auto found = bitmaps_.widths.find(key); found != bitmaps_.widths.end()) return found->second;
  if (bitmaps_.widths.size() >= kMaxWidths) bitmaps_.widths.clear();
  return bitmaps_.widths[key] = MeasureNow(text, style);
}

float D2DCanvas::MeasureNow(const std::wstring& text, int style) {
  return theme::SpacedTextWidth(text, theme::GetTextStyle(style).letterSpacing,
                                [this, style](const std::wstring& part, float& width, size_t& clusters) {
                                  return MeasureWhole(part, style, width, clusters);
                                });
}

void D2DCanvas::DrawEmblem(int index, const RectF& box, float opacity) {
  if (index < 0 || index >= kEmblemCount) return;
  if (!bitmaps_.emblemsCreated) {
    bitmaps_.emblemsCreated = true;
    for (int i = 0; i < kEmblemCount; ++i) {
      if (IWICBitmapSource* source = graphics_.Emblem(i)) {
        target_->CreateBitmapFromWicBitmap(source, nullptr, &bitmaps_.emblems[i]);
      }
    }
  }
  ID2D1Bitmap* bitmap = bitmaps_.emblems[index].Get();
  if (!bitmap) return;
  const D2D1_SIZE_U px = bitmap->GetPixelSize();
  if (px.width == 0 || px.height == 0) return;
  const float scale = std::min(box.Width() / px.width, box.Height() / px.height);
  const float w = px.width * scale, h = px.height * scale;
  const float left = (box.left + box.right - w) / 2, top = (box.top + box.bottom - h) / 2;
  target_->DrawBitmap(bitmap, D2D1::RectF(left, top, left + w, top + h), opacity,
                      D2D1_BITMAP_INTERPOLATION_MODE_LINEAR);
}

void D2DCanvas::Segments(const PointF* pairs, size_t pairCount, float width, Color color) {
  if (pairCount == 0) return;
  ComPtr<ID2D1PathGeometry> path;
  ComPtr<ID2D1GeometrySink> sink;
  if (FAILED(graphics_.D2D()->CreatePathGeometry(&path)) || FAILED(path->Open(&sink))) return;
  for (size_t i = 0; i < pairCount; ++i) {
    sink->BeginFigure(ToD2D(pairs[2 * i]), D2D1_FIGURE_BEGIN_HOLLOW);
    sink->AddLine(ToD2D(pairs[2 * i + 1]));
    sink->EndFigure(D2D1_FIGURE_END_OPEN);
  }
  if (SUCCEEDED(sink->Close())) target_->DrawGeometry(path.Get(), Brush(color), width);
}

void D2DCanvas::DrawScene(uint64_t hash, const FrameSignature& ops, const std::function<void(Canvas&)>& replay,
                          const std::function<void(Canvas&, const RectF&)>& within) {
  const D2D1_SIZE_U size = target_->GetPixelSize();
  // A kept scene at another size or DPI has its pixels in other places.
  float dpiX = 96, dpiY = 96, keptDpiX = 96, keptDpiY = 96;
  target_->GetDpi(&dpiX, &dpiY);
  if (bitmaps_.scene) bitmaps_.scene->GetDpi(&keptDpiX, &keptDpiY);
  if (bitmaps_.scene && (bitmaps_.scene->GetPixelSize().width != size.width ||
                         bitmaps_.scene->GetPixelSize().height != size.height || keptDpiX != dpiX ||
                         keptDpiY != dpiY)) {
    bitmaps_.scene.Reset();
    bitmaps_.sceneBrush.Reset();
    bitmaps_.sceneBitmap.Reset();
  }
  if (!bitmaps_.scene) {
    // Without a second target the frame is simply drawn as it comes.
    if (FAILED(target_->CreateCompatibleRenderTarget(&bitmaps_.scene)) ||
        FAILED(bitmaps_.scene->CreateSolidColorBrush(D2D1::ColorF(0, 0, 0, 1), &bitmaps_.sceneBrush))) {
      bitmaps_.scene.Reset();
      replay(*this);
      return;
    }
    bitmaps_.scene->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
  }
  if (!bitmaps_.sceneBitmap || bitmaps_.sceneHash != hash) {
    ID2D1BitmapRenderTarget* scene = bitmaps_.scene.Get();
    // A hover, a press or a changed figure touches a few places of the scene. A software
    // renderer pays for every pixel drawn (a click waited 0.3 s for a scene drawn whole under
    // Wine with llvmpipe), so only those places are drawn again.
    constexpr float kPartShare = 0.5f;
    RectF damage{};
    bool part = bitmaps_.sceneBitmap && within && !bitmaps_.sceneOps.empty() && !ops.empty();
    if (part) {
      damage = FrameDamage(bitmaps_.sceneOps, ops);
      part = damage.Width() * damage.Height() <= kPartShare * kCanvasWidth * kCanvasHeight;
    }
    scene->BeginDraw();
    {
      D2DCanvas inner(graphics_, scene, bitmaps_.sceneBrush.Get(), bitmaps_);
      if (!part) {
        scene->Clear(D2D1::ColorF(0, 0, 0, 0));
        replay(inner);
        inner.Finish();
      } else if (damage.Width() > 0) {
        // Whole pixels and no smoothing: the part's edge must not blend with what lies beside it.
        const float sx = dpiX / 96, sy = dpiY / 96;
        scene->PushAxisAlignedClip(D2D1::RectF(std::floor(damage.left * sx) / sx, std::floor(damage.top * sy) / sy,
                                               std::ceil(damage.right * sx) / sx, std::ceil(damage.bottom * sy) / sy),
                                   D2D1_ANTIALIAS_MODE_ALIASED);
        scene->Clear(D2D1::ColorF(0, 0, 0, 0));
        within(inner, damage);
        inner.Finish();
        scene->PopAxisAlignedClip();
      }
    }
    bitmaps_.sceneBitmap.Reset();
    if (FAILED(scene->EndDraw()) || FAILED(scene->GetBitmap(&bitmaps_.sceneBitmap))) {
      bitmaps_.scene.Reset();
      bitmaps_.sceneBrush.Reset();
      bitmaps_.sceneBitmap.Reset();
      bitmaps_.sceneOps.clear();
      replay(*this);
      return;
    }
    bitmaps_.sceneHash = hash;
    bitmaps_.sceneOps = ops;
    ++(part ? bitmaps_.scenePartsDrawn : bitmaps_.scenesDrawn);
  }
  const D2D1_SIZE_F dips = target_->GetSize();
  target_->DrawBitmap(bitmaps_.sceneBitmap.Get(), D2D1::RectF(0, 0, dips.width, dips.height), 1.0f,
                      D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR);
}
