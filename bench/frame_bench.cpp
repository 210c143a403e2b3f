// Milliseconds per frame of the launcher's screens, drawn off-screen into a WIC bitmap through
// the same Direct2D canvas, frame model and sample states as `--shots`, with the clock moving
// so that every animation runs. Each frame is a whole BeginDraw .. EndDraw; EndDraw of a WIC
// target hands the pixels over, so a frame is only counted once it has been drawn.
//   frame_bench [frames] [scenario...]   (default 300 frames; scenarios by shot name)
// Two rows first: "clear", a frame that only clears (the floor every frame pays), and
// "background", the animated backdrop alone.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ui/app_model.h"
#include "ui/app_rules.h"
#include "ui/background.h"
#include "ui/graphics.h"
#include "ui/screens.h"
#include "ui/shot_scenarios.h"
#include "ui/theme.h"

namespace {

const wchar_t* const kDefaultScenarios[] = {L"01-setup", L"08-ready",     L"03-downloading",
                                            L"09-running", L"11-settings", L"23-uninstall"};

struct Target {
  ComPtr<IWICBitmap> bitmap;
  ComPtr<ID2D1RenderTarget> target;
  ComPtr<ID2D1SolidColorBrush> brush;
};

bool MakeTarget(const Graphics& graphics, Target& t) {
  return SUCCEEDED(graphics.Wic()->CreateBitmap(1100, 660, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad,
                                                &t.bitmap)) &&
         SUCCEEDED(graphics.D2D()->CreateWicBitmapRenderTarget(
             t.bitmap.Get(), TargetProperties(96.0f, D2D1_ALPHA_MODE_PREMULTIPLIED), &t.target)) &&
         SUCCEEDED(t.target->CreateSolidColorBrush(D2D1::ColorF(0, 0, 0, 1), &t.brush));
}

double ProcessorSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](FILETIME t) { return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7; };
  return seconds(kernel) + seconds(user);
}

double Seconds() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Cost {
  double wall = -1, processor = -1;  // ms per frame
};

// Draws `frames` frames 1/60 s apart: milliseconds per frame of the clock and of the process's
// processor time (its drawing threads included), which a busy machine distorts less. The
// first frames (resources, caches) are left out.
template <typename DrawFn>
Cost Measure(const Graphics& graphics, int frames, DrawFn draw) {
  Target t;
  if (!MakeTarget(graphics, t)) return Cost{};
  t.target->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
  TargetBitmaps bitmaps;
  Ui ui;
  constexpr int kWarmUp = 5;
  double start = 0, processorStart = 0;
  for (int i = 0; i < frames + kWarmUp; ++i) {
    if (i == kWarmUp) start = Seconds(), processorStart = ProcessorSeconds();
    // The first step settles the selection and hover easing, as in the shots.
    ui.BeginFixedFrame(2.4 + i / 60.0, i == 0 ? 1.0 : 1 / 60.0);
    t.target->BeginDraw();
    {
      D2DCanvas canvas(graphics, t.target.Get(), t.brush.Get(), bitmaps);
      draw(ui, canvas);
      canvas.Finish();
    }
    if (FAILED(t.target->EndDraw())) return Cost{};
    ui.EndFrame();
  }
  return Cost{(Seconds() - start) * 1000 / frames, (ProcessorSeconds() - processorStart) * 1000 / frames};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int frames = argc > 1 ? std::max(1, _wtoi(argv[1])) : 300;
  std::vector<std::wstring> wanted;
  for (int i = 2; i < argc; ++i) wanted.push_back(argv[i]);
  if (wanted.empty()) wanted.assign(std::begin(kDefaultScenarios), std::end(kDefaultScenarios));

  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  Graphics graphics;
  if (!graphics.Init()) {
    std::fprintf(stderr, "graphics start-up failed\n");
    return 1;
  }
  std::printf("%-22s %10s %10s\n", "frame", "wall ms", "cpu ms");
  auto report = [](const wchar_t* name, Cost cost) {
    std::printf("%-22ls %10.2f %10.2f\n", name, cost.wall, cost.processor);
    std::fflush(stdout);
  };
  report(L"clear", Measure(graphics, frames, [](Ui&, Canvas& c) { c.Clear(theme::kBackground); }));
  report(L"background", Measure(graphics, frames, [](Ui& ui, Canvas& c) { DrawBackground(ui, c); }));

  size_t count = 0;
  const ShotScenario* shots = ShotScenarios(count);
  int failed = 0;
  for (const std::wstring& name : wanted) {
    const ShotScenario* shot = nullptr;
    for (size_t i = 0; i < count; ++i) {
      if (name == shots[i].name) shot = &shots[i];
    }
    if (!shot) {
      std::fprintf(stderr, "no scenario %ls\n", name.c_str());
      ++failed;
      continue;
    }
    AppState app;
    UiSnapshot snap;
    app.devServer = shot->devServerOnly;
    shot->apply(app, snap);
    std::vector<int32_t> actions;
    const Cost cost = Measure(graphics, frames, [&](Ui& ui, Canvas& c) {
      app.now = ui.now;
      const StatusView status = BuildStatusView(app, snap);
      DrawLauncherFrame(ui, c, FrameModel{app, snap, status, actions});
      actions.clear();
    });
    if (cost.wall < 0) ++failed;
    report(name.c_str(), cost);
  }
  CoUninitialize();
  return failed == 0 ? 0 : 1;
}
