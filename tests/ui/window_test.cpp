// The drawing stack under Wine: the off-screen renderer, the real window on the Xvfb
// display, its messages, and the forwarded-link hand-over from a second launcher.
#include <windows.h>

#include <gtest/gtest.h>
#include <wincodec.h>
#include <wrl/client.h>
#include <wtsapi32.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "launcher/single_instance.h"
#include "tests/support/test_support.h"
#include "tests/ui/test_scene.h"
#include "ui/frame_recorder.h"
#include "ui/graphics.h"
#include "ui/offscreen.h"
#include "ui/theme.h"
#include "ui/window.h"

using Microsoft::WRL::ComPtr;
using testing_support::TempDir;

namespace {

struct Pixel {
  int r = 0, g = 0, b = 0;
};

bool Near(Pixel p, Color c, int tolerance) {
  return std::abs(p.r - static_cast<int>(std::lround(c.r * 255))) <= tolerance &&
         std::abs(p.g - static_cast<int>(std::lround(c.g * 255))) <= tolerance &&
         std::abs(p.b - static_cast<int>(std::lround(c.b * 255))) <= tolerance;
}

std::string Describe(Pixel p) {
  return "(" + std::to_string(p.r) + ", " + std::to_string(p.g) + ", " + std::to_string(p.b) + ")";
}

// Pixels of an image, top-down BGRA rows.
struct Image {
  int width = 0, height = 0;
  std::vector<BYTE> bgra;
  Pixel At(int x, int y) const {
    const BYTE* p = &bgra[(static_cast<size_t>(y) * width + x) * 4];
    return Pixel{p[2], p[1], p[0]};
  }
  // How many pixels of the box are brighter than a level in every channel.
  int BrightPixels(RECT box, int level) const {
    int count = 0;
    for (int y = box.top; y < box.bottom; ++y) {
      for (int x = box.left; x < box.right; ++x) {
        const Pixel p = At(x, y);
        if (p.r > level && p.g > level && p.b > level) ++count;
      }
    }
    return count;
  }
};

// Shared graphics for the whole program: COM, factories, fonts and the launcher's emblems.
class Drawing : public ::testing::Test {
 public:
  // The factories, and with them the renderer's device and threads, go before the process
  // ends: torn down by the exit instead, Wine's GL renderer now and then crashed the program
  // after every test had passed.
  static void Release() {
    if (!graphics_) return;
    delete graphics_;
    graphics_ = nullptr;
    if (resources_) FreeLibrary(resources_);
    resources_ = nullptr;
    CoUninitialize();
  }

 protected:
  static void SetUpTestSuite() {
    if (graphics_) return;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // The emblems live in the launcher executable; this program has no resources of its own.
    resources_ = LoadLibraryExW(testing_support::LauncherExePath().c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    graphics_ = new Graphics;
    ready_ = graphics_->Init(resources_);
  }
  void SetUp() override { ASSERT_TRUE(ready_) << "graphics start-up failed"; }

  static Image DecodePng(const std::wstring& path) {
    Image image;
    IWICImagingFactory* wic = graphics_->Wic();
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(wic->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnLoad,
                                              &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) || FAILED(wic->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                     WICBitmapPaletteTypeCustom))) {
      return image;
    }
    UINT w = 0, h = 0;
    converter->GetSize(&w, &h);
    image.width = static_cast<int>(w);
    image.height = static_cast<int>(h);
    image.bgra.resize(static_cast<size_t>(w) * h * 4);
    if (FAILED(converter->CopyPixels(nullptr, w * 4, static_cast<UINT>(image.bgra.size()), image.bgra.data()))) {
      image = Image{};
    }
    return image;
  }

  static Graphics* graphics_;
  static HMODULE resources_;
  static bool ready_;
};
Graphics* Drawing::graphics_ = nullptr;
HMODULE Drawing::resources_ = nullptr;
bool Drawing::ready_ = false;

struct ReleaseGraphics : ::testing::Environment {
  void TearDown() override { Drawing::Release(); }
};
::testing::Environment* const g_releaseGraphics = ::testing::AddGlobalTestEnvironment(new ReleaseGraphics);

// One frame of the test scene at a fixed time, as the screenshot mode draws screens: the
// static scene through a bitmap of its own, the motion over it.
std::function<void(Canvas&)> SceneFrame(TestScene& scene, Ui& ui) {
  return [&scene, &ui](Canvas& c) {
    ui.BeginFixedFrame(2.4, 1.0);
    FrameRecorder recorder(c);
    scene.Draw(ui, recorder);
    recorder.Play();
    ui.EndFrame();
  };
}

TEST_F(Drawing, OffScreenFrameIsA1100x660PngWithTheSceneInPlace) {
  ASSERT_NE(resources_, nullptr) << "launcher executable not built";
  TempDir dir;
  const std::wstring path = dir.Join(L"scene.png");
  TestScene scene;
  Ui ui;
  ui.shotsMode = true;
  ASSERT_TRUE(RenderFrameToPng(*graphics_, 1.0f, path, SceneFrame(scene, ui)));
  const Image image = DecodePng(path);
  ASSERT_EQ(image.width, 1100);
  ASSERT_EQ(image.height, 660);

  // Background in the status band's left corner, under the 0.88 band of the same colour.
  EXPECT_TRUE(Near(image.At(8, 650), theme::kBackground, 3)) << Describe(image.At(8, 650));
  // The primary button's fill just inside its top-left corner.
  const RectF play = TestScene::kPlayBox;
  const Pixel inPlay = image.At(static_cast<int>(play.left) + 16, static_cast<int>(play.top) + 8);
  EXPECT_TRUE(Near(inPlay, theme::kPrimary, 4)) << Describe(inPlay);
  // The progress track and its accent fill (42 %), sampled where the sweeping bands are not.
  const RectF bar = TestScene::kProgressBox;
  const Pixel track = image.At(static_cast<int>(bar.right) - 20, 614);
  EXPECT_TRUE(Near(track, theme::kTrack, 4)) << Describe(track);
  // Text really drew: the white heading and the button label have bright pixels.
  EXPECT_GT(image.BrightPixels(RECT{60, 150, 700, 260}, 200), 500) << "heading text missing (fonts?)";
  EXPECT_GT(image.BrightPixels(RECT{60, 420, 340, 484}, 200), 30) << "button label missing";
  // Emblems decoded from the resources show inside the first card (which is a flat surface otherwise).
  int emblemPixels = 0;
  for (int y = 320; y < 396; ++y) {
    for (int x = 70; x < 186; ++x) {
      if (!Near(image.At(x, y), theme::kSurface, 12)) ++emblemPixels;
    }
  }
  EXPECT_GT(emblemPixels, 300) << "emblem 201 not drawn";
}

TEST_F(Drawing, OffScreenScaleSetsThePixelSizeAndBadPathsFail) {
  TempDir dir;
  TestScene scene;
  Ui ui;
  ASSERT_TRUE(RenderFrameToPng(*graphics_, 1.5f, dir.Join(L"big.png"), SceneFrame(scene, ui)));
  const Image image = DecodePng(dir.Join(L"big.png"));
  EXPECT_EQ(image.width, 1650);
  EXPECT_EQ(image.height, 990);
  // The button scaled with the frame: its fill is at 1.5 times the DIP position.
  const Pixel inPlay = image.At(static_cast<int>(TestScene::kPlayBox.left * 1.5f) + 24,
                                static_cast<int>(TestScene::kPlayBox.top * 1.5f) + 12);
  EXPECT_TRUE(Near(inPlay, theme::kPrimary, 4)) << Describe(inPlay);

  EXPECT_FALSE(RenderFrameToPng(*graphics_, 1.0f, dir.Join(L"missing\\folder\\x.png"), SceneFrame(scene, ui)));
  EXPECT_FALSE(RenderFrameToPng(*graphics_, 0.0f, dir.Join(L"zero.png"), SceneFrame(scene, ui)));
}

TEST_F(Drawing, OffScreenFramePopsWhatTheFrameLeftPushed) {
  TempDir dir;
  ASSERT_TRUE(RenderFrameToPng(*graphics_, 1.0f, dir.Join(L"unbalanced.png"), [](Canvas& c) {
    c.Clear(theme::kBackground);
    c.PushLayer(1.0f);
    c.PushClip(RectF{0, 0, 100, 100});
    c.FillRect(RectF{0, 0, 1100, 660}, theme::kRed);
    c.PushLayer(1.0f);
  }));
  const Image image = DecodePng(dir.Join(L"unbalanced.png"));
  ASSERT_EQ(image.width, 1100);
  EXPECT_TRUE(Near(image.At(50, 50), theme::kRed, 1)) << Describe(image.At(50, 50));
  EXPECT_TRUE(Near(image.At(500, 500), theme::kBackground, 1)) << "the clip held";
}

// The scene is kept as a bitmap: motion alone never draws it again, a hover draws again only
// the part it changed (and gives the pixels of the scene drawn whole), an opened panel all of it.
TEST_F(Drawing, TheSceneIsDrawnAgainOnlyWhereItChanged) {
  ComPtr<IWICBitmap> bitmap;
  ComPtr<ID2D1RenderTarget> target;
  ComPtr<ID2D1SolidColorBrush> brush;
  ASSERT_TRUE(SUCCEEDED(graphics_->Wic()->CreateBitmap(1100, 660, GUID_WICPixelFormat32bppPBGRA,
                                                       WICBitmapCacheOnLoad, &bitmap)));
  ASSERT_TRUE(SUCCEEDED(graphics_->D2D()->CreateWicBitmapRenderTarget(
      bitmap.Get(), TargetProperties(96, D2D1_ALPHA_MODE_PREMULTIPLIED), &target)));
  ASSERT_TRUE(SUCCEEDED(target->CreateSolidColorBrush(D2D1::ColorF(0, 0, 0, 1), &brush)));
  TargetBitmaps bitmaps;
  TestScene scene;
  Ui ui;
  // A step of a second settles every animation within the frame: a frame drawn again at the
  // same time shows the same.
  auto frame = [&](double time, std::vector<BYTE>* pixels = nullptr) {
    target->BeginDraw();
    D2DCanvas canvas(*graphics_, target.Get(), brush.Get(), bitmaps);
    ui.BeginFixedFrame(time, 1.0);
    FrameRecorder recorder(canvas);
    scene.Draw(ui, recorder);
    recorder.Play();
    ui.EndFrame();
    canvas.Finish();
    if (FAILED(target->EndDraw())) return false;
    if (!pixels) return true;
    pixels->assign(1100 * 660 * 4, 0);
    return SUCCEEDED(bitmap->CopyPixels(nullptr, 1100 * 4, static_cast<UINT>(pixels->size()), pixels->data()));
  };
  for (double t : {3.0, 3.5, 4.25, 7.0}) ASSERT_TRUE(frame(t));
  EXPECT_EQ(bitmaps.scenesDrawn, 1u) << "the background's motion redrew the scene";
  EXPECT_EQ(bitmaps.scenePartsDrawn, 0u);

  ui.MouseMove((TestScene::kOutlineBox.left + TestScene::kOutlineBox.right) / 2, TestScene::kOutlineBox.top + 4);
  std::vector<BYTE> part, whole;
  ASSERT_TRUE(frame(7.0, &part));
  EXPECT_EQ(bitmaps.scenesDrawn, 1u);
  EXPECT_EQ(bitmaps.scenePartsDrawn, 1u) << "the hover drew the scene again in part";
  bitmaps.Reset();  // as after a lost device: the scene is drawn whole
  ASSERT_TRUE(frame(7.0, &whole));
  ASSERT_EQ(bitmaps.scenesDrawn, 2u);
  size_t differ = 0, first = 0;
  for (size_t i = 0; i < part.size(); ++i) {
    if (std::abs(part[i] - whole[i]) > 2 && differ++ == 0) first = i / 4;
  }
  EXPECT_EQ(differ, 0u) << "first at x " << first % 1100 << ", y " << first / 1100;

  scene.OpenOverlay(ui);
  ASSERT_TRUE(frame(7.5));
  EXPECT_EQ(bitmaps.scenesDrawn, 3u) << "the opened panel drew the scene again";
}

// Spaced capitals keep one spacing per letter: a dotted İ or an Ü takes the room of I or U.
// (Wine's DirectWrite joins such a letter to the cluster before it; spacing is per cluster.)
TEST_F(Drawing, SpacedTurkishCapitalsTakeTheRoomOfTheirPlainLetters) {
  TempDir dir;
  ASSERT_TRUE(RenderFrameToPng(*graphics_, 1.0f, dir.Join(L"letters.png"), [](Canvas& c) {
    for (int style : {0, 3}) {
      EXPECT_NEAR(c.MeasureText(L"MERİDİAN", style), c.MeasureText(L"MERIDIAN", style), 0.05) << style;
      EXPECT_NEAR(c.MeasureText(L"SÜRÜMÜ", style), c.MeasureText(L"SURUMU", style), 0.05) << style;
      // Graphemes DirectWrite may merge or leave without a cluster are measured and drawn whole.
      for (const wchar_t* single : {L"İ", L"I\u0307", L"e\u0301\u0308", L"\U0001F600", L"\U0001F44D\U0001F3FD"}) {
        const float width = c.MeasureText(single, style);
        EXPECT_TRUE(width >= 0 && width < 200) << style;
        c.DrawString(single, RectF{0, 0, 300, 60}, style, theme::kText, TextAlign::Center, TextVAlign::Center, true);
      }
    }
  }));
}

TEST_F(Drawing, FontsFallBackToAnInstalledFamily) {
  ComPtr<IDWriteFontCollection> fonts;
  ASSERT_TRUE(SUCCEEDED(graphics_->DWrite()->GetSystemFontCollection(&fonts, FALSE)));
  for (const std::wstring& family : {graphics_->Families().display, graphics_->Families().condensed,
                                     graphics_->Families().body}) {
    UINT32 index = 0;
    BOOL exists = FALSE;
    fonts->FindFamilyName(family.c_str(), &index, &exists);
    EXPECT_TRUE(exists) << "family not installed: " << std::string(family.begin(), family.end());
  }
}

// ---- Forwarded links ---------------------------------------------------------------------

TEST(ForwardedLink, AcceptsOnlyTaggedNonEmptyEvenPayloadsUpTo2048Bytes) {
  std::wstring buffer(1100, L'x');
  COPYDATASTRUCT data{kLinkCopyDataMagic, 0, buffer.data()};
  std::wstring link = L"untouched";
  auto read = [&](DWORD bytes) {
    data.cbData = bytes;
    link = L"untouched";
    return ReadForwardedLink(&data, link);
  };
  EXPECT_FALSE(read(0));
  EXPECT_FALSE(read(7));
  EXPECT_FALSE(read(2050));
  EXPECT_FALSE(read(2049));
  EXPECT_EQ(link, L"untouched");
  ASSERT_TRUE(read(2048));
  EXPECT_EQ(link, std::wstring(1024, L'x')) << "the whole payload, no terminator needed";
  ASSERT_TRUE(read(2));
  EXPECT_EQ(link, L"x");

  data.dwData = kLinkCopyDataMagic + 1;
  EXPECT_FALSE(read(8));
  data.dwData = kLinkCopyDataMagic;
  data.lpData = nullptr;
  EXPECT_FALSE(read(8));
  EXPECT_FALSE(ReadForwardedLink(nullptr, link));

  std::wstring inner = L"talvoreen://main";
  inner += L'\0';
  inner += L"junk";
  data.lpData = inner.data();
  ASSERT_TRUE(read(static_cast<DWORD>(inner.size() * 2)));
  EXPECT_EQ(link, L"talvoreen://main");
}

// ---- The real window ---------------------------------------------------------------------

// Serves this thread's messages until the condition holds; the bound only keeps a broken
// build from hanging the run.
bool PumpUntil(const std::function<bool()>& done, DWORD boundMs = 30000) {
  const ULONGLONG end = GetTickCount64() + boundMs;
  for (;;) {
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    MSG msg;
    if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    } else {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
  }
}

class RealWindow : public Drawing {
 protected:
  void SetUp() override {
    Drawing::SetUp();
    WindowCallbacks callbacks;
    callbacks.drawFrame = [this](Ui& ui, Canvas& c) { scene_.Draw(ui, c); };
    callbacks.openLink = [this](std::wstring link) { links_.push_back(std::move(link)); };
    callbacks.onEscape = [this] {
      ++escapes_;
      return true;
    };
    callbacks.processActions = [this] { ++actionRuns_; };
    window_ = std::make_unique<LauncherWindow>(*graphics_, callbacks);
    ASSERT_TRUE(window_->Create(GetModuleHandleW(nullptr), SW_SHOW));
    ASSERT_TRUE(PumpUntil([&] { return window_->FramesDrawn() >= 2; }));
  }
  void TearDown() override { window_.reset(); }

  POINT ScreenPoint(float x, float y) {
    POINT p{static_cast<LONG>(x * window_->Dpi() / 96.0f), static_cast<LONG>(y * window_->Dpi() / 96.0f)};
    ClientToScreen(window_->Handle(), &p);
    return p;
  }
  LRESULT HitTest(float x, float y) {
    const POINT p = ScreenPoint(x, y);
    return SendMessageW(window_->Handle(), WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y));
  }
  void Click(const RectF& box) {
    const LPARAM at = MAKELPARAM(static_cast<int>((box.left + box.right) / 2 * window_->Dpi() / 96),
                                 static_cast<int>((box.top + box.bottom) / 2 * window_->Dpi() / 96));
    HWND hwnd = window_->Handle();
    const uint64_t before = window_->FramesDrawn();
    PostMessageW(hwnd, WM_MOUSEMOVE, 0, at);
    PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ASSERT_TRUE(PumpUntil([&] { return window_->FramesDrawn() > before; }));
    const uint64_t pressed = window_->FramesDrawn();
    PostMessageW(hwnd, WM_LBUTTONUP, 0, at);
    ASSERT_TRUE(PumpUntil([&] { return window_->FramesDrawn() > pressed; }));
  }
  void Key(WPARAM key) {
    const uint64_t before = window_->FramesDrawn();
    SendMessageW(window_->Handle(), WM_KEYDOWN, key, 0);
    ASSERT_TRUE(PumpUntil([&] { return window_->FramesDrawn() > before; }));
  }

  TestScene scene_;
  std::vector<std::wstring> links_;
  int escapes_ = 0, actionRuns_ = 0;
  std::unique_ptr<LauncherWindow> window_;
};

TEST_F(RealWindow, OpensAtTheDpiSizeWithTheWholeWindowAsClientArea) {
  HWND hwnd = window_->Handle();
  wchar_t className[64] = {};
  GetClassNameW(hwnd, className, 64);
  EXPECT_STREQ(className, L"TalvoreenLauncherWindow");
  wchar_t title[64] = {};
  GetWindowTextW(hwnd, title, 64);
  EXPECT_STREQ(title, L"Talvoreen Launcher");
  int width = 0, height = 0;
  WindowPixelSize(window_->Dpi(), width, height);
  RECT outer{}, client{};
  GetWindowRect(hwnd, &outer);
  GetClientRect(hwnd, &client);
  EXPECT_EQ(outer.right - outer.left, width);
  EXPECT_EQ(outer.bottom - outer.top, height);
  EXPECT_EQ(client.right, width);
  EXPECT_EQ(client.bottom, height);
  // Whole on a small screen too: the DPI is lowered until the window fits the work area.
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &monitor));
  EXPECT_GE(outer.left, monitor.rcWork.left);
  EXPECT_GE(outer.top, monitor.rcWork.top);
  EXPECT_LE(outer.right, monitor.rcWork.right);
  EXPECT_LE(outer.bottom, monitor.rcWork.bottom);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_TRUE(GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
}

TEST_F(RealWindow, AScreenshotOfTheScreenShowsItDrawn) {
  HWND hwnd = window_->Handle();
  SetForegroundWindow(hwnd);
  const uint64_t later = window_->FramesDrawn() + 3;
  ASSERT_TRUE(PumpUntil([&] { return window_->FramesDrawn() >= later; }));
  RECT outer{};
  GetWindowRect(hwnd, &outer);
  const int w = outer.right - outer.left, h = outer.bottom - outer.top;

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(bitmap, nullptr);
  HGDIOBJ old = SelectObject(memory, bitmap);
  ASSERT_TRUE(BitBlt(memory, 0, 0, w, h, screen, outer.left, outer.top, SRCCOPY));
  GdiFlush();
  Image shot;
  shot.width = w;
  shot.height = h;
  shot.bgra.assign(static_cast<BYTE*>(bits), static_cast<BYTE*>(bits) + static_cast<size_t>(w) * h * 4);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  const float s = window_->Dpi() / 96.0f;
  const Pixel corner = shot.At(static_cast<int>(8 * s), static_cast<int>(650 * s));
  EXPECT_TRUE(Near(corner, theme::kBackground, 4)) << Describe(corner);
  const Pixel inPlay = shot.At(static_cast<int>((TestScene::kPlayBox.left + 16) * s),
                               static_cast<int>((TestScene::kPlayBox.top + 8) * s));
  EXPECT_TRUE(Near(inPlay, theme::kPrimary, 4)) << Describe(inPlay);
  EXPECT_GT(shot.BrightPixels(RECT{static_cast<LONG>(60 * s), static_cast<LONG>(150 * s), static_cast<LONG>(700 * s),
                                   static_cast<LONG>(260 * s)},
                              200),
            500);
}

TEST_F(RealWindow, DragAreaFollowsWidgetsAndTheOverlay) {
  EXPECT_EQ(HitTest(600, 20), HTCAPTION);
  EXPECT_EQ(HitTest(600, 380), HTCAPTION);
  EXPECT_EQ(HitTest(600, 600), HTCLIENT) << "status band";
  EXPECT_EQ(HitTest(1080, 20), HTCLIENT) << "close button";
  EXPECT_EQ(HitTest(200, 452), HTCLIENT) << "play button";

  Click(TestScene::kPlayBox);
  ASSERT_TRUE(scene_.overlayOpen);
  ASSERT_TRUE(PumpUntil([&] { return window_->FramesDrawn() > 0 && window_->GetUi().overlayOpen; }));
  const uint64_t next = window_->FramesDrawn() + 1;
  ASSERT_TRUE(PumpUntil([&] { return window_->FramesDrawn() >= next; }));
  EXPECT_EQ(HitTest(600, 20), HTCAPTION);
  EXPECT_EQ(HitTest(600, 380), HTCLIENT) << "only the title bar drags under an overlay";
  EXPECT_EQ(HitTest(1080, 20), HTCLIENT);
}

TEST_F(RealWindow, ClicksAndKeysReachTheWidgets) {
  Click(TestScene::kOutlineBox);
  EXPECT_EQ(scene_.activated, std::vector<std::string>{"scene.outline"});

  // Tab from no focus goes to the first widget of the last frame; Enter activates it.
  window_->GetUi().input.focused = 0;
  Key(VK_TAB);
  EXPECT_EQ(window_->GetUi().input.focused, MakeWidgetId("scene.play"));
  Key(VK_RETURN);
  EXPECT_EQ(scene_.activated, (std::vector<std::string>{"scene.outline", "scene.play"}));
  ASSERT_TRUE(scene_.overlayOpen);

  // Escape with an overlay open hands over to the owner, which queues an action run.
  Key(VK_ESCAPE);
  EXPECT_EQ(escapes_, 1);
  ASSERT_TRUE(PumpUntil([&] { return actionRuns_ == 1; }));
  scene_.overlayOpen = false;
  Key(VK_TAB);  // draws a frame without the overlay
  Key(VK_ESCAPE);
  EXPECT_EQ(escapes_, 1) << "no overlay, nothing to close";
}

// A window manager's resize, a snap, a maximise from anywhere: the size stays, a maximised
// window goes back to where it was.
TEST_F(RealWindow, KeepsItsSizeAgainstEveryOutsideResizeOrMaximise) {
  HWND hwnd = window_->Handle();
  int width = 0, height = 0;
  WindowPixelSize(window_->Dpi(), width, height);
  auto size = [&] {
    RECT outer{}, client{};
    GetWindowRect(hwnd, &outer);
    GetClientRect(hwnd, &client);
    return std::vector<LONG>{outer.right - outer.left, outer.bottom - outer.top, client.right, client.bottom};
  };
  const std::vector<LONG> fixed = {width, height, width, height};
  RECT before{}, after{};
  GetWindowRect(hwnd, &before);
  SendMessageW(hwnd, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  SendMessageW(hwnd, WM_NCLBUTTONDBLCLK, HTCAPTION, 0);
  GetWindowRect(hwnd, &after);
  EXPECT_FALSE(IsZoomed(hwnd));
  EXPECT_TRUE(EqualRect(&before, &after));

  SetWindowPos(hwnd, nullptr, 0, 0, 700, 400, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(size(), fixed) << "SetWindowPos";
  MoveWindow(hwnd, 10, 20, 1280, 1024, TRUE);
  EXPECT_EQ(size(), fixed) << "MoveWindow";
  GetWindowRect(hwnd, &before);
  EXPECT_EQ(before.left, 10) << "moving stays allowed";
  ShowWindow(hwnd, SW_MAXIMIZE);
  EXPECT_TRUE(PumpUntil([&] { return !IsZoomed(hwnd); }));
  EXPECT_EQ(size(), fixed) << "SW_MAXIMIZE";
  GetWindowRect(hwnd, &after);
  EXPECT_TRUE(EqualRect(&before, &after));
  ShowWindow(hwnd, SW_MINIMIZE);
  ShowWindow(hwnd, SW_RESTORE);
  EXPECT_EQ(size(), fixed) << "minimised and restored";
}

HRESULT WINAPI DpiQueryFails(HMONITOR, int, UINT*, UINT*) { return E_INVALIDARG; }
HRESULT WINAPI DpiQueryGives144(HMONITOR, int, UINT* x, UINT* y) {
  *x = *y = 144;
  return S_OK;
}

unsigned SystemDpi() {
  HDC screen = GetDC(nullptr);
  const unsigned system = static_cast<unsigned>(GetDeviceCaps(screen, LOGPIXELSX));
  ReleaseDC(nullptr, screen);
  return system;
}

// Exit code: the system DPI this process got times 1000, plus the fallback's answer.
TV_CHILD_ROLE(dpi_fallback) {
  HMONITOR monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  return static_cast<int>(SystemDpi() * 1000 + WindowDpiForMonitor(monitor, &DpiQueryFails));
}

// Without GetDpiForMonitor (Windows 7, 8.0) or when it fails, the screen's DPI; never a fixed 96.
// A test display runs at 96, so a process is also started with the screen at 120 DPI: Wine
// takes the setting for each new process, Windows only at the next logon.
TEST(WindowDpi, FallsBackToTheSystemDpi) {
  HMONITOR monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  EXPECT_EQ(WindowDpiForMonitor(monitor, nullptr), SystemDpi());
  EXPECT_EQ(WindowDpiForMonitor(monitor, &DpiQueryFails), SystemDpi());
  EXPECT_EQ(WindowDpiForMonitor(monitor, &DpiQueryGives144), 144u);

  // The setting reaches every process that starts meanwhile in this prefix: the flip runs only
  // in the test's own serial run (ui_window_dpi_fallback).
  if (GetEnvironmentVariableW(L"TALVOREEN_DPI_FLIP", nullptr, 0) == 0) {
    GTEST_SKIP() << "runs alone in ui_window_dpi_fallback";
  }
  const wchar_t* const key = L"Control Panel\\Desktop";
  DWORD previous = 0, size = sizeof(previous);
  const bool had = RegGetValueW(HKEY_CURRENT_USER, key, L"LogPixels", RRF_RT_REG_DWORD, nullptr, &previous, &size) ==
                   ERROR_SUCCESS;
  const DWORD dpi = 120;
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key, L"LogPixels", REG_DWORD, &dpi, sizeof(dpi)), ERROR_SUCCESS);
  const testing_support::ProcessResult child = testing_support::RunChild("dpi_fallback", {});
  if (had) {
    RegSetKeyValueW(HKEY_CURRENT_USER, key, L"LogPixels", REG_DWORD, &previous, sizeof(previous));
  } else {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"LogPixels");
  }
  ASSERT_TRUE(child.started);
  if (child.exitCode / 1000 != dpi) GTEST_SKIP() << "the system DPI changes only at the next logon here";
  EXPECT_EQ(child.exitCode % 1000, dpi);
}

TEST_F(RealWindow, ANewMonitorDpiTakesTheSuggestedRectangleAndKeepsTheLayoutInDips) {
  HWND hwnd = window_->Handle();
  RECT outer{};
  GetWindowRect(hwnd, &outer);
  // A smaller DPI: the test display is too small for a larger window.
  RECT suggested{outer.left, outer.top, outer.left + 825, outer.top + 495};
  SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(72, 72), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(window_->Dpi(), 72u);
  RECT now{};
  GetWindowRect(hwnd, &now);
  EXPECT_EQ(now.right - now.left, 825);
  EXPECT_EQ(now.bottom - now.top, 495);
  const uint64_t next = window_->FramesDrawn() + 2;
  ASSERT_TRUE(PumpUntil([&] { return window_->FramesDrawn() >= next; }));
  // The close button is still at the same DIPs, now at three quarters of the pixels.
  EXPECT_EQ(HitTest(1080, 20), HTCLIENT);
  EXPECT_EQ(HitTest(1000, 20), HTCAPTION);
  Click(TestScene::kOutlineBox);
  EXPECT_EQ(scene_.activated, std::vector<std::string>{"scene.outline"});
}

// Frames stop while nobody can see them: a locked or disconnected session, a display that is
// off, another window over all of it, minimised or hidden.
TEST_F(RealWindow, FrameTimerRunsWhileSeenAndStopsWhileNobodySeesIt) {
  HWND hwnd = window_->Handle();
  SetForegroundWindow(hwnd);
  window_->UpdateFrameTimer();
  const int running = window_->FrameTimerPeriodMs();
  if (GetForegroundWindow() == hwnd) {
    EXPECT_GE(running, 16);
  } else {
    EXPECT_GE(running, 33) << "the animated background counts as activity";
  }
  EXPECT_LE(running, kSlowestPeriodMs);
  EXPECT_GT(window_->MeanFrameCostMs(), 0) << "frames have been measured";

  for (const auto& [off, on] : {std::pair{WTS_SESSION_LOCK, WTS_SESSION_UNLOCK},
                                std::pair{WTS_CONSOLE_DISCONNECT, WTS_CONSOLE_CONNECT},
                                std::pair{WTS_REMOTE_DISCONNECT, WTS_REMOTE_CONNECT}}) {
    SendMessageW(hwnd, WM_WTSSESSION_CHANGE, off, 0);
    EXPECT_EQ(window_->FrameTimerPeriodMs(), 0) << off;
    EXPECT_FALSE(WindowSeen(window_->View()));
    const uint64_t frames = window_->FramesDrawn();
    SendMessageW(hwnd, WM_WTSSESSION_CHANGE, on, 0);
    EXPECT_GT(window_->FrameTimerPeriodMs(), 0) << on;
    ASSERT_TRUE(PumpUntil([&] { return window_->FramesDrawn() > frames; })) << "drawn again at once";
  }

  alignas(POWERBROADCAST_SETTING) BYTE buffer[sizeof(POWERBROADCAST_SETTING) + sizeof(DWORD)] = {};
  auto* setting = reinterpret_cast<POWERBROADCAST_SETTING*>(buffer);
  setting->PowerSetting = GUID{0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};
  setting->DataLength = sizeof(DWORD);
  auto display = [&](DWORD state) {
    memcpy(setting->Data, &state, sizeof(state));
    return SendMessageW(hwnd, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(setting));
  };
  EXPECT_EQ(display(0), TRUE);
  EXPECT_EQ(window_->FrameTimerPeriodMs(), 0) << "display off";
  display(2);
  EXPECT_GT(window_->FrameTimerPeriodMs(), 0) << "a dimmed display is still seen";
  display(0);
  display(1);
  EXPECT_GT(window_->FrameTimerPeriodMs(), 0);

  // A plain window over all of it; a layered one (an overlay that lets it show) does not count.
  RECT mine{};
  GetWindowRect(hwnd, &mine);
  for (const DWORD exStyle : {DWORD{WS_EX_LAYERED}, DWORD{0}}) {
    HWND cover = CreateWindowExW(exStyle | WS_EX_TOPMOST | WS_EX_NOACTIVATE, L"STATIC", L"", WS_POPUP | WS_VISIBLE,
                                 mine.left - 5, mine.top - 5, mine.right - mine.left + 10, mine.bottom - mine.top + 10,
                                 nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(cover, nullptr);
    window_->UpdateFrameTimer();
    EXPECT_EQ(window_->FrameTimerPeriodMs() == 0, exStyle == 0) << exStyle;
    SetWindowPos(cover, nullptr, mine.left + 20, mine.top, 100, 100, SWP_NOZORDER | SWP_NOACTIVATE);
    window_->UpdateFrameTimer();
    EXPECT_GT(window_->FrameTimerPeriodMs(), 0) << "covered only in part";
    DestroyWindow(cover);
  }

  ShowWindow(hwnd, SW_MINIMIZE);
  window_->UpdateFrameTimer();
  EXPECT_EQ(window_->FrameTimerPeriodMs(), 0);
  ShowWindow(hwnd, SW_HIDE);
  window_->UpdateFrameTimer();
  EXPECT_EQ(window_->FrameTimerPeriodMs(), 0);
}

TEST_F(RealWindow, TakesForwardedLinksByTheRules) {
  HWND hwnd = window_->Handle();
  std::wstring text = L"talvoreen://corvel";
  COPYDATASTRUCT data{kLinkCopyDataMagic, static_cast<DWORD>((text.size() + 1) * 2), text.data()};
  EXPECT_EQ(SendMessageW(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), TRUE);
  std::wstring big(1025, L'y');
  COPYDATASTRUCT tooBig{kLinkCopyDataMagic, 2050, big.data()};
  EXPECT_EQ(SendMessageW(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&tooBig)), 0);
  COPYDATASTRUCT odd{kLinkCopyDataMagic, 5, text.data()};
  EXPECT_EQ(SendMessageW(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&odd)), 0);
  COPYDATASTRUCT wrongTag{0x54564C4C, 8, text.data()};
  EXPECT_EQ(SendMessageW(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&wrongTag)), 0);
  ASSERT_TRUE(PumpUntil([&] { return !links_.empty(); }));
  EXPECT_EQ(links_, std::vector<std::wstring>{L"talvoreen://corvel"});
}

// A window on its way out (closed, or making way for an updated launcher) takes no hand-over:
// the second start waits for the lock instead of losing its link to it.
TEST_F(RealWindow, AClosingWindowRefusesHandOvers) {
  HWND hwnd = window_->Handle();
  EXPECT_EQ(SendMessageW(hwnd, kBringToFrontMessage, 0, 0), kBringToFrontAnswer);
  window_->BeginClose();
  EXPECT_FALSE(IsWindowVisible(hwnd));
  EXPECT_EQ(SendMessageW(hwnd, kBringToFrontMessage, 0, 0), 0);
  std::wstring text = L"talvoreen://corvel";
  COPYDATASTRUCT data{kLinkCopyDataMagic, static_cast<DWORD>((text.size() + 1) * 2), text.data()};
  EXPECT_EQ(SendMessageW(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 0);
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(hwnd); }));
  EXPECT_TRUE(links_.empty());
}

TEST_F(RealWindow, ASecondLaunchersLinkReachesIt) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
  ASSERT_NE(mutex, nullptr);
  HANDLE process = testing_support::StartProcess(testing_support::LauncherExePath(), {L"--link", L"talvoreen://main"});
  ASSERT_NE(process, nullptr);
  bool ended = false;
  EXPECT_TRUE(PumpUntil([&] {
    ended = ended || WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    return ended && !links_.empty();
  }));
  DWORD code = 999;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  CloseHandle(mutex);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(links_, std::vector<std::wstring>{L"talvoreen://main"});
}

}  // namespace
