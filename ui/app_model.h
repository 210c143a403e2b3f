// What the launcher window shows, as plain data: the copy of the workers' statuses the UI
// thread works from (UiSnapshot), the controller's own state that screens read (AppState),
// the actions widgets queue, and the status-bar record built from both. Portable, so the
// rules that pick screens and texts are tested without a window.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/catalogue.h"
#include "base/game_copies.h"
#include "gta/gta_installer.h"
#include "net/player_count_parse.h"
#include "sync/game_sync.h"
#include "ui/canvas.h"
#include "update/launcher_updater.h"

enum class Overlay : int { None = 0, Settings = 1, Uninstall = 2 };

enum ActionId : int32_t {
  kActionPlay = 0,
  kActionOpenAnother = 1,
  kActionSelectServer0 = 2,  // 2..5: server 0..3
  kActionRetryServerFiles = 6,
  kActionDownloadServerFiles = 7,
  kActionOpenSettings = 8,
  kActionCloseOverlay = 9,
  kActionRetryGta = 10,
  kActionReinstallGta = 11,
  kActionChooseFolder = 12,
  kActionInstall = 13,
  kActionOpenFolder = 14,
  kActionVerifyFiles = 15,
  kActionOpenUninstall = 16,
  kActionConfirmUninstall = 17,
  kActionRetrySync = 18,
  kActionDownloadGameFiles = 19,
  kActionUpdateLauncher = 20,
  kActionMinimize = 21,
  kActionClose = 22,
};
inline constexpr int kActionCount = 23;

// The statuses of every worker, copied on the UI thread.
struct UiSnapshot {
  SyncSnapshot game;
  bool gameRunning = false;  // the game-file GameSync's running flag
  GtaSnapshot gta;
  bool gtaRunning = false;
  UpdateSnapshot updater;
  bool updaterBusy = false;
  std::array<PlayerCountEntry, ServerCatalogue::kCount> players{};
  std::array<SyncSnapshot, ServerCatalogue::kCount> servers{};
  std::array<bool, ServerCatalogue::kCount> serverRunning{};
};

// The controller's state that screens and status rules read. Times are seconds on the
// App clock.
struct AppState {
  double now = 0;

  bool installed = false;
  std::wstring installFolder;
  std::wstring setupCandidate = L"C:\\Talvoreen";
  std::wstring setupError;
  bool setupFreeSpaceKnown = false;
  uint64_t setupFreeSpace = 0;  // bytes available at the candidate's nearest existing folder

  Overlay overlay = Overlay::None;
  double overlayStart = 0;

  bool devServer = false;
  int selected = -1;  // catalogue index or -1
  bool playRequested = false;
  bool selectionDeferred = false;
  bool initialCheckPending = false;
  bool gtaReinstall = false;
  bool gtaValid = false;

  std::wstring launchError;
  double launchDeadline = 0;
  int runningCount = 0;  // game copies counted at the last tick
  bool gamesWereRunning = false;

  double lastCheckTime = 0;
  double checkStartTime = 0;

  bool updateCheckRequestedByUser = false;
  bool restarting = false;
  bool newLauncherStaged = false;
  // The staged launcher could not be swapped in or started; it stays unused until the
  // player asks for the update again, and the window goes on with this version.
  bool restartFailed = false;
  std::wstring updaterMessage;

  // Speeds of the game-file, selected-server and GTA downloads, bytes per second.
  double gameSpeed = 0, serverSpeed = 0, gtaSpeed = 0;

  bool uninstallRunning = false;
  uint32_t uninstallDeleted = 0;
  std::wstring uninstallError;
};

enum StatusKind : int32_t {
  kStatusReady = 0,
  kStatusWarning = 1,
  kStatusError = 2,
  kStatusPrompt = 3,
  kStatusTransfer = 4,
  kStatusBusy = 9,
  kStatusRunning = 10,
};

inline constexpr Color kAccentBlue = Rgb(132, 150, 255);
inline constexpr Color kAccentAmber = Rgb(242, 180, 79);
inline constexpr Color kAccentRed = Rgb(255, 102, 118);
inline constexpr Color kAccentGreen = Rgb(85, 214, 160);

// The status bar of one frame.
struct StatusView {
  int32_t kind = kStatusBusy;
  Color accent = Color{0, 0, 0, 1};
  std::wstring title;
  std::wstring detail;
  bool detailIsError = false;
  float progress = -1;  // -1 none, 0..1 fraction, 2 indeterminate
  std::wstring primaryLabel;
  bool primaryEnabled = false;
  int32_t primaryAction = kActionPlay;
  bool primaryIsPlay = false;
  bool retryLink = false;
  std::wstring secondaryLabel;  // empty: no secondary button
  int32_t secondaryAction = kActionPlay;
  bool secondaryEnabled = true;
};

inline constexpr double kLaunchWindowSeconds = 20;
inline constexpr double kSlowServerSeconds = 8;
