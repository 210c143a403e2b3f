#include "ui/screen_rules.h"

#include <string>

#include "base/catalogue.h"
#include "base/text.h"
#include "ui/app_rules.h"

namespace {

bool AnyServerRunning(const UiSnapshot& snap) {
  for (bool running : snap.serverRunning) {
    if (running) return true;
  }
  return false;
}

}  // namespace

bool CanUninstall(const AppState& app, const UiSnapshot& snap) {
  // runningCount and gamesWereRunning agree between ticks; both are read so that a game seen
  // by either one blocks the removal of its own files.
  return !app.gamesWereRunning && app.runningCount == 0 && !snap.gameRunning && !snap.gtaRunning &&
         !app.uninstallRunning && app.now >= app.launchDeadline && !app.installFolder.empty() &&
         !AnyServerRunning(snap);
}

bool CanReinstallGta(const AppState& app, const UiSnapshot& snap) {
  return app.installed && !app.installFolder.empty() && app.runningCount == 0 && !snap.gtaRunning &&
         !IsGtaBusy(snap.gta) && app.now >= app.launchDeadline && !app.uninstallRunning && !app.playRequested;
}

std::wstring GtaStateText(const AppState& app, const UiSnapshot& snap) {
  switch (snap.gta.status) {
    case kGtaConnecting:
    case kGtaDownloading:
      return L"İndiriliyor";
    case kGtaExtracting:
      return L"Kuruluyor";
    default:
      break;
  }
  if (app.gtaValid) return L"Kurulu · bozulduysa yeniden indirilir";
  if (snap.gta.status == kGtaFailed) return L"Kurulamadı";
  return L"Henüz kurulmadı";
}

ServerCardLines CardLines(int server, const PlayerCountEntry& entry) {
  ServerCardLines lines;
  const bool known = server >= 0 && server < ServerCatalogue::kCount;
  // A server without a player-count address is never polled, so its entry says nothing.
  if (known && ServerCatalogue::kPlayerCountUrls[server][0] == L'\0') {
    lines.players = L"Test sunucusu";
    lines.status = L"Geliştirme";
    lines.dot = ServerCardLines::Dot::Card;
    return lines;
  }
  switch (entry.state) {
    case kPlayerCountOnline:
      lines.players = DecimalText(static_cast<unsigned long long>(entry.count)) + L" oyuncu";
      lines.status = L"Çevrimiçi";
      lines.dot = ServerCardLines::Dot::Green;
      lines.pulsing = true;
      break;
    case kPlayerCountOffline:
      lines.players = L"—";
      lines.status = L"Çevrimdışı";
      lines.dot = ServerCardLines::Dot::Secondary;
      break;
    default:
      lines.players = L"—";
      lines.status = L"Bağlanıyor";
      lines.dot = ServerCardLines::Dot::Muted;
      break;
  }
  return lines;
}
