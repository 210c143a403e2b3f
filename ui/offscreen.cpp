#include "ui/offscreen.h"

#include <d2d1helper.h>

#include <cmath>

bool RenderFrameToPng(const Graphics& graphics, float scale, const std::wstring& path,
                      const std::function<void(Canvas&)>& frame) {
  if (!graphics.D2D() || !graphics.Wic() || !(scale > 0)) return false;
  const UINT width = static_cast<UINT>(std::lround(scale * 1100));
  const UINT height = static_cast<UINT>(std::lround(scale * 660));
  IWICImagingFactory* wic = graphics.Wic();

  ComPtr<IWICBitmap> bitmap;
  ComPtr<ID2D1RenderTarget> target;
  ComPtr<ID2D1SolidColorBrush> brush;
  if (FAILED(wic->CreateBitmap(width, height, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad, &bitmap)) ||
      FAILED(graphics.D2D()->CreateWicBitmapRenderTarget(
          bitmap.Get(), TargetProperties(96.0f * scale, D2D1_ALPHA_MODE_PREMULTIPLIED), &target)) ||
      FAILED(target->CreateSolidColorBrush(D2D1::ColorF(0, 0, 0, 1), &brush))) {
    return false;
  }
  target->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);

  TargetBitmaps bitmaps;
  target->BeginDraw();
  {
    D2DCanvas canvas(graphics, target.Get(), brush.Get(), bitmaps);
    try {
      frame(canvas);
    } catch (...) {
      canvas.Finish();
      target->EndDraw();
      return false;
    }
    canvas.Finish();
  }
  const HRESULT drawn = target->EndDraw();
  bitmaps.Reset();
  if (FAILED(drawn)) return false;

  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> encoded;
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  bool ok = SUCCEEDED(wic->CreateStream(&stream)) &&
            SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
            SUCCEEDED(wic->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
            SUCCEEDED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) &&
            SUCCEEDED(encoder->CreateNewFrame(&encoded, nullptr)) && SUCCEEDED(encoded->Initialize(nullptr)) &&
            SUCCEEDED(encoded->SetSize(width, height)) && SUCCEEDED(encoded->SetPixelFormat(&format)) &&
            SUCCEEDED(encoded->WriteSource(bitmap.Get(), nullptr)) && SUCCEEDED(encoded->Commit()) &&
            SUCCEEDED(encoder->Commit());
  encoded.Reset();
  encoder.Reset();
  stream.Reset();
  if (!ok) DeleteFileW(path.c_str());
  return ok;
}
