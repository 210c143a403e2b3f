// The launcher's one borderless window: class, size from the monitor DPI, message handling,
// the frame loop with its timer, forwarded join links and taskbar progress. What is drawn
// and what the clicks mean belong to the owner, through WindowCallbacks.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <cstdint>
#include <functional>
#include <string>

#include "ui/frame_pacing.h"
#include "ui/graphics.h"
#include "ui/widgets.h"

inline constexpr UINT kRunActionsMessage = WM_APP + 1;
inline constexpr UINT kForwardedLinkMessage = WM_APP + 2;
inline constexpr UINT_PTR kTickTimer = 1;
inline constexpr UINT_PTR kFrameTimer = 2;
inline constexpr UINT_PTR kInputFrameTimer = 3;  // one shot: a hover's frame once the last frame has been paid for

enum class TaskbarProgress { None = 0, Indeterminate = 1, Normal = 2, Error = 4, Paused = 8 };

struct WindowCallbacks {
  std::function<void(Ui&, Canvas&)> drawFrame;  // background, screen, overlays, title bar
  std::function<void()> refreshSnapshot;        // before every frame
  std::function<void()> onTick;                 // timer 1; the window then updates its frame timer and repaints
  std::function<void(std::wstring)> openLink;   // a forwarded join link, on WM_APP+2
  // Escape while an overlay is open; true when it queued an action (the owner knows whether
  // the overlay may close, e.g. not while an uninstall runs).
  std::function<bool()> onEscape;
  std::function<void()> processActions;         // WM_APP+1
  std::function<bool()> hasQueuedActions;
  std::function<bool()> showsProgress;          // workers showing progress keep the frames going
  std::function<bool()> workRuns;               // downloads, syncs or a game: drawing takes the smaller share
  std::function<double()> now;                  // seconds; the window's own clock when empty
};

using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

// The one place that decides the window's DPI: the monitor's effective DPI, or without
// GetDpiForMonitor (Windows 7, 8.0) the system DPI.
unsigned WindowDpiForMonitor(HMONITOR monitor, GetDpiForMonitorFn getDpi);

class LauncherWindow {
 public:
  LauncherWindow(const Graphics& graphics, WindowCallbacks callbacks);
  ~LauncherWindow();
  LauncherWindow(const LauncherWindow&) = delete;
  LauncherWindow& operator=(const LauncherWindow&) = delete;

  // Registers the class, creates and shows the window and its render target.
  bool Create(HINSTANCE instance, int showCommand);
  HWND Handle() const { return hwnd_; }
  Ui& GetUi() { return ui_; }
  unsigned Dpi() const { return dpi_; }
  uint64_t FramesDrawn() const { return framesDrawn_; }
  int FrameTimerPeriodMs() const { return framePeriod_; }
  double MeanFrameCostMs() const { return costs_.Mean(); }
  // Whether anybody can see the window: shown, not minimised, cloaked or covered, the
  // session unlocked and connected, the display on.
  FrameView View() const;

  // Sets the frame timer from the pacing rule; after a frame it starts the pause anew.
  void UpdateFrameTimer(bool afterFrame = false);
  void SetTaskbarProgress(TaskbarProgress state, uint64_t completed, uint64_t total);
  void StartTickTimer() { SetTimer(hwnd_, kTickTimer, 500, nullptr); }
  // Hides the window at once and closes it with the next message; from now on it takes no
  // hand-over from a second start, which waits for the lock instead.
  void BeginClose();
  // Pumps messages until WM_QUIT; returns its exit code.
  static int RunMessageLoop();

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  double Now() const;
  bool EnsureTarget();
  void ReleaseTarget();
  void DrawFrame();
  void OnKeyDown(WPARAM key);
  // Input's frame: at once for a press or a key, for a mouse move once the last frame is paid for.
  void RequestInputFrame(bool pressOrKey);
  void OnSessionChange(WPARAM event);
  void OnPowerSetting(const POWERBROADCAST_SETTING* setting);
  double WallSeconds() const;

  const Graphics& graphics_;
  WindowCallbacks callbacks_;
  HWND hwnd_ = nullptr;
  unsigned dpi_ = 96;
  Ui ui_;
  ComPtr<ID2D1HwndRenderTarget> target_;
  ComPtr<ID2D1SolidColorBrush> brush_;
  TargetBitmaps bitmaps_;
  ComPtr<ITaskbarList3> taskbar_;
  UINT taskbarCreatedMessage_ = 0;
  int taskbarState_ = -1;
  std::wstring pendingLink_;
  bool closing_ = false;
  int framePeriod_ = 0;
  uint64_t framesDrawn_ = 0;
  FrameCosts costs_;
  double lastFrameEnd_ = -1;  // WallSeconds
  double lastProcessSeconds_ = -1;
  bool lastFrameQuiet_ = false;
  bool sessionShown_ = true, displayOn_ = true;
  bool sessionNotifications_ = false;
  bool inputFrameWaits_ = false;  // kInputFrameTimer is set
  HPOWERNOTIFY displayNotification_ = nullptr;
  LARGE_INTEGER clockStart_{}, clockFrequency_{};
};
