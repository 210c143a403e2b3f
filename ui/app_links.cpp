// The controller's join links: a link (from the command line or handed over by a second
// start) selects its server and, once the launcher is ready, presses OYNA for the player.
#include <windows.h>

#include "base/catalogue.h"
#include "base/log.h"
#include "base/registry.h"
#include "system/game_launch.h"
#include "ui/app.h"

void App::OpenJoinLink(const std::wstring& link) {
  const int index = ResolveJoinLink(link, state_.devServer);
  LogLine(L"link " + link.substr(0, 200) + L" -> " +
          (index >= 0 ? std::wstring(ServerCatalogue::kKeys[index]) : std::wstring(L"not a launcher server")));
  if (index < 0) {
    AskPlayer(L"Bu bağlantı launcher'daki sunuculardan birine ait değil.", MB_OK | MB_ICONWARNING);
    return;
  }
  if (uninstall_.IsRunning()) return;
  if (!state_.installed) {
    WriteSelectedServer(index);
    return;
  }
  CloseOverlay();
  const bool startupCheckRunning = state_.initialCheckPending || (gameRunsStarted_ == 1 && game_.IsRunning());
  if (startupCheckRunning) {
    state_.selected = index;
    state_.selectionDeferred = true;
    WriteSelectedServer(index);
  } else {
    SelectServer(index);
  }
  joinPending_ = CountRunningGameInstances() == 0;
  linkTime_ = Now();
  RefreshSnapshot();
  if (Window()) InvalidateRect(Window(), nullptr, FALSE);
}

void App::SelectServer(int index) {
  if (index < 0 || index >= ServerCatalogue::kCount) return;
  if (index == ServerCatalogue::kDevIndex && !state_.devServer) return;
  if (index != state_.selected) {
    state_.playRequested = false;
    samplers_[kServerSampler].Reset();
    state_.serverSpeed = 0;
  }
  state_.selected = index;
  state_.selectionDeferred = false;
  WriteSelectedServer(index);
  state_.playRequested = false;
  if (state_.installed) StartServerSync(index, SyncMode::Check);
}

void App::TryJoinPendingLink() {
  if (!joinPending_) return;
  const JoinDecision decision = DecideJoin(state_, snap_, linkTime_);
  switch (decision.step) {
    case JoinStep::Wait:
      return;
    case JoinStep::Cancel:
      joinPending_ = false;
      return;
    case JoinStep::Join:
      LogLine(std::wstring(L"link: joining ") + ServerCatalogue::kKeys[state_.selected]);
      joinPending_ = false;
      QueueAction(kActionPlay);
      if (Window()) PostMessageW(Window(), kRunActionsMessage, 0, 0);
      return;
    case JoinStep::NotJoining:
      LogLine(L"link: not joining, the launcher waits for the player (" + decision.statusTitle + L")");
      joinPending_ = false;
      return;
  }
}
