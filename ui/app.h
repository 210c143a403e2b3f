// The one object behind the launcher window. It owns every worker (game files, the four
// servers' client files, GTA, the launcher update, player counts), copies their statuses on
// the UI thread, turns clicks into work and runs the 500 ms tick. The decisions themselves
// are the pure rules of ui/app_rules.h; this class does what they say.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/launch_options.h"
#include "gta/gta_installer.h"
#include "net/player_count_service.h"
#include "sync/game_sync.h"
#include "system/uninstall_worker.h"
#include "ui/app_model.h"
#include "ui/app_rules.h"
#include "ui/graphics.h"
#include "ui/screen_rules.h"
#include "ui/window.h"
#include "update/launcher_updater.h"

// The file that asks the launcher for a full verification at its next idle tick, inside
// "<install folder>\.talvoreen" (the game client writes it when it finds a broken file).
inline constexpr const wchar_t* kVerifyRequestFile = L"verify-request";

class App {
 public:
  explicit App(LaunchOptions options);
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  int Run(HINSTANCE instance, int showCommand);
  // Start-up without the window: the update check starts and the install folder is adopted.
  void Prepare();
  int RenderShots();

  void SetInstallDir(const std::wstring& folder);
  void OnTick();
  void RefreshSnapshot();
  void ProcessActions();
  StatusView BuildStatusView() const { return ::BuildStatusView(state_, snap_); }

  void Play(bool another);
  void StartGameSync(int mode, bool verifyAll);
  void EnsureGta();
  void TryJoinPendingLink();
  void ConfirmUninstall();
  bool CanUninstall() const { return ::CanUninstall(state_, snap_); }
  void OpenJoinLink(const std::wstring& link);
  void SelectServer(int index);
  void ReinstallGta();
  void ChooseFolder();
  void InstallHere();

  void QueueAction(int32_t action) { actions_.push_back(action); }
  const AppState& State() const { return state_; }
  const UiSnapshot& Snapshot() const { return snap_; }
  HWND Window() const { return window_ ? window_->Handle() : nullptr; }
  bool JoinPending() const { return joinPending_; }

  // Seams for tests: the App clock, the player-count URLs (before SetInstallDir), the
  // player's answers to the two questions the window asks, and waiting for every worker.
  void SetClock(std::function<double()> clock) { clock_ = std::move(clock); }
  void SetPlayerCountUrls(const std::array<std::wstring, ServerCatalogue::kCount>& urls) { playerCountUrls_ = urls; }
  void SetMessageBox(std::function<int(const std::wstring& text, unsigned flags)> box) { messageBox_ = std::move(box); }
  void SetFolderPicker(std::function<bool(const std::wstring& proposed, std::wstring& chosen)> picker) {
    folderPicker_ = std::move(picker);
  }
  void JoinWorkersForTests();

 private:
  friend struct AppActions;  // the action table (app_actions.cpp)

  double Now() const;
  std::wstring LauncherExecutablePath() const;
  void AdoptStartupFolder(bool developmentTree);
  void DrawFrame(Ui& ui, Canvas& canvas);
  void Execute(int32_t action);
  void StartServerSync(int server, SyncMode mode);
  void ConfigureServerSyncs();
  void StartGta(bool reinstall);
  void CloseOverlay();
  void FinishUninstall(const UninstallSnapshot& result);
  void RestartIntoNewLauncher();
  void UpdateTaskbar();
  void CopyRunningFlags();
  void LogStatusChange();
  bool ShowsProgress() const;
  bool WorkRuns() const;
  int AskPlayer(const std::wstring& text, unsigned flags);
  std::wstring GtaFolder() const;

  LaunchOptions options_;
  AppState state_;
  UiSnapshot snap_;
  bool shotsMode_ = false;
  std::function<double()> clock_;
  LARGE_INTEGER clockStart_{}, clockFrequency_{};

  Graphics graphics_;
  std::unique_ptr<LauncherWindow> window_;
  // Closes the single-instance lock (LaunchOptions::instanceLock) when destroyed. Members are
  // destroyed in reverse: this runs after every worker below has ended and before the Direct2D
  // teardown above, COM's and the process's end, none of which a start right after the close
  // should wait for.
  struct InstanceLockRelease {
    void** lock = nullptr;
    ~InstanceLockRelease();
  } lockRelease_;

  GameSync game_;
  std::array<GameSync, ServerCatalogue::kCount> servers_;
  std::unique_ptr<GtaInstaller> gta_;
  LauncherUpdater updater_;
  PlayerCountService players_;
  bool playersStarted_ = false;
  std::array<std::wstring, ServerCatalogue::kCount> playerCountUrls_;
  std::wstring launcherPath_;

  enum Sampler { kGameSampler = 0, kServerSampler = 1, kGtaSampler = 2 };
  std::array<SpeedSampler, 3> samplers_;
  int lastGtaPhase_ = kGtaIdle;
  int lastLaunched_ = 0;
  int lastMode_ = 0;
  int gameRunsStarted_ = 0;
  double lastUpdaterCheck_ = 0;
  std::wstring lastStatusTitle_;

  bool joinPending_ = false;
  double linkTime_ = 0;

  UninstallWorker uninstall_;
  std::wstring uninstallRefusal_;  // why the last confirmation was refused
  bool adoptedInstallation_ = false;  // the folder held an installation before the window wrote to it

  std::vector<int32_t> actions_;
  std::function<int(const std::wstring&, unsigned)> messageBox_;
  std::function<bool(const std::wstring&, std::wstring&)> folderPicker_;
};

// The run modes behind the window: each returns the process exit code.
int RunScreenshotMode(const LaunchOptions& options);
int RunWindowMode(const LaunchOptions& options);
