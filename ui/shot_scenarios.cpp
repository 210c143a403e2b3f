#include "ui/shot_scenarios.h"

#include <string>

#include "system/install.h"

namespace {

constexpr const char* kShotBuild = "20261004-1852-6c5533321";

void Blank(AppState& a, UiSnapshot& s) {
  const std::wstring folder = kDefaultInstallDir;
  const bool dev = a.devServer;
  const bool freeKnown = a.setupFreeSpaceKnown;
  const uint64_t free = a.setupFreeSpace;
  a = AppState{};
  a.devServer = dev;
  a.setupFreeSpaceKnown = freeKnown;
  a.setupFreeSpace = free;
  a.now = 2.4;
  a.installed = true;
  a.installFolder = folder;
  a.setupCandidate = folder;
  a.gtaValid = true;
  a.selected = 0;
  s = UiSnapshot{};
  s.game.required = false;
  s.updater.state = kUpdateNoUpdate;
  for (SyncSnapshot& server : s.servers) server.required = false;
  s.servers[0].status = kSyncUpToDate;
  s.players[0] = PlayerCountEntry{kPlayerCountOnline, 196};
  s.players[1] = PlayerCountEntry{kPlayerCountOnline, 48};
  s.players[2] = PlayerCountEntry{kPlayerCountOnline, 15};
  s.players[3] = PlayerCountEntry{};
}

void Ready(AppState& a, UiSnapshot& s) {
  Blank(a, s);
  s.game.status = kSyncUpToDate;
  s.game.remoteBuild = s.game.installedBuild = kShotBuild;
  s.game.installedComplete = true;
}

void NoGta(AppState& a, UiSnapshot& s) {
  Ready(a, s);
  a.gtaValid = false;
}

const ShotScenario kShots[] = {
    {L"01-setup", false,
     [](AppState& a, UiSnapshot& s) {
       Blank(a, s);
       a.installed = false;
     }},
    {L"02-checking", false,
     [](AppState& a, UiSnapshot& s) {
       Blank(a, s);
       s.game.status = kSyncChecking;
       s.players = {};
     }},
    {L"03-downloading", false,
     [](AppState& a, UiSnapshot& s) {
       Blank(a, s);
       s.game.status = kSyncDownloading;
       s.game.bytesToDownload = 196506471;
       s.game.bytesDownloaded = 88200000;
       a.gameSpeed = 13200000;
     }},
    {L"04-gta-starting", false, NoGta},
    {L"05-gta-failed", false,
     [](AppState& a, UiSnapshot& s) {
       NoGta(a, s);
       s.gta.status = kGtaFailed;
       s.gta.message = L"Diskte yeterli yer yok: 4,4 GB gerekli, 1,2 GB boş";
     }},
    {L"06-gta-downloading", false,
     [](AppState& a, UiSnapshot& s) {
       NoGta(a, s);
       s.gta.status = kGtaDownloading;
       s.gta.downloadTotal = 610325061;
       s.gta.downloadDone = 327000000;
       a.gtaSpeed = 18400000;
     }},
    {L"07-gta-extracting", false,
     [](AppState& a, UiSnapshot& s) {
       NoGta(a, s);
       s.gta.status = kGtaExtracting;
       s.gta.extractTotal = 4087977925ull;
       s.gta.extractDone = 1900000000;
       s.gta.filesTotal = 441;
       s.gta.filesDone = 213;
     }},
    {L"08-ready", false, Ready},
    {L"09-running", false,
     [](AppState& a, UiSnapshot& s) {
       Ready(a, s);
       a.runningCount = 1;
       a.gamesWereRunning = true;
       s.players[2] = PlayerCountEntry{kPlayerCountOffline, 0};
     }},
    {L"17-running-two", false,
     [](AppState& a, UiSnapshot& s) {
       Ready(a, s);
       a.runningCount = 2;
       a.gamesWereRunning = true;
     }},
    {L"18-pick-server", false,
     [](AppState& a, UiSnapshot& s) {
       Ready(a, s);
       a.selected = -1;
     }},
    {L"19-server-files", false,
     [](AppState& a, UiSnapshot& s) {
       Ready(a, s);
       a.selected = 2;
       s.servers[2].status = kSyncDownloading;
       s.servers[2].bytesToDownload = 734003200;
       s.servers[2].bytesDownloaded = 251658240;
       s.servers[2].filesToDownload = 1840;
       a.serverSpeed = 21500000;
     }},
    {L"20-server-files-failed", false,
     [](AppState& a, UiSnapshot& s) {
       Ready(a, s);
       s.servers[0].status = kSyncFailed;
       s.servers[0].message = L"Sunucu dosya listesini vermiyor (sunucu sürümü eski)";
     }},
    {L"22-dev-server", true,
     [](AppState& a, UiSnapshot& s) {
       Ready(a, s);
       a.selected = 3;
       s.servers[3].status = kSyncUpToDate;
     }},
    {L"21-server-files-missing", false,
     [](AppState& a, UiSnapshot& s) {
       Ready(a, s);
       s.servers[0].status = kSyncUpdateAvailable;
       s.servers[0].bytesToDownload = 2946000000ull;
       s.servers[0].filesToDownload = 8126;
     }},
    {L"10-failed", false,
     [](AppState& a, UiSnapshot& s) {
       Blank(a, s);
       s.game.status = kSyncFailed;
       s.game.message = L"Güncellemeler denetlenemedi: Sunucuya bağlanılamadı";
     }},
    {L"11-settings", false,
     [](AppState& a, UiSnapshot& s) {
       Ready(a, s);
       a.overlay = Overlay::Settings;
     }},
    {L"25-settings-no-gta", false,
     [](AppState& a, UiSnapshot& s) {
       NoGta(a, s);
       a.overlay = Overlay::Settings;
     }},
    {L"23-uninstall", false,
     [](AppState& a, UiSnapshot& s) {
       Ready(a, s);
       a.overlay = Overlay::Uninstall;
     }},
    {L"24-uninstalling", false,
     [](AppState& a, UiSnapshot& s) {
       Ready(a, s);
       a.overlay = Overlay::Uninstall;
       a.uninstallRunning = true;
       a.uninstallDeleted = 412;
     }},
    {L"13-update-available", false,
     [](AppState& a, UiSnapshot& s) {
       Ready(a, s);
       s.game.status = kSyncUpdateAvailable;
       s.game.bytesToDownload = 7926781;
       s.game.filesToDownload = 13;
     }},
    {L"14-first-download", false,
     [](AppState& a, UiSnapshot& s) {
       Blank(a, s);
       s.game.status = kSyncUpdateAvailable;
       s.game.bytesToDownload = 196506471;
       s.game.filesToDownload = 880;
     }},
    {L"15-launcher-updating", false,
     [](AppState& a, UiSnapshot& s) {
       Ready(a, s);
       s.updater.state = kUpdateDownloading;
       s.updater.remoteVersion = "0.3.0";
       s.updater.bytesTotal = 520000;
       s.updater.bytesDone = 310000;
     }},
    {L"16-launcher-outdated", false,
     [](AppState& a, UiSnapshot& s) {
       Ready(a, s);
       s.game.status = kSyncLauncherOutdated;
     }},
};


}  // namespace

const ShotScenario* ShotScenarios(size_t& count) {
  count = sizeof(kShots) / sizeof(kShots[0]);
  return kShots;
}
