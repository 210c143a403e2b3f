#include "ui/window.h"

#include <d2d1helper.h>
#include <dwmapi.h>
#include <windowsx.h>
#include <wtsapi32.h>

#include <cmath>

#include "ui/link_handover.h"
#include "ui/theme.h"

namespace {

constexpr DWORD kStyle = WS_POPUPWINDOW | WS_DLGFRAME | WS_THICKFRAME | WS_MINIMIZEBOX;
constexpr DWORD kDwmImmersiveDarkMode = 20;
constexpr DWORD kDwmWindowCornerPreference = 33;
constexpr int kCornerRound = 2;
// GUID_CONSOLE_DISPLAY_STATE (Windows 8 and later; Windows 7 never reports it, so there the
// display counts as on).
constexpr GUID kConsoleDisplayState = {0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};
// Frames more than this apart do not measure one frame's worth of the process's time.
constexpr double kQuietGapSeconds = 2.5;

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

double FileTimeSeconds(FILETIME t) {
  return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7;
}

// Processor seconds of this thread, or of the whole process (every thread, the renderer's
// too, even those a GL driver started without Windows knowing); -1 when unknown.
double ThreadProcessorSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return -1;
  return FileTimeSeconds(kernel) + FileTimeSeconds(user);
}

double ProcessProcessorSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
  return FileTimeSeconds(kernel) + FileTimeSeconds(user);
}

// True when one shown window above this one in the z-order covers all of it. Layered and
// click-through windows (overlays, shadows, invisible tool windows) may let it show and do not count.
bool CoveredByAnotherWindow(HWND hwnd) {
  RECT mine{};
  if (!GetWindowRect(hwnd, &mine)) return false;
  int looked = 0;
  for (HWND above = GetWindow(hwnd, GW_HWNDPREV); above && looked < 256; above = GetWindow(above, GW_HWNDPREV), ++looked) {
    if (!IsWindowVisible(above) || IsIconic(above)) continue;
    if (GetWindowLongW(above, GWL_EXSTYLE) & (WS_EX_LAYERED | WS_EX_TRANSPARENT)) continue;
    BOOL cloaked = FALSE;
    if (SUCCEEDED(DwmGetWindowAttribute(above, DWMWA_CLOAKED, &cloaked, sizeof(cloaked))) && cloaked) continue;
    RECT theirs{};
    if (!GetWindowRect(above, &theirs)) continue;
    if (theirs.left <= mine.left && theirs.top <= mine.top && theirs.right >= mine.right && theirs.bottom >= mine.bottom) {
      return true;
    }
  }
  return false;
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

double LauncherWindow::WallSeconds() const {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart - clockStart_.QuadPart) / static_cast<double>(clockFrequency_.QuadPart);
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
    case WM_CREATE:
      // Nobody sees a locked or disconnected session or a display that is off: no frames then.
      sessionNotifications_ = WTSRegisterSessionNotification(hwnd_, NOTIFY_FOR_THIS_SESSION) != FALSE;
      displayNotification_ = RegisterPowerSettingNotification(hwnd_, &kConsoleDisplayState, DEVICE_NOTIFY_WINDOW_HANDLE);
      break;
    case WM_WTSSESSION_CHANGE:
      OnSessionChange(wParam);
      return 0;
    case WM_POWERBROADCAST:
      if (wParam == PBT_POWERSETTINGCHANGE && lParam) {
        OnPowerSetting(reinterpret_cast<const POWERBROADCAST_SETTING*>(lParam));
        return TRUE;
      }
      break;
    case WM_DESTROY:
      if (sessionNotifications_) WTSUnRegisterSessionNotification(hwnd_);
      sessionNotifications_ = false;
      if (displayNotification_) UnregisterPowerSettingNotification(displayNotification_);
      displayNotification_ = nullptr;
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
      InvalidateRect(hwnd_, nullptr, FALSE);  // the change of state shows at once
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
        // With the frame timer running its next frame shows the tick; a frame here as well
        // would cost a software renderer two frames a second above its share.
        if (framePeriod_ == 0 && WindowSeen(View())) InvalidateRect(hwnd_, nullptr, FALSE);
      } else if (wParam == kFrameTimer) {
        InvalidateRect(hwnd_, nullptr, FALSE);
      } else if (wParam == kInputFrameTimer) {
        KillTimer(hwnd_, kInputFrameTimer);
        inputFrameWaits_ = false;
        InvalidateRect(hwnd_, nullptr, FALSE);
      }
      return 0;
    case WM_MOUSEMOVE:
      ui_.MouseMove(GET_X_LPARAM(lParam) / scale, GET_Y_LPARAM(lParam) / scale);
      if (!ui_.input.tracking) {
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd_, 0};
        ui_.input.tracking = TrackMouseEvent(&track) != FALSE;
      }
      RequestInputFrame(false);
      return 0;
    case WM_LBUTTONDOWN:
      SetCapture(hwnd_);
      ui_.MouseMove(GET_X_LPARAM(lParam) / scale, GET_Y_LPARAM(lParam) / scale);
      ui_.ButtonDown();
      RequestInputFrame(true);
      return 0;
    case WM_LBUTTONUP:
      ReleaseCapture();
      ui_.MouseMove(GET_X_LPARAM(lParam) / scale, GET_Y_LPARAM(lParam) / scale);
      ui_.ButtonUp();
      RequestInputFrame(true);
      return 0;
    case WM_MOUSELEAVE:
      ui_.MouseLeave();
      RequestInputFrame(false);
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
  RequestInputFrame(true);
}

// WM_PAINT comes only when no input waits, so a frame asked for here never holds input up.
void LauncherWindow::RequestInputFrame(bool pressOrKey) {
  const double since = lastFrameEnd_ < 0 ? 1e9 : (WallSeconds() - lastFrameEnd_) * 1000;
  const int delay = InputFrameDelayMs(pressOrKey, costs_.Last(), since);
  if (delay == 0) {
    InvalidateRect(hwnd_, nullptr, FALSE);
  } else if (!inputFrameWaits_) {
    // Set once: a mouse that keeps moving must not put its frame off again and again.
    inputFrameWaits_ = SetTimer(hwnd_, kInputFrameTimer, static_cast<UINT>(delay), nullptr) != 0;
  }
}

void LauncherWindow::OnSessionChange(WPARAM event) {
  switch (event) {
    case WTS_SESSION_LOCK:
    case WTS_CONSOLE_DISCONNECT:
    case WTS_REMOTE_DISCONNECT:
      sessionShown_ = false;
      break;
    case WTS_SESSION_UNLOCK:
    case WTS_CONSOLE_CONNECT:
    case WTS_REMOTE_CONNECT:
      sessionShown_ = true;
      InvalidateRect(hwnd_, nullptr, FALSE);
      break;
    default:
      return;
  }
  UpdateFrameTimer();
}

void LauncherWindow::OnPowerSetting(const POWERBROADCAST_SETTING* setting) {
  if (!IsEqualGUID(setting->PowerSetting, kConsoleDisplayState) || setting->DataLength < sizeof(DWORD)) return;
  DWORD state = 0;
  memcpy(&state, setting->Data, sizeof(state));
  const bool on = state != 0;  // 0 off, 1 on, 2 dimmed (still seen)
  if (on && !displayOn_) InvalidateRect(hwnd_, nullptr, FALSE);
  displayOn_ = on;
  UpdateFrameTimer();
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
  const bool newTarget = !target_;
  if (!EnsureTarget()) {
    ValidateRect(hwnd_, nullptr);
    return;
  }
  const double uiStart = ThreadProcessorSeconds();
  const double wallStart = WallSeconds();
  if (inputFrameWaits_) {
    KillTimer(hwnd_, kInputFrameTimer);  // this frame shows that input
    inputFrameWaits_ = false;
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

  // What the frame cost decides when the next one comes.
  const double wallEnd = WallSeconds(), uiEnd = ThreadProcessorSeconds(), process = ProcessProcessorSeconds();
  const bool quiet = !(callbacks_.workRuns && callbacks_.workRuns());
  FrameSample sample;
  sample.wallMs = (wallEnd - wallStart) * 1000;
  if (uiStart >= 0 && uiEnd >= 0) sample.uiMs = (uiEnd - uiStart) * 1000;
  if (process >= 0 && lastProcessSeconds_ >= 0) sample.processMs = (process - lastProcessSeconds_) * 1000;
  sample.quiet = quiet && lastFrameQuiet_ && lastFrameEnd_ >= 0 && wallStart - lastFrameEnd_ < kQuietGapSeconds;
  // A frame that made its target pays for fonts, bitmaps and the renderer's start once.
  if (!newTarget) costs_.Add(sample);
  lastProcessSeconds_ = process;
  lastFrameQuiet_ = quiet;
  lastFrameEnd_ = wallEnd;
  UpdateFrameTimer(true);
  // An overlay that opens answers a click: its few frames come as input's do.
  if (ui_.overlayOpen && ui_.now - ui_.overlayStart < kOverlayOpeningSeconds) RequestInputFrame(false);
}

FrameView LauncherWindow::View() const {
  FrameView view;
  view.visible = IsWindowVisible(hwnd_) != FALSE;
  view.minimised = IsIconic(hwnd_) != FALSE;
  BOOL cloaked = FALSE;
  view.cloaked = SUCCEEDED(DwmGetWindowAttribute(hwnd_, DWMWA_CLOAKED, &cloaked, sizeof(cloaked))) && cloaked;
  view.covered = view.visible && !view.minimised && CoveredByAnotherWindow(hwnd_);
  view.sessionShown = sessionShown_;
  view.displayOn = displayOn_;
  return view;
}

void LauncherWindow::UpdateFrameTimer(bool afterFrame) {
  if (!hwnd_) return;
  PacingInput in;
  in.view = View();
  in.foreground = GetForegroundWindow() == hwnd_;
  in.animating = ui_.input.animating || (callbacks_.showsProgress && callbacks_.showsProgress());
  in.workRuns = callbacks_.workRuns && callbacks_.workRuns();
  const int period = FramePeriodMs(in, costs_.Mean());
  // After a frame the timer starts again, so that the pause counts from the frame's end;
  // otherwise it changes only with the period (the tick must not put the next frame off).
  if (period == framePeriod_ && !(afterFrame && period != 0)) return;
  framePeriod_ = period;
  if (period == 0) {
    KillTimer(hwnd_, kFrameTimer);
  } else {
    SetTimer(hwnd_, kFrameTimer, static_cast<UINT>(period), nullptr);
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
