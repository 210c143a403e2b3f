// The user flows behind the actions and the tick: starting the game, the GTA download and
// its reinstall, choosing and installing into a folder, removing the game files, and the
// restart into a downloaded launcher. They run on the UI thread and change what the status
// bar shows or start a worker.
#include <windows.h>

#include "base/catalogue.h"
#include "base/config.h"
#include "base/files.h"
#include "base/format.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"
#include "base/version.h"
#include "system/game_launch.h"
#include "system/install.h"
#include "system/uninstall.h"
#include "ui/app.h"
#include "ui/link_handover.h"

namespace {

constexpr uint64_t kGtaArchiveSize = 610325061;

}  // namespace

void App::EnsureGta() {
  // The tick refreshed the statuses at its start; only a worker it started since matters.
  CopyRunningFlags();
  if (!GtaDownloadDue(state_, snap_)) return;
  LogLine(L"[gta] not installed in " + GtaFolder() + L", downloading it");
  state_.gtaReinstall = false;
  StartGta(false);
}

void App::Play(bool another) {
  state_.launchError.clear();
  const int sel = state_.selected;
  if (sel < 0 || servers_[sel].GetSnapshot().status != kSyncUpToDate) return;
  if ((CountRunningGameInstances() > 0) != another) return;
  const double now = Now();
  if (now < state_.launchDeadline) return;

  const int copy = FindFreeGameInstance();
  if (copy == 0) {
    state_.launchError =
        L"Aynı anda en fazla " + DecimalText(static_cast<long long>(kGameCopyLimit)) + L" oyun açılabilir.";
    return;
  }
  if (!FileExists(JoinPath(state_.installFolder, kGameExeName))) {
    state_.launchError = L"Oyun dosyaları eksik; dosyalar yeniden doğrulanıyor";
    StartGameSync(1, true);
    return;
  }
  if (!gta_ || gta_->IsRunning() || !gta_->IsInstalled()) return;
  std::wstring error;
  if (!gta_->Register(error)) {
    state_.launchError = error;
    return;
  }
  const std::wstring address = ServerCatalogue::kGameAddresses[sel];
  const std::wstring link = address.empty() ? std::wstring() : L"mtasa://" + address;
  if (!LaunchGame(state_.installFolder, copy, link, error)) {
    state_.launchError = error;
    return;
  }
  LogLine(L"started game copy " + DecimalText(static_cast<long long>(copy)) + L" for " + ServerCatalogue::kKeys[sel]);
  lastLaunched_ = copy;
  state_.launchDeadline = now + kLaunchWindowSeconds;
  if (Window()) ShowWindow(Window(), SW_MINIMIZE);
}

void App::ReinstallGta() {
  RefreshSnapshot();
  if (!CanReinstallGta(state_, snap_)) return;
  const std::wstring text = L"GTA: San Andreas dosyaları yeniden indirilip temiz olarak kurulacak (yaklaşık " +
                            FormatSize(kGtaArchiveSize) +
                            L"). Klasöre eklenen modlar silinir ve bitene kadar oyun açılamaz.\n\nDevam edilsin mi?";
  if (AskPlayer(text, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) return;
  // The box is modal: a game may have started or a download begun while it was open.
  RefreshSnapshot();
  state_.runningCount = CountRunningGameInstances();
  if (!CanReinstallGta(state_, snap_)) return;
  LogLine(L"[gta] reinstall requested in Ayarlar");
  state_.gtaReinstall = true;
  CloseOverlay();
  StartGta(true);
}

void App::ChooseFolder() {
  std::wstring chosen;
  const bool picked = folderPicker_ ? folderPicker_(state_.setupCandidate, chosen)
                                    : ChooseInstallFolder(Window(), state_.setupCandidate, chosen);
  if (!picked || chosen.empty()) return;
  state_.setupCandidate = InstallCandidateFor(NormalizePath(chosen));
  state_.setupError.clear();
  state_.setupFreeSpaceKnown = FreeSpaceForFolder(state_.setupCandidate, state_.setupFreeSpace);
}

void App::InstallHere() {
  std::wstring launcherPath, error;
  if (!InstallIntoFolder(state_.setupCandidate, launcherPath, error)) {
    state_.setupError = error;
    return;
  }
  state_.setupError.clear();
  SetInstallDir(NormalizePath(state_.setupCandidate));
}

void App::ConfirmUninstall() {
  RefreshSnapshot();
  state_.runningCount = CountRunningGameInstances();
  if (!CanUninstall()) {
    uninstallRefusal_ = UninstallRefusalText(state_);
    return;
  }
  // A folder given with --dir that held no installation when it was adopted: the window's
  // own log made "TALVOREEN" since, which must not make its mods and skins removable.
  if (!adoptedInstallation_ && !IsInstallFolder(state_.installFolder)) {
    uninstallRefusal_ = kNoInstallationText;
    return;
  }
  uninstallRefusal_.clear();
  LogLine(L"removing the game files of " + state_.installFolder);
  if (!uninstall_.Start(state_.installFolder, GtaFolder())) return;
  state_.uninstallRunning = true;
}

void App::FinishUninstall(const UninstallSnapshot& result) {
  const bool ok = result.ok;
  LogLine(ok ? L"game files removed" : L"game files removed with errors: " + result.error);
  // The state files are gone: every sync object must forget what it had read. One that
  // runs (it should not) keeps its configuration rather than have it changed under it.
  if (!game_.IsRunning()) game_.SetInstallFolder(state_.installFolder);
  ConfigureServerSyncs();
  state_.launchError.clear();
  StartGameSync(0, false);
  if (state_.selected >= 0) StartServerSync(state_.selected, SyncMode::Check);
  if (ok) CloseOverlay();
}

void App::RestartIntoNewLauncher() {
  state_.restarting = true;
  std::wstring error;
  if (!LauncherUpdater::ApplyUpdate(snap_.updater.stagedPath, launcherPath_, error)) {
    // The staged file stays unused until the player asks for the update again; otherwise
    // every tick would try the same failing swap.
    state_.updaterMessage = error;
    state_.restarting = false;
    state_.restartFailed = true;
    state_.newLauncherStaged = false;
    LogLine(L"the updated launcher could not be put in place: " + error);
    return;
  }
  if (options_.instanceLock && *options_.instanceLock) {
    CloseHandle(static_cast<HANDLE>(*options_.instanceLock));
    *options_.instanceLock = nullptr;
  }
  const std::wstring joinKey =
      joinPending_ && state_.selected >= 0 ? std::wstring(ServerCatalogue::kKeys[state_.selected]) : std::wstring();
  const std::wstring arguments = RestartArguments(GetCurrentProcessId(), options_.installDir, options_.contentBaseUrl,
                                                  TALVOREEN_DEFAULT_CONTENT_BASE_URL, joinKey);
  LogLine(L"restarting into the updated launcher: " + arguments);
  unsigned long code = 0;
  if (StartProgram(launcherPath_, arguments, ParentPath(launcherPath_), code)) {
    if (window_) window_->BeginClose();
    return;
  }
  state_.updaterMessage = WithSystemError(L"Güncellenen launcher açılamadı", code);
  state_.restarting = false;
  state_.restartFailed = true;
  state_.newLauncherStaged = false;
  LogLine(L"the updated launcher could not be started: " + WindowsErrorText(code));
  // This window goes on, so it takes the single-instance lock back: a later start must
  // hand its link over instead of opening a second window.
  if (options_.instanceLock && !*options_.instanceLock) {
    *options_.instanceLock = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
  }
}
