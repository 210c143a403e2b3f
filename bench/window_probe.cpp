// Watches the launcher window from outside, the way a player's eye would: through the screen's
// pixels. Runs in the window's Wine prefix and display.
//   window_probe fps <seconds>   frames a second: how often the turning emblem's pixels change
//   window_probe click           a click on "Ayarlar": ms from the press to the button's first
//                                changed pixel, and from the release to the settings panel's
//   window_probe press <x> <y>   a click at a point of the canvas (DIPs); prints whether the
//                                window was in front
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

struct Region {
  int left, top, right, bottom;  // DIPs of the 1100 x 660 canvas
};

double Seconds() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

class Grabber {
 public:
  Grabber(HWND hwnd, Region r) {
    RECT outer{};
    GetWindowRect(hwnd, &outer);
    const double scale = (outer.right - outer.left) / 1100.0;
    x_ = outer.left + static_cast<int>(r.left * scale);
    y_ = outer.top + static_cast<int>(r.top * scale);
    w_ = static_cast<int>((r.right - r.left) * scale);
    h_ = static_cast<int>((r.bottom - r.top) * scale);
    screen_ = GetDC(nullptr);
    memory_ = CreateCompatibleDC(screen_);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w_;
    info.bmiHeader.biHeight = -h_;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    bitmap_ = CreateDIBSection(screen_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    old_ = SelectObject(memory_, bitmap_);
  }
  ~Grabber() {
    SelectObject(memory_, old_);
    DeleteObject(bitmap_);
    DeleteDC(memory_);
    ReleaseDC(nullptr, screen_);
  }
  std::vector<BYTE> Grab() {
    BitBlt(memory_, 0, 0, w_, h_, screen_, x_, y_, SRCCOPY);
    GdiFlush();
    return std::vector<BYTE>(bits_, bits_ + static_cast<size_t>(w_) * h_ * 4);
  }

 private:
  int x_ = 0, y_ = 0, w_ = 0, h_ = 0;
  HDC screen_ = nullptr, memory_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  BYTE* bits_ = nullptr;
};

// A change a player sees: at least `least` channel values move by more than 6 levels. The
// grid's faint scrolling lines stay below 40 under the fades and the title bar; over the main
// screen's title they move a few hundred, far below a tenth of the region, which the panel's
// dimming moves.
bool Changed(const std::vector<BYTE>& a, const std::vector<BYTE>& b, size_t least = 40) {
  size_t moved = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i])) > 6 && ++moved >= least) return true;
  }
  return false;
}

LPARAM At(HWND hwnd, int x, int y) {
  RECT outer{};
  GetWindowRect(hwnd, &outer);
  const double scale = (outer.right - outer.left) / 1100.0;
  return MAKELPARAM(static_cast<int>(x * scale), static_cast<int>(y * scale));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  HWND hwnd = nullptr;
  for (int i = 0; i < 600 && !(hwnd = FindWindowW(L"TalvoreenLauncherWindow", nullptr)); ++i) Sleep(50);
  if (!hwnd) {
    std::fprintf(stderr, "no launcher window\n");
    return 1;
  }
  if (std::wcscmp(argv[1], L"fps") == 0) {
    const double seconds = argc > 2 ? _wtof(argv[2]) : 10;
    Grabber emblem(hwnd, Region{700, 230, 880, 410});
    std::vector<BYTE> last = emblem.Grab();
    int frames = 0;
    const double start = Seconds();
    while (Seconds() - start < seconds) {
      std::vector<BYTE> now = emblem.Grab();
      if (now != last) ++frames, last.swap(now);
      Sleep(1);
    }
    std::printf("%.2f%s\n", frames / seconds, GetForegroundWindow() == hwnd ? "" : " (not in front)");
    return 0;
  }
  if (std::wcscmp(argv[1], L"click") == 0) {
    const LPARAM button = At(hwnd, 930, 22);
    PostMessageW(hwnd, WM_MOUSEMOVE, 0, button);
    Sleep(3000);  // the hover has settled, whatever the frame rate
    Grabber buttonPixels(hwnd, Region{872, 2, 988, 42});
    Grabber panelTitle(hwnd, Region{250, 150, 520, 210});
    const std::vector<BYTE> buttonBefore = buttonPixels.Grab(), panelBefore = panelTitle.Grab();
    // A player's click: the button is held for about 80 ms. The button's pressed look is timed
    // from the press, the panel from the release that opens it.
    const double start = Seconds();
    PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, button);
    double released = -1, buttonMs = -1, panelMs = -1;
    while ((buttonMs < 0 || panelMs < 0) && Seconds() - start < 20) {
      if (released < 0 && Seconds() - start >= 0.08) {
        PostMessageW(hwnd, WM_LBUTTONUP, 0, button);
        released = Seconds();
      }
      if (buttonMs < 0 && Changed(buttonBefore, buttonPixels.Grab())) buttonMs = (Seconds() - start) * 1000;
      if (released >= 0 && panelMs < 0 && Changed(panelBefore, panelTitle.Grab(), panelBefore.size() / 10)) {
        panelMs = (Seconds() - released) * 1000;
      }
      Sleep(1);
    }
    std::printf("%.0f %.0f\n", buttonMs, panelMs);
    // Closed again, so that the next measurement starts from the main screen: once more a
    // moment later, in case the first Escape came before the window had drawn the panel.
    PostMessageW(hwnd, WM_KEYDOWN, VK_ESCAPE, 0);
    Sleep(1500);
    PostMessageW(hwnd, WM_KEYDOWN, VK_ESCAPE, 0);
    return buttonMs >= 0 && panelMs >= 0 ? 0 : 1;
  }
  if (std::wcscmp(argv[1], L"press") == 0 && argc > 3) {
    const LPARAM at = At(hwnd, _wtoi(argv[2]), _wtoi(argv[3]));
    PostMessageW(hwnd, WM_MOUSEMOVE, 0, at);
    PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(hwnd, WM_LBUTTONUP, 0, at);
    std::printf("%s\n", GetForegroundWindow() == hwnd ? "in front" : "not in front");
    return 0;
  }
  return 2;
}
