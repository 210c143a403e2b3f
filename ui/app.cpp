#include "ui/app.h"

#include <utility>

#include "base/catalogue.h"
#include "base/config.h"
#include "base/files.h"
#include "base/format.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/registry.h"
#include "base/text.h"
#include "base/version.h"
#include "base/worker_snapshot.h"
#include "manifest/signing_key.h"
#include "net/call_helper.h"
#include "net/resumable_download.h"
#include "system/game_launch.h"
#include "system/install.h"
#include "system/uninstall.h"
#include "ui/link_handover.h"
#include "ui/offscreen.h"
#include "ui/screens.h"
#include "ui/shot_scenarios.h"

namespace {

constexpr const wchar_t* kCaption = L"Talvoreen Multiplayer";

SyncMode ModeOf(int mode) { return mode == 1 ? SyncMode::Update : SyncMode::Check; }

std::wstring ServerFilesFolder(const LaunchOptions& options, const std::wstring& installDir) {
  return !options.cacheDir.empty() ? options.cacheDir : JoinPath(JoinPath(installDir, L"mods"), L"deathmatch");
}

}  // namespace

App::App(LaunchOptions options) : options_(std::move(options)) {
  QueryPerformanceFrequency(&clockFrequency_);
  QueryPerformanceCounter(&clockStart_);
  for (int i = 0; i < ServerCatalogue::kCount; ++i) playerCountUrls_[i] = ServerCatalogue::kPlayerCountUrls[i];
  state_.devServer = options_.devServer;
  lockRelease_.lock = options_.instanceLock;
}

App::~App() = default;

App::InstanceLockRelease::~InstanceLockRelease() {
  if (lock && *lock) {
    CloseHandle(static_cast<HANDLE>(*lock));
    *lock = nullptr;
  }
}

double App::Now() const {
  if (clock_) return clock_();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart - clockStart_.QuadPart) / static_cast<double>(clockFrequency_.QuadPart);
}


std::wstring App::LauncherExecutablePath() const {
  if (options_.installDir.empty()) {
    const std::wstring registered = RegisteredInstallDir();
    if (!registered.empty()) {
      const std::wstring installed = JoinPath(NormalizePath(registered), kLauncherExeName);
      if (FileExists(installed)) return installed;
    }
  }
  return GetModulePath();
}

std::wstring App::GtaFolder() const { return gta_ ? gta_->GameFolder() : std::wstring(); }

int App::AskPlayer(const std::wstring& text, unsigned flags) {
  if (messageBox_) return messageBox_(text, flags);
  return MessageBoxW(Window(), text.c_str(), kCaption, flags);
}

// ---------------------------------------------------------------------------------------
// Start-up and the window

int App::Run(HINSTANCE instance, int showCommand) {
  if (!graphics_.Init()) {
    MessageBoxW(nullptr, L"Grafik bileşenleri (Direct2D) başlatılamadı.", L"Talvoreen", MB_OK | MB_ICONERROR);
    return 1;
  }
  Prepare();

  WindowCallbacks callbacks;
  callbacks.drawFrame = [this](Ui& ui, Canvas& canvas) { DrawFrame(ui, canvas); };
  callbacks.refreshSnapshot = [this] { RefreshSnapshot(); };
  callbacks.onTick = [this] { OnTick(); };
  callbacks.openLink = [this](std::wstring link) { OpenJoinLink(link); };
  callbacks.onEscape = [this] {
    if (state_.overlay == Overlay::None || uninstall_.IsRunning()) return false;
    QueueAction(kActionCloseOverlay);
    return true;
  };
  callbacks.processActions = [this] { ProcessActions(); };
  callbacks.hasQueuedActions = [this] { return !actions_.empty(); };
  callbacks.showsProgress = [this] { return ShowsProgress(); };
  callbacks.workRuns = [this] { return WorkRuns(); };
  callbacks.now = [this] { return Now(); };
  window_ = std::make_unique<LauncherWindow>(graphics_, std::move(callbacks));
  if (!window_->Create(instance, showCommand)) {
    LogLine(L"the launcher window could not be created");
    return 1;
  }
  window_->StartTickTimer();
  // An empty link (a bare "--link") only brings the window up, as a forwarded one does.
  if (options_.link && !options_.link->empty()) OpenJoinLink(*options_.link);
  // The window's end is the launcher's normal end, whatever the quit message carried.
  LauncherWindow::RunMessageLoop();
  return 0;
}

void App::Prepare() {
  launcherPath_ = LauncherExecutablePath();
  const bool developmentTree = IsDevelopmentTree(GetModulePath(), &FileExists);
  const bool oldVersion = options_.testOldVersion || developmentTree;
  updater_.Init(options_.contentBaseUrl, launcherPath_, oldVersion ? "0.0.0" : kLauncherVersion);
  updater_.Start();
  AdoptStartupFolder(developmentTree);
}

void App::AdoptStartupFolder(bool developmentTree) {
  if (!options_.installDir.empty()) {
    SetInstallDir(NormalizePath(options_.installDir));
    return;
  }
  std::wstring folder;
  if (!options_.testOldVersion && !developmentTree) {
    folder = FindExistingInstall();
    if (!folder.empty()) RepairRegistration(folder);
  }
  if (!options_.testOldVersion) MigrateDesktopLaunchers();
  if (folder.empty()) {
    const std::wstring registered = RegisteredInstallDir();
    if (!registered.empty()) folder = NormalizePath(registered);
  }
  if (!folder.empty()) {
    SetInstallDir(folder);
    return;
  }
  state_.setupCandidate = kDefaultInstallDir;
  state_.setupFreeSpaceKnown = FreeSpaceForFolder(state_.setupCandidate, state_.setupFreeSpace);
}

void App::SetInstallDir(const std::wstring& folder) {
  adoptedInstallation_ = HoldsInstallation(folder);
  SetLogDirectory(JoinPath(folder, kLogFolder));
  LogLine(std::wstring(L"Talvoreen Launcher ") + kLauncherVersionW + L" | install " + folder + L" | exe " +
          GetModulePath());
  LogLine(BuildKeyLine());

  state_.installed = true;
  state_.installFolder = folder;
  game_.SetContentBaseUrl(options_.contentBaseUrl);
  game_.SetInstallFolder(folder);
  if (!gta_ || !gta_->IsRunning()) gta_ = std::make_unique<GtaInstaller>(folder, options_.gtaArchiveUrl);
  state_.gtaValid = gta_->IsInstalled();
  // An old copy that an earlier build's installation could not delete goes in the background.
  if (!gta_->IsRunning() && gta_->LeftoverOldCopy()) StartGta(false);
  state_.initialCheckPending = true;

  if (!playersStarted_) {
    std::array<std::wstring, ServerCatalogue::kCount> urls = playerCountUrls_;
    urls[ServerCatalogue::kDevIndex].clear();
    players_.SetUrls(urls);
    players_.Start();
    playersStarted_ = true;
  }

  ConfigureServerSyncs();

  const int restored = ReadSelectedServer();
  if (restored >= 0 && (restored != ServerCatalogue::kDevIndex || state_.devServer)) {
    state_.selected = restored;
    state_.selectionDeferred = true;
  }
}

// Also after an uninstall, when the state files are gone. A sync that runs (it should not)
// keeps its configuration rather than have it changed under it.
void App::ConfigureServerSyncs() {
  for (int i = 0; i < ServerCatalogue::kCount; ++i) {
    if (servers_[i].IsRunning()) continue;
    const std::wstring list =
        !options_.serverListUrl.empty() ? options_.serverListUrl : ServerCatalogue::kClientFilesUrls[i];
    servers_[i].ConfigureServer(state_.installFolder, ServerFilesFolder(options_, state_.installFolder), list,
                                ServerCatalogue::kKeys[i]);
  }
}

void App::DrawFrame(Ui& ui, Canvas& canvas) {
  ui.shotsMode = shotsMode_;
  const StatusView status = BuildStatusView();
  FrameModel model{state_, snap_, status, actions_};
  DrawLauncherFrame(ui, canvas, model);
}

// Downloads and games come first: while any of them runs, drawing keeps to the smaller share.
bool App::WorkRuns() const {
  if (state_.uninstallRunning || state_.runningCount > 0 || game_.IsRunning() || (gta_ && gta_->IsRunning())) return true;
  for (const GameSync& server : servers_) {
    if (server.IsRunning()) return true;
  }
  return false;
}

bool App::ShowsProgress() const {
  if (state_.uninstallRunning) return true;
  const bool server = state_.selected >= 0 && servers_[state_.selected].IsRunning();
  return game_.IsRunning() || (gta_ && gta_->IsRunning()) || server;
}

// ---------------------------------------------------------------------------------------
// The tick

void App::OnTick() {
  RefreshSnapshot();

  // Uninstall completion.
  UninstallSnapshot uninstallResult;
  if (uninstall_.TakeResult(uninstallResult)) FinishUninstall(uninstallResult);

  // Updater: restart when it staged a launcher and nothing is busy. The busy test must see
  // a game started a moment ago and a check the uninstall completion just started.
  state_.runningCount = CountRunningGameInstances();
  CopyRunningFlags();
  const int updateState = snap_.updater.state;
  if (updateState == kUpdateReady && !state_.restarting && !state_.restartFailed) {
    if (WorkBlocksRestart(state_, snap_)) {
      state_.newLauncherStaged = true;
    } else {
      RestartIntoNewLauncher();
      return;
    }
  }
  if (state_.updateCheckRequestedByUser && !snap_.updaterBusy) {
    state_.updateCheckRequestedByUser = false;
    if (updateState == kUpdateNoUpdate) {
      state_.updaterMessage = L"Yeni launcher sürümü henüz yayınlanmamış; biraz sonra tekrar dene.";
    } else if (updateState == kUpdateFailed) {
      state_.updaterMessage = snap_.updater.message;
    }
  }

  // Games: the launched copy showing up ends the launch window early.
  if (lastLaunched_ > 0 && IsGameInstanceRunning(lastLaunched_)) state_.launchDeadline = 0;
  if (state_.playRequested && state_.selected >= 0 && !servers_[state_.selected].IsRunning()) {
    state_.playRequested = false;
    if (servers_[state_.selected].GetSnapshot().status == kSyncUpToDate) Play(false);
  }

  // Game-file checks; none while the uninstall worker deletes the same files.
  if (state_.installed && !uninstall_.IsRunning()) {
    if (state_.initialCheckPending) {
      if (InitialCheckMayStart(state_, snap_)) {
        state_.initialCheckPending = false;
        StartGameSync(0, false);
        if (state_.selectionDeferred) {
          state_.selectionDeferred = false;
          if (state_.selected >= 0) StartServerSync(state_.selected, SyncMode::Check);
        }
      }
    } else if (state_.selectionDeferred && !game_.IsRunning()) {
      // A link selected its server while the first check ran; its files are checked now.
      state_.selectionDeferred = false;
      if (state_.selected >= 0) StartServerSync(state_.selected, SyncMode::Check);
    } else if (state_.runningCount == 0 && !game_.IsRunning() && !(gta_ && gta_->IsRunning())) {
      const std::wstring marker = JoinPath(JoinPath(state_.installFolder, kStateFolder), kVerifyRequestFile);
      if (options_.installDir.empty() && FileExists(marker)) {
        DeleteFileW(marker.c_str());
        LogLine(L"verification requested by the game");
        StartGameSync(1, true);
      } else {
        CopyRunningFlags();
        snap_.game = ReadWorker(game_, snap_.gameRunning);
        if (PeriodicCheckDue(state_, snap_)) StartGameSync(0, false);
      }
    }
  }

  // Periodic launcher update check.
  state_.now = Now();
  if (lastUpdaterCheck_ == 0) lastUpdaterCheck_ = state_.now;
  CopyRunningFlags();
  if (UpdateCheckDue(state_, snap_, lastUpdaterCheck_)) {
    lastUpdaterCheck_ = state_.now;
    updater_.Start();
  }

  state_.gamesWereRunning = state_.runningCount > 0;
  EnsureGta();
  RefreshSnapshot();
  TryJoinPendingLink();
  UpdateTaskbar();
  LogStatusChange();
}

// What the player saw is the first question of every support request; the status bar's
// title changes rarely, so each change is one line.
void App::LogStatusChange() {
  if (!state_.installed) return;
  const StatusView view = BuildStatusView();
  if (view.title == lastStatusTitle_) return;
  lastStatusTitle_ = view.title;
  LogLine(L"status: " + view.title + (view.detailIsError ? L" (" + view.detail + L")" : std::wstring()));
}

void App::UpdateTaskbar() {
  if (!window_) return;
  const TaskbarState t = ComputeTaskbarState(snap_);
  window_->SetTaskbarProgress(static_cast<TaskbarProgress>(t.state), t.completed, t.total);
}

// For the tick's steps that need only whether a worker runs, not its status.
void App::CopyRunningFlags() {
  snap_.gameRunning = game_.IsRunning();
  snap_.gtaRunning = gta_ && gta_->IsRunning();
  snap_.updaterBusy = updater_.IsRunning();
  for (int i = 0; i < ServerCatalogue::kCount; ++i) snap_.serverRunning[i] = servers_[i].IsRunning();
}

void App::RefreshSnapshot() {
  if (shotsMode_) return;
  state_.now = Now();
  snap_.game = ReadWorker(game_, snap_.gameRunning);
  snap_.gtaRunning = false;
  if (gta_) snap_.gta = ReadWorker(*gta_, snap_.gtaRunning);
  snap_.players = players_.Snapshot();
  snap_.updater = ReadWorker(updater_, snap_.updaterBusy);
  for (int i = 0; i < ServerCatalogue::kCount; ++i) snap_.servers[i] = ReadWorker(servers_[i], snap_.serverRunning[i]);

  if (snap_.game.status == kSyncDownloading) samplers_[kGameSampler].Sample(state_.now, snap_.game.bytesDownloaded);
  const int sel = state_.selected;
  if (sel >= 0 && snap_.servers[sel].status == kSyncDownloading) {
    samplers_[kServerSampler].Sample(state_.now, snap_.servers[sel].bytesDownloaded);
  }
  if (snap_.gta.status == kGtaDownloading) samplers_[kGtaSampler].Sample(state_.now, snap_.gta.downloadDone);
  state_.gtaValid = state_.installed && gta_ && gta_->IsInstalled();
  if (snap_.gta.status != lastGtaPhase_) {
    if (snap_.gta.status == kGtaDone) state_.gtaReinstall = false;
    if (snap_.gta.status != kGtaDownloading) samplers_[kGtaSampler].Reset();
    lastGtaPhase_ = snap_.gta.status;
  }
  state_.gameSpeed = samplers_[kGameSampler].speed;
  state_.serverSpeed = samplers_[kServerSampler].speed;
  state_.gtaSpeed = samplers_[kGtaSampler].speed;

  const UninstallSnapshot uninstall = ReadWorker(uninstall_, state_.uninstallRunning);
  state_.uninstallDeleted = uninstall.deleted;
  state_.uninstallError = !uninstallRefusal_.empty() ? uninstallRefusal_ : uninstall.error;
}

void App::StartGameSync(int mode, bool verifyAll) {
  lastMode_ = mode;
  samplers_[kGameSampler].Reset();
  game_.Start(ModeOf(mode), verifyAll);
  state_.lastCheckTime = state_.checkStartTime = Now();
  ++gameRunsStarted_;
}

void App::StartServerSync(int server, SyncMode mode) {
  if (server < 0 || server >= ServerCatalogue::kCount || servers_[server].IsRunning()) return;
  servers_[server].Start(mode, false);
}

void App::StartGta(bool reinstall) {
  if (!gta_) return;
  samplers_[kGtaSampler].Reset();
  gta_->Start(reinstall);
}

void App::JoinWorkersForTests() {
  game_.Join();
  for (GameSync& s : servers_) s.Join();
  if (gta_) gta_->Join();
  updater_.Join();
  uninstall_.Join();
}

// ---------------------------------------------------------------------------------------
// Screenshot mode

int App::RenderShots() {
  shotsMode_ = true;
  if (!graphics_.Init()) return 1;
  const std::wstring folder = NormalizePath(options_.shotsDir);
  CreateDirectoryTree(folder);
  if (!DirectoryExists(folder)) return 1;

  state_.setupFreeSpaceKnown = FreeSpaceForFolder(kDefaultInstallDir, state_.setupFreeSpace);
  size_t count = 0;
  const ShotScenario* shots = ShotScenarios(count);
  for (size_t i = 0; i < count; ++i) {
    const ShotScenario& shot = shots[i];
    if (shot.devServerOnly && !state_.devServer) continue;
    shot.apply(state_, snap_);
    const std::wstring path = JoinPath(folder, std::wstring(shot.name) + L".png");
    const bool written = RenderFrameToPng(graphics_, 1.0f, path, [this](Canvas& canvas) {
      Ui ui;
      ui.shotsMode = true;
      ui.BeginFixedFrame(2.4, 1.0);
      DrawFrame(ui, canvas);
      ui.EndFrame();
    });
    if (!written) return 2;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------
// Run modes

int RunScreenshotMode(const LaunchOptions& options) {
  App app(options);
  return app.RenderShots();
}

int RunWindowMode(const LaunchOptions& options) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  GetStartupInfoW(&startup);
  const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWNORMAL;
  int code;
  {
    // Every worker's destructor cancels its run; requests see the flag within a moment even
    // when their host never answers, so the single-instance lock is released soon after.
    App app(options);
    code = app.Run(GetModuleHandleW(nullptr), show);
  }
  if (const uint32_t blocked = CallHelper::LeftBehind()) {
    LogLine(L"network calls still blocked at exit: " + DecimalText(static_cast<unsigned long long>(blocked)));
  }
  return code;
}
