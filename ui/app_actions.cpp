// What each ActionId does: one row per action, its handler beside it. Widgets queue the ids
// while a frame is drawn; the window runs the queue with WM_APP+1.
#include <windows.h>
#include <shellapi.h>

#include <iterator>

#include "ui/app.h"

struct AppActions {
  using Handler = void (*)(App& app, int32_t action);
  struct Row {
    int32_t first, last;  // the ids it handles (the four server cards share one row)
    Handler run;
  };
  static const Row kRows[];

  // Play waits for the selected server's files: their update starts first and the tick
  // launches once they are up to date.
  static void Play(App& a, int32_t) {
    const int sel = a.state_.selected;
    if (sel < 0) {
      a.Play(false);
      return;
    }
    a.state_.playRequested = true;
    if (!a.servers_[sel].IsRunning()) a.servers_[sel].Start(SyncMode::Update, false);
  }
  static void OpenAnother(App& a, int32_t) {
    const int sel = a.state_.selected;
    if (sel >= 0 && a.servers_[sel].GetSnapshot().status == kSyncUpToDate) a.Play(true);
  }
  static void SelectServer(App& a, int32_t action) { a.SelectServer(action - kActionSelectServer0); }
  static void RetryServerFiles(App& a, int32_t) {
    a.state_.playRequested = false;
    if (a.state_.selected >= 0) a.StartServerSync(a.state_.selected, SyncMode::Check);
  }
  static void DownloadServerFiles(App& a, int32_t) {
    a.samplers_[App::kServerSampler].Reset();
    a.state_.playRequested = false;
    if (a.state_.selected >= 0) a.StartServerSync(a.state_.selected, SyncMode::Update);
  }
  static void OpenSettings(App& a, int32_t) {
    a.state_.overlay = Overlay::Settings;
    a.state_.overlayStart = a.state_.now - kOverlayFirstStep;
  }
  static void CloseOverlay(App& a, int32_t) {
    if (!a.uninstall_.IsRunning()) a.CloseOverlay();
  }
  static void RetryGta(App& a, int32_t) { a.StartGta(a.state_.gtaReinstall); }
  static void ReinstallGta(App& a, int32_t) { a.ReinstallGta(); }
  static void ChooseFolder(App& a, int32_t) { a.ChooseFolder(); }
  static void Install(App& a, int32_t) { a.InstallHere(); }
  static void OpenFolder(App& a, int32_t) {
    if (a.state_.installFolder.empty()) return;
    ShellExecuteW(a.Window(), L"open", a.state_.installFolder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }
  static void VerifyFiles(App& a, int32_t) {
    a.CloseOverlay();
    a.StartGameSync(1, true);
  }
  static void OpenUninstall(App& a, int32_t) {
    a.uninstallRefusal_.clear();
    a.uninstall_.ClearError();
    a.state_.overlay = Overlay::Uninstall;
    a.state_.overlayStart = a.state_.now - kOverlayFirstStep;
  }
  static void ConfirmUninstall(App& a, int32_t) { a.ConfirmUninstall(); }
  static void RetrySync(App& a, int32_t) {
    a.state_.launchError.clear();
    a.StartGameSync(a.lastMode_, false);
  }
  static void DownloadGameFiles(App& a, int32_t) {
    a.state_.launchError.clear();
    a.StartGameSync(1, false);
  }
  static void UpdateLauncher(App& a, int32_t) {
    a.state_.updaterMessage.clear();
    a.state_.updateCheckRequestedByUser = true;
    a.state_.restartFailed = false;
    a.updater_.Start();
  }
  static void Minimize(App& a, int32_t) {
    if (a.Window()) ShowWindow(a.Window(), SW_MINIMIZE);
  }
  static void Close(App& a, int32_t) {
    if (a.Window()) PostMessageW(a.Window(), WM_CLOSE, 0, 0);
  }
};

const AppActions::Row AppActions::kRows[] = {
    {kActionPlay, kActionPlay, &AppActions::Play},
    {kActionOpenAnother, kActionOpenAnother, &AppActions::OpenAnother},
    {kActionSelectServer0, kActionSelectServer0 + 3, &AppActions::SelectServer},
    {kActionRetryServerFiles, kActionRetryServerFiles, &AppActions::RetryServerFiles},
    {kActionDownloadServerFiles, kActionDownloadServerFiles, &AppActions::DownloadServerFiles},
    {kActionOpenSettings, kActionOpenSettings, &AppActions::OpenSettings},
    {kActionCloseOverlay, kActionCloseOverlay, &AppActions::CloseOverlay},
    {kActionRetryGta, kActionRetryGta, &AppActions::RetryGta},
    {kActionReinstallGta, kActionReinstallGta, &AppActions::ReinstallGta},
    {kActionChooseFolder, kActionChooseFolder, &AppActions::ChooseFolder},
    {kActionInstall, kActionInstall, &AppActions::Install},
    {kActionOpenFolder, kActionOpenFolder, &AppActions::OpenFolder},
    {kActionVerifyFiles, kActionVerifyFiles, &AppActions::VerifyFiles},
    {kActionOpenUninstall, kActionOpenUninstall, &AppActions::OpenUninstall},
    {kActionConfirmUninstall, kActionConfirmUninstall, &AppActions::ConfirmUninstall},
    {kActionRetrySync, kActionRetrySync, &AppActions::RetrySync},
    {kActionDownloadGameFiles, kActionDownloadGameFiles, &AppActions::DownloadGameFiles},
    {kActionUpdateLauncher, kActionUpdateLauncher, &AppActions::UpdateLauncher},
    {kActionMinimize, kActionMinimize, &AppActions::Minimize},
    {kActionClose, kActionClose, &AppActions::Close},
};
static_assert(std::size(AppActions::kRows) == kActionCount - 3, "one row per action; the four cards share one");

void App::ProcessActions() {
  std::vector<int32_t> queue;
  queue.swap(actions_);
  for (int32_t action : queue) Execute(action);
  RefreshSnapshot();
  if (Window()) InvalidateRect(Window(), nullptr, FALSE);
}

void App::CloseOverlay() {
  state_.overlay = Overlay::None;
  if (window_) window_->GetUi().input.focused = 0;
}

void App::Execute(int32_t action) {
  state_.now = Now();
  for (const AppActions::Row& row : AppActions::kRows) {
    if (action >= row.first && action <= row.last) {
      row.run(*this, action);
      return;
    }
  }
}
