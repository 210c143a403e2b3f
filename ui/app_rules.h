// The controller's decisions as pure functions of its state and the worker snapshot: the
// status bar, when checks start, the speed
// samplers, the join-link step, taskbar progress and the restart command line. The Windows
// controller (App) calls these and does what they say. Portable.
#pragma once

#include <cstdint>
#include <string>

#include "ui/app_model.h"

// The status bar: the first rule that applies wins.
StatusView BuildStatusView(const AppState& app, const UiSnapshot& snap);

// Busy for the updater's restart: a game runs, a worker is busy, play was pressed or a launch
// is inside its window.
bool WorkBlocksRestart(const AppState& app, const UiSnapshot& snap);

// The bar's promise that a staged launcher is installed once the games close: only while the
// staged file waits and no restart into it has failed.
bool NewLauncherPromised(const AppState& app, const UiSnapshot& snap);

// Why the window refuses to remove the game files (CanUninstall is false): a game that runs
// or was just started, otherwise a download.
std::wstring UninstallRefusalText(const AppState& app);

// The GTA installer connects, downloads or unpacks.
bool IsGtaBusy(const GtaSnapshot& gta);

// The "Oynamaya hazır" detail line for a server; a server without a game address is joined
// from the game's own menu.
std::wstring ReadyDetail(const std::wstring& name, const std::wstring& gameAddress, uint32_t filesUnavailable);

// The first game-file check after start-up: once the updater is not busy, or still checking
// 15 s after start-up; never while a restart is under way.
bool InitialCheckMayStart(const AppState& app, const UiSnapshot& snap);

// Later checks, when no game runs and neither GameSync nor the GTA installer is busy: after
// games were running at the previous tick, on a game-running status, or 300 s after the last.
bool PeriodicCheckDue(const AppState& app, const UiSnapshot& snap);

// The periodic launcher update check (300 s, idle, nothing busy).
bool UpdateCheckDue(const AppState& app, const UiSnapshot& snap, double lastUpdaterCheck);

// EnsureGta's conditions for starting the GTA download by itself.
bool GtaDownloadDue(const AppState& app, const UiSnapshot& snap);

// One download's speed, sampled at most every 0.5 s and smoothed.
struct SpeedSampler {
  double lastTime = -1;  // -1: reset
  uint64_t lastBytes = 0;
  double speed = 0;

  void Reset() { lastTime = -1, lastBytes = 0, speed = 0; }
  // A negative time or bytes going backwards restarts the measurement (speed 0).
  void Sample(double now, uint64_t bytes);
};

// The auto-join step for a pending link.
enum class JoinStep { Cancel, Wait, Join, NotJoining };
struct JoinDecision {
  JoinStep step = JoinStep::Wait;
  std::wstring statusTitle;  // for the log line when not joining
};
JoinDecision DecideJoin(const AppState& app, const UiSnapshot& snap, double linkTime);

// Taskbar progress: state 0 none, 1 indeterminate, 2 normal, 4 error, 8 paused.
struct TaskbarState {
  int state = 0;
  uint64_t completed = 0, total = 0;
};
TaskbarState ComputeTaskbarState(const UiSnapshot& snap);

// The folder picked in the folder dialog, normalised, to the setup candidate: "\Talvoreen"
// is appended unless the last component already is "Talvoreen" (any case).
std::wstring InstallCandidateFor(const std::wstring& chosenNormalised);

// The arguments of the new launcher after an update: "--after-update <pid>", then
// --dir, --cdn (when not the default) and --join as the restart needs them.
std::wstring RestartArguments(uint32_t processId, const std::wstring& dirOption, const std::wstring& contentBaseUrl,
                              const std::wstring& defaultContentBaseUrl, const std::wstring& joinKey);
