#include "ui/window.h"

#include <d2d1helper.h>
#include <dwmapi.h>
#include <windowsx.h>

#include <cmath>

#include "ui/link_handover.h"
#include "ui/theme.h"

namespace {

constexpr DWORD kStyle = WS_POPUPWINDOW | WS_DLGFRAME | WS_THICKFRAME | WS_MINIMIZEBOX;
constexpr DWORD kDwmImmersiveDarkMode = 20;
constexpr DWORD kDwmWindowCornerPreference = 33;
constexpr int kCornerRound = 2;

}  // namespace

unsigned WindowDpiForMonitor(HMONITOR monitor, GetDpiForMonitorFn getDpi) {
  UINT x = 0, y = 0;
  if (getDpi && SUCCEEDED(getDpi(monitor, 0 /* MDT_EFFECTIVE_DPI */, &x, &y)) && x != 0) return x;
  // Windows 7 and 8.0 have no per-monitor DPI; the process is system-DPI-aware, so the screen's
  // DPI is what every monitor is drawn at.
  HDC screen = GetDC(nullptr);
  const int system = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return system > 0 ? static_cast<unsigned>(system) : 96;
}

namespace {

unsigned MonitorDpi(HMONITOR monitor) {
  static HMODULE shcore = LoadLibraryW(L"shcore.dll");
  static auto getDpi =
      shcore ? reinterpret_cast<GetDpiForMonitorFn>(reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")))
             : nullptr;
  return WindowDpiForMonitor(monitor, getDpi);
}

// The window being created on this thread: Windows sends WM_GETMINMAXINFO before
// WM_NCCREATE, and without an answer then the creation size is capped at the screen's
// tracking size.
thread_local LauncherWindow* g_creating = nullptr;

// The layout is fixed: whatever asks for another size (a snap, a tiling window manager,
// a maximise) gets this one, and a maximised window keeps its place.
void FixTrackSize(HWND hwnd, unsigned dpi, MINMAXINFO* info) {
  int width = 0, height = 0;
  WindowPixelSize(dpi, width, height);
  RECT now{};
  GetWindowRect(hwnd, &now);
  info->ptMinTrackSize = info->ptMaxTrackSize = info->ptMaxSize = POINT{width, height};
  info->ptMaxPosition = POINT{now.left, now.top};
}

COLORREF BackgroundColorRef() {
  return RGB(static_cast<int>(std::lround(theme::kBackground.r * 255)),
             static_cast<int>(std::lround(theme::kBackground.g * 255)),
             static_cast<int>(std::lround(theme::kBackground.b * 255)));
}

}  // namespace

LauncherWindow::LauncherWindow(const Graphics& graphics, WindowCallbacks callbacks)
    : graphics_(graphics), callbacks_(std::move(callbacks)) {
  QueryPerformanceFrequency(&clockFrequency_);
  QueryPerformanceCounter(&clockStart_);
}

LauncherWindow::~LauncherWindow() {
  if (hwnd_) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

double LauncherWindow::Now() const {
  if (callbacks_.now) return callbacks_.now();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart - clockStart_.QuadPart) / static_cast<double>(clockFrequency_.QuadPart);
}

bool LauncherWindow::Create(HINSTANCE instance, int showCommand) {
  static HBRUSH backgroundBrush = CreateSolidBrush(BackgroundColorRef());
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = &LauncherWindow::Procedure;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = backgroundBrush;
  wc.lpszClassName = kWindowClassName;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

  POINT cursor{};
  GetCursorPos(&cursor);
  HMONITOR monitor = MonitorFromPoint(cursor, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (GetMonitorInfoW(monitor, &info)) work = info.rcWork;
  const WindowPlacement place = PlaceWindow(MonitorDpi(monitor), work.left, work.top, work.right, work.bottom);
  dpi_ = place.dpi;

  taskbarCreatedMessage_ = RegisterWindowMessageW(L"TaskbarButtonCreated");
  g_creating = this;
  const HWND created = CreateWindowExW(WS_EX_APPWINDOW, kWindowClassName, L"Talvoreen Launcher", kStyle, place.x,
                                       place.y, place.width, place.height, nullptr, nullptr, instance, this);
  g_creating = nullptr;
  if (!created) return false;
  // UIPI drops these when the window runs elevated and the sender does not; a second start
  // and Explorer's taskbar are such senders.
  for (const UINT message : {static_cast<UINT>(WM_COPYDATA), kBringToFrontMessage, taskbarCreatedMessage_}) {
    if (message != 0) ChangeWindowMessageFilterEx(hwnd_, message, MSGFLT_ALLOW, nullptr);
  }
  const MARGINS margins{1, 1, 1, 1};
  DwmExtendFrameIntoClientArea(hwnd_, &margins);
  const BOOL dark = TRUE;
  DwmSetWindowAttribute(hwnd_, kDwmImmersiveDarkMode, &dark, sizeof(dark));
  const int corner = kCornerRound;
  DwmSetWindowAttribute(hwnd_, kDwmWindowCornerPreference, &corner, sizeof(corner));
  SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  if (!EnsureTarget()) {
    DestroyWindow(hwnd_);
    return false;
  }
  ShowWindow(hwnd_, showCommand);
  UpdateWindow(hwnd_);
  return true;
}

void LauncherWindow::BeginClose() {
  if (!hwnd_) return;
  closing_ = true;
  ShowWindow(hwnd_, SW_HIDE);
  PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

int LauncherWindow::RunMessageLoop() {
  MSG msg;
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return got == 0 ? static_cast<int>(msg.wParam) : 0;
}

LRESULT CALLBACK LauncherWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<LauncherWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<LauncherWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self && message == WM_GETMINMAXINFO && g_creating) {
    FixTrackSize(hwnd, g_creating->dpi_, reinterpret_cast<MINMAXINFO*>(lParam));
    return 0;
  }
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  try {
    return self->Handle(message, wParam, lParam);
  } catch (...) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

LRESULT LauncherWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == taskbarCreatedMessage_ && message != 0) {
    taskbar_.Reset();
    ComPtr<ITaskbarList3> taskbar;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&taskbar))) &&
        SUCCEEDED(taskbar->HrInit())) {
      taskbar_ = taskbar;
    }
    taskbarState_ = -1;
    return 0;
  }
  const float scale = dpi_ / 96.0f;
  switch (message) {
    case WM_DESTROY:
      ReleaseTarget();
      taskbar_.Reset();
      hwnd_ = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_GETMINMAXINFO:
      FixTrackSize(hwnd_, dpi_, reinterpret_cast<MINMAXINFO*>(lParam));
      return 0;
    case WM_WINDOWPOSCHANGING: {
      auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
      if (!(pos->flags & SWP_NOSIZE) && !IsIconic(hwnd_)) {
        WindowPixelSize(dpi_, pos->cx, pos->cy);
      }
      return 0;
    }
    case WM_SIZE:
      if (wParam == SIZE_MAXIMIZED) PostMessageW(hwnd_, WM_SYSCOMMAND, SC_RESTORE, 0);
      if (target_) target_->Resize(D2D1::SizeU(LOWORD(lParam), HIWORD(lParam)));
      UpdateFrameTimer();
      return 0;
    case WM_ACTIVATE:
      UpdateFrameTimer();
      break;
    case WM_PAINT:
      DrawFrame();
      return 0;
    case WM_CLOSE:
      // From here on a second start must not hand over to this window but wait for the lock.
      closing_ = true;
      ShowWindow(hwnd_, SW_HIDE);
      DestroyWindow(hwnd_);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, ui_.HasHotWidget() ? IDC_HAND : IDC_ARROW));
        return TRUE;
      }
      break;
    case WM_COPYDATA: {
      std::wstring link;
      if (closing_ || !ReadForwardedLink(reinterpret_cast<const COPYDATASTRUCT*>(lParam), link)) return 0;
      pendingLink_ = std::move(link);
      PostMessageW(hwnd_, kForwardedLinkMessage, 0, 0);
      return TRUE;
    }
    case WM_NCCALCSIZE:
      if (wParam) return 0;
      break;
    case WM_NCHITTEST: {
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      ScreenToClient(hwnd_, &p);
      return ui_.IsDragArea(p.x / scale, p.y / scale) ? HTCAPTION : HTCLIENT;
    }
    case WM_NCACTIVATE:
      return DefWindowProcW(hwnd_, message, wParam, -1);
    case WM_NCLBUTTONDBLCLK:
      return 0;
    case WM_KEYDOWN:
      OnKeyDown(wParam);
      return 0;
    case WM_SYSCOMMAND: {
      const WPARAM command = wParam & 0xFFF0;
      if (command == SC_MAXIMIZE || command == SC_SIZE) return 0;
      break;
    }
    case WM_TIMER:
      if (wParam == kTickTimer) {
        if (callbacks_.onTick) callbacks_.onTick();
        UpdateFrameTimer();
        if (!IsIconic(hwnd_)) InvalidateRect(hwnd_, nullptr, FALSE);
      } else if (wParam == kFrameTimer) {
        InvalidateRect(hwnd_, nullptr, FALSE);
      }
      return 0;
    case WM_MOUSEMOVE:
      ui_.MouseMove(GET_X_LPARAM(lParam) / scale, GET_Y_LPARAM(lParam) / scale);
      if (!ui_.input.tracking) {
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd_, 0};
        ui_.input.tracking = TrackMouseEvent(&track) != FALSE;
      }
      InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    case WM_LBUTTONDOWN:
      SetCapture(hwnd_);
      ui_.MouseMove(GET_X_LPARAM(lParam) / scale, GET_Y_LPARAM(lParam) / scale);
      ui_.ButtonDown();
      InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    case WM_LBUTTONUP:
      ReleaseCapture();
      ui_.MouseMove(GET_X_LPARAM(lParam) / scale, GET_Y_LPARAM(lParam) / scale);
      ui_.ButtonUp();
      InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    case WM_MOUSELEAVE:
      ui_.MouseLeave();
      InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wParam);
      if (target_) target_->SetDpi(static_cast<float>(dpi_), static_cast<float>(dpi_));
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case kBringToFrontMessage:
      if (closing_) return 0;
      ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
      SetForegroundWindow(hwnd_);
      return kBringToFrontAnswer;
    case kRunActionsMessage:
      if (callbacks_.processActions) callbacks_.processActions();
      return 0;
    case kForwardedLinkMessage:
      if (!pendingLink_.empty()) {
        std::wstring link = std::move(pendingLink_);
        pendingLink_.clear();
        if (callbacks_.openLink) callbacks_.openLink(std::move(link));
      }
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void LauncherWindow::OnKeyDown(WPARAM key) {
  if (key == VK_TAB) {
    ui_.Tab((GetKeyState(VK_SHIFT) & 0x8000) != 0);
  } else if (key == VK_RETURN || key == VK_SPACE) {
    ui_.ActivateFocused();
  } else if (key == VK_ESCAPE) {
    if (ui_.overlayOpen && callbacks_.onEscape && callbacks_.onEscape()) PostMessageW(hwnd_, kRunActionsMessage, 0, 0);
  }
  InvalidateRect(hwnd_, nullptr, FALSE);
}

bool LauncherWindow::EnsureTarget() {
  if (target_) return true;
  RECT client{};
  GetClientRect(hwnd_, &client);
  const D2D1_SIZE_U size = D2D1::SizeU(client.right - client.left, client.bottom - client.top);
  ComPtr<ID2D1HwndRenderTarget> target;
  if (FAILED(graphics_.D2D()->CreateHwndRenderTarget(
          TargetProperties(static_cast<float>(dpi_), D2D1_ALPHA_MODE_IGNORE),
          D2D1::HwndRenderTargetProperties(hwnd_, size, D2D1_PRESENT_OPTIONS_NONE), &target)) ||
      FAILED(target->CreateSolidColorBrush(D2D1::ColorF(0, 0, 0, 1), &brush_))) {
    brush_.Reset();
    return false;
  }
  target->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
  target_ = target;
  return true;
}

void LauncherWindow::ReleaseTarget() {
  brush_.Reset();
  bitmaps_.Reset();
  target_.Reset();
}

void LauncherWindow::DrawFrame() {
  const double now = Now();
  if (callbacks_.refreshSnapshot) callbacks_.refreshSnapshot();
  if (!EnsureTarget()) {
    ValidateRect(hwnd_, nullptr);
    return;
  }
  ui_.BeginFrame(now);
  target_->BeginDraw();
  {
    D2DCanvas canvas(graphics_, target_.Get(), brush_.Get(), bitmaps_);
    if (callbacks_.drawFrame) callbacks_.drawFrame(ui_, canvas);
    canvas.Finish();
  }
  if (target_->EndDraw() == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) ReleaseTarget();
  ValidateRect(hwnd_, nullptr);
  ui_.EndFrame();
  ++framesDrawn_;
  if (callbacks_.hasQueuedActions && callbacks_.hasQueuedActions()) PostMessageW(hwnd_, kRunActionsMessage, 0, 0);
  UpdateFrameTimer();
}

void LauncherWindow::UpdateFrameTimer() {
  if (!hwnd_) return;
  BOOL cloakedValue = FALSE;
  const bool cloaked =
      SUCCEEDED(DwmGetWindowAttribute(hwnd_, DWMWA_CLOAKED, &cloakedValue, sizeof(cloakedValue))) && cloakedValue;
  HWND foreground = GetForegroundWindow();
  bool covers = false;
  if (foreground && foreground != hwnd_) {
    RECT mine{}, theirs{};
    GetWindowRect(hwnd_, &mine);
    GetWindowRect(foreground, &theirs);
    covers = theirs.left <= mine.left && theirs.top <= mine.top && theirs.right >= mine.right &&
             theirs.bottom >= mine.bottom;
  }
  const bool activity = ui_.input.animating || (callbacks_.showsProgress && callbacks_.showsProgress());
  const int period = FrameTimerPeriod(IsWindowVisible(hwnd_) != FALSE, IsIconic(hwnd_) != FALSE, cloaked,
                                      foreground == hwnd_, activity, covers);
  if (period == framePeriod_) return;
  framePeriod_ = period;
  if (period == 0) {
    KillTimer(hwnd_, kFrameTimer);
  } else {
    SetTimer(hwnd_, kFrameTimer, period, nullptr);
  }
}

void LauncherWindow::SetTaskbarProgress(TaskbarProgress state, uint64_t completed, uint64_t total) {
  if (!taskbar_ || !hwnd_) return;
  const int value = static_cast<int>(state);
  const TaskbarCalls calls = DecideTaskbarCalls(taskbarState_, value, completed, total);
  if (calls.setState) {
    taskbar_->SetProgressState(hwnd_, static_cast<TBPFLAG>(value));
    taskbarState_ = value;
  }
  if (calls.setValue) taskbar_->SetProgressValue(hwnd_, completed, total);
}
