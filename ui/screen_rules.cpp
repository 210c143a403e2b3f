#include "ui/screen_rules.h"

#include <string>
#include <vector>

#include "base/catalogue.h"
#include "base/text.h"
#include "ui/app_rules.h"

namespace {

bool IsCutSeparator(wchar_t c) {
  return c == L' ' || c == L':' || c == L',' || c == L';' || c == L'\u00B7' || c == L'-' || c == L'\u2014';
}

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

std::wstring FitAtWordBoundary(const std::wstring& text, float width,
                               const std::function<float(const std::wstring&)>& measure) {
  if (text.empty() || measure(text) <= width) return text;
  // Each candidate ends where a word ends; separators before the cut are dropped.
  std::vector<std::wstring> candidates;
  for (size_t i = 1; i < text.size(); ++i) {
    if (text[i] != L' ' || text[i - 1] == L' ') continue;
    size_t end = i;
    while (end > 0 && IsCutSeparator(text[end - 1])) --end;
    if (end > 0) candidates.push_back(text.substr(0, end) + L"\u2026");
  }
  if (candidates.empty()) return text;
  // Width grows with the length, so the longest candidate that fits is found by halving.
  size_t low = 0, high = candidates.size();
  while (low < high) {
    const size_t mid = (low + high) / 2;
    if (measure(candidates[mid]) <= width) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low == 0 ? candidates.front() : candidates[low - 1];
}
