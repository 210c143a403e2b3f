#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sync/sync_plan.h"
#include "ui/app_rules.h"

namespace {

constexpr uint64_t kMiB = 1048576;
constexpr int kTalvoreen = 1;  // the selected server of the fixtures

// An installed launcher at rest: game files and GTA complete, the selected server up to
// date, no worker busy, the last check 10 s ago.
struct World {
  AppState app;
  UiSnapshot snap;

  World() {
    app.now = 1000;
    app.installed = true;
    app.installFolder = L"C:\\Talvoreen";
    app.gtaValid = true;
    app.selected = kTalvoreen;
    app.lastCheckTime = 990;
    app.checkStartTime = 990;
    snap.game.status = kSyncUpToDate;
    snap.game.installedComplete = true;
    snap.game.required = false;
    snap.game.installedBuild = "b7";
    snap.game.remoteBuild = "b7";
    snap.gta.status = kGtaDone;
    snap.updater.state = kUpdateNoUpdate;
    for (SyncSnapshot& server : snap.servers) server.status = kSyncUpToDate;
  }

  SyncSnapshot& server() { return snap.servers[kTalvoreen]; }
  StatusView View() const { return BuildStatusView(app, snap); }
};

using Arrange = std::function<void(World&)>;

// ---- Expected status bars ------------------------------------------------------------------

StatusView Bar(int32_t kind, Color accent, std::wstring title, std::wstring detail, float progress,
               std::wstring primary, bool enabled, int32_t action) {
  StatusView v;
  v.kind = kind;
  v.accent = accent;
  v.title = std::move(title);
  v.detail = std::move(detail);
  v.progress = progress;
  v.primaryLabel = std::move(primary);
  v.primaryEnabled = enabled;
  v.primaryAction = action;
  v.primaryIsPlay = v.primaryLabel == L"OYNA";
  return v;
}

StatusView AsError(StatusView v) {
  v.detailIsError = true;
  return v;
}

StatusView WithSecondary(StatusView v, std::wstring label, int32_t action, bool enabled) {
  v.secondaryLabel = std::move(label);
  v.secondaryAction = action;
  v.secondaryEnabled = enabled;
  return v;
}

StatusView WithRetryLink(StatusView v) {
  v.retryLink = true;
  return v;
}

void ExpectBar(const StatusView& got, const StatusView& want) {
  EXPECT_EQ(got.kind, want.kind);
  EXPECT_EQ(got.accent.r, want.accent.r);
  EXPECT_EQ(got.accent.g, want.accent.g);
  EXPECT_EQ(got.accent.b, want.accent.b);
  EXPECT_EQ(got.accent.a, want.accent.a);
  EXPECT_EQ(got.title, want.title);
  EXPECT_EQ(got.detail, want.detail);
  EXPECT_EQ(got.detailIsError, want.detailIsError);
  EXPECT_NEAR(got.progress, want.progress, 1e-6);
  EXPECT_EQ(got.primaryLabel, want.primaryLabel);
  EXPECT_EQ(got.primaryEnabled, want.primaryEnabled);
  EXPECT_EQ(got.primaryAction, want.primaryAction);
  EXPECT_EQ(got.primaryIsPlay, want.primaryIsPlay);
  EXPECT_EQ(got.retryLink, want.retryLink);
  EXPECT_EQ(got.secondaryLabel, want.secondaryLabel);
  if (!want.secondaryLabel.empty()) {
    EXPECT_EQ(got.secondaryAction, want.secondaryAction);
    EXPECT_EQ(got.secondaryEnabled, want.secondaryEnabled);
  }
}

struct BarCase {
  const char* name;
  Arrange setup;
  StatusView want;
};

void RunBarCases(const std::vector<BarCase>& cases) {
  for (const BarCase& c : cases) {
    SCOPED_TRACE(c.name);
    World w;
    c.setup(w);
    ExpectBar(w.View(), c.want);
  }
}

const wchar_t* const kReadyDetail = L"Talvoreen Roleplay · OYNA'ya basınca sunucuya bağlanırsın";
const wchar_t* const kConnecting = L"Sunucuya bağlanılıyor";

// ---- Status bar: launcher, setup and launch ------------------------------------------------

TEST(StatusBar, LauncherUpdateSetupAndLauncherOutdated) {
  RunBarCases({
      {"updater downloading wins over a running game",
       [](World& w) {
         w.snap.updater.state = kUpdateDownloading;
         w.snap.updater.remoteVersion = "0.4.22";
         w.snap.updater.bytesDone = 1 * kMiB;
         w.snap.updater.bytesTotal = 4 * kMiB;
         w.app.runningCount = 1;
       },
       Bar(kStatusTransfer, kAccentBlue, L"Launcher güncelleniyor", L"Sürüm 0.4.22 · 1,0 MB / 4,0 MB", 0.25f,
           L"GÜNCELLENİYOR", false, kActionPlay)},
      {"updater downloading, size not yet known",
       [](World& w) {
         w.snap.updater.state = kUpdateDownloading;
         w.snap.updater.remoteVersion = "0.4.22";
       },
       Bar(kStatusTransfer, kAccentBlue, L"Launcher güncelleniyor", L"Sürüm 0.4.22 · 0 B / 0 B", 0,
           L"GÜNCELLENİYOR", false, kActionPlay)},
      {"ready and not waiting for games",
       [](World& w) { w.snap.updater.state = kUpdateReady; },
       Bar(kStatusTransfer, kAccentBlue, L"Launcher güncelleniyor", L"Yeni sürüm açılıyor", 2, L"GÜNCELLENİYOR",
           false, kActionPlay)},
      {"a failed restart leaves the window with this version",
       [](World& w) {
         w.snap.updater.state = kUpdateReady;
         w.app.restartFailed = true;
       },
       Bar(kStatusReady, kAccentGreen, L"Oynamaya hazır",
           L"Talvoreen Roleplay · OYNA'ya basınca sunucuya bağlanırsın", -1, L"OYNA", true, kActionPlay)},
      {"restart under way",
       [](World& w) { w.app.restarting = true; },
       Bar(kStatusTransfer, kAccentBlue, L"Launcher güncelleniyor", L"Yeni sürüm açılıyor", 2, L"GÜNCELLENİYOR",
           false, kActionPlay)},
      {"ready but staged while games run",
       [](World& w) {
         w.snap.updater.state = kUpdateReady;
         w.app.newLauncherStaged = true;
         w.app.runningCount = 1;
       },
       WithSecondary(Bar(kStatusRunning, kAccentBlue, L"Oyun açık",
                         L"Yeni launcher sürümü hazır; oyunlar kapanınca kurulacak.", -1, L"OYUN AÇIK", false,
                         kActionPlay),
                     L"Bir tane daha aç", kActionOpenAnother, true)},
      {"update check before the first game-file check",
       [](World& w) {
         w.snap.updater.state = kUpdateChecking;
         w.app.initialCheckPending = true;
         w.snap.game.status = kSyncIdle;
       },
       Bar(kStatusBusy, kAccentBlue, L"Launcher güncellemesi denetleniyor", kConnecting, 2, L"OYNA", false,
           kActionPlay)},
      {"later update checks do not show",
       [](World& w) { w.snap.updater.state = kUpdateChecking; },
       Bar(kStatusReady, kAccentGreen, L"Oynamaya hazır", kReadyDetail, -1, L"OYNA", true, kActionPlay)},
      {"nothing installed",
       [](World& w) {
         w.app.installed = false;
         w.snap.game.status = kSyncDownloading;
         w.snap.gta.status = kGtaDownloading;
       },
       Bar(kStatusPrompt, kAccentBlue, L"Kuruluma hazır", L"Kurulumdan sonra oyun dosyaları kendiliğinden iner.",
           -1, L"KUR", true, kActionInstall)},
      {"launcher outdated wins over a running game and GTA",
       [](World& w) {
         w.snap.game.status = kSyncLauncherOutdated;
         w.app.runningCount = 2;
         w.snap.gta.status = kGtaDownloading;
       },
       Bar(kStatusWarning, kAccentAmber, L"Launcher güncellemesi gerekli",
           L"GÜNCELLE'ye bas; launcher kendini güncelleyip yeniden açılacak.", -1, L"GÜNCELLE", true,
           kActionUpdateLauncher)},
      {"launcher outdated with the updater's message, updater busy",
       [](World& w) {
         w.snap.game.status = kSyncLauncherOutdated;
         w.app.updaterMessage = L"Yeni launcher sürümü henüz yayınlanmamış; biraz sonra tekrar dene.";
         w.snap.updaterBusy = true;
       },
       AsError(Bar(kStatusWarning, kAccentAmber, L"Launcher güncellemesi gerekli",
                   L"Yeni launcher sürümü henüz yayınlanmamış; biraz sonra tekrar dene.", -1, L"GÜNCELLE", false,
                   kActionUpdateLauncher))},
      {"inside the launch window",
       [](World& w) {
         w.app.launchDeadline = w.app.now + 0.5;
         w.snap.gta.status = kGtaConnecting;
       },
       Bar(kStatusBusy, kAccentBlue, L"Oyun başlatılıyor", L"Oyun penceresi birazdan açılacak.", -1, L"AÇILIYOR",
           false, kActionPlay)},
      {"launch window over at its deadline",
       [](World& w) { w.app.launchDeadline = w.app.now; },
       Bar(kStatusReady, kAccentGreen, L"Oynamaya hazır", kReadyDetail, -1, L"OYNA", true, kActionPlay)},
  });
}

// ---- Status bar: GTA installer --------------------------------------------------------------

TEST(StatusBar, GtaInstallerPhases) {
  const uint64_t gtaSize = 610325061;
  RunBarCases({
      {"connecting",
       [](World& w) { w.snap.gta.status = kGtaConnecting; },
       Bar(kStatusTransfer, kAccentBlue, L"Oyun dosyaları indiriliyor", kConnecting, 2, L"İNDİRİLİYOR", false,
           kActionPlay)},
      {"downloading with a speed",
       [=](World& w) {
         w.snap.gta.status = kGtaDownloading;
         w.snap.gta.downloadDone = 150 * kMiB;
         w.snap.gta.downloadTotal = gtaSize;
         w.app.gtaSpeed = 10 * kMiB;
       },
       Bar(kStatusTransfer, kAccentBlue, L"Oyun dosyaları indiriliyor",
           L"150 MB / 582 MB · 10,0 MB/sn · 43 sn kaldı", static_cast<float>(150.0 * kMiB / gtaSize),
           L"İNDİRİLİYOR", false, kActionPlay)},
      {"downloading at 1 byte/s shows no time",
       [=](World& w) {
         w.snap.gta.status = kGtaDownloading;
         w.snap.gta.downloadDone = 150 * kMiB;
         w.snap.gta.downloadTotal = gtaSize;
         w.app.gtaSpeed = 1;
       },
       Bar(kStatusTransfer, kAccentBlue, L"Oyun dosyaları indiriliyor", L"150 MB / 582 MB",
           static_cast<float>(150.0 * kMiB / gtaSize), L"İNDİRİLİYOR", false, kActionPlay)},
      {"extracting",
       [](World& w) {
         w.snap.gta.status = kGtaExtracting;
         w.snap.gta.filesDone = 120;
         w.snap.gta.filesTotal = 480;
         w.snap.gta.extractDone = 256 * kMiB;
         w.snap.gta.extractTotal = 1024 * kMiB;
         w.snap.gta.downloadDone = w.snap.gta.downloadTotal = 600 * kMiB;
       },
       Bar(kStatusTransfer, kAccentBlue, L"Oyun dosyaları kuruluyor", L"120 / 480 dosya · 256 MB / 1,0 GB", 0.25f,
           L"KURULUYOR", false, kActionPlay)},
      {"a counter past its total neither overflows the time nor the bar",
       [](World& w) {
         w.snap.gta.status = kGtaDownloading;
         w.snap.gta.downloadDone = 3 * kMiB;
         w.snap.gta.downloadTotal = 2 * kMiB;
         w.app.gtaSpeed = kMiB;
       },
       Bar(kStatusTransfer, kAccentBlue, L"Oyun dosyaları indiriliyor", L"3,0 MB / 2,0 MB · 1,0 MB/sn · 1 sn kaldı",
           1, L"İNDİRİLİYOR", false, kActionPlay)},
      {"complete game files, GTA missing",
       [](World& w) {
         w.app.gtaValid = false;
         w.snap.gta.status = kGtaIdle;
       },
       Bar(kStatusTransfer, kAccentBlue, L"Oyun dosyaları indiriliyor", kConnecting, 2, L"İNDİRİLİYOR", false,
           kActionPlay)},
      {"complete game files, GTA failed",
       [](World& w) {
         w.app.gtaValid = false;
         w.snap.gta.status = kGtaFailed;
         w.snap.gta.message = L"Diskte yeterli boş alan yok";
       },
       AsError(Bar(kStatusError, kAccentRed, L"Oyun dosyaları indirilemedi", L"Diskte yeterli boş alan yok", -1,
                   L"TEKRAR DENE", true, kActionRetryGta))},
  });
}

// While the installer works, its progress replaces every game-file status; only the launcher
// update, setup, launcher-outdated, a running game and the launch window still show.
TEST(StatusBar, BusyGtaHidesGameFileStatuses) {
  const int statuses[] = {kSyncIdle,          kSyncChecking, kSyncVerifying, kSyncDownloading, kSyncUpdateAvailable,
                          kSyncUpToDate,      kSyncFailed,   kSyncGameRunning};
  for (int status : statuses) {
    for (bool complete : {false, true}) {
      SCOPED_TRACE(testing::Message() << "game-file status " << status << " complete " << complete);
      World w;
      w.snap.gta.status = kGtaDownloading;
      w.snap.gta.downloadDone = 1 * kMiB;
      w.snap.gta.downloadTotal = 4 * kMiB;
      w.snap.game.status = status;
      w.snap.game.installedComplete = complete;
      w.snap.game.bytesToDownload = 9 * kMiB;
      w.app.checkStartTime = w.app.now - 30;
      w.app.launchError = L"Hata";
      w.server().status = kSyncFailed;
      StatusView view = w.View();
      EXPECT_EQ(view.title, L"Oyun dosyaları indiriliyor");
      EXPECT_EQ(view.detail, L"1,0 MB / 4,0 MB");
      EXPECT_EQ(view.primaryLabel, L"İNDİRİLİYOR");
    }
  }

  const std::pair<const char*, Arrange> winners[] = {
      {"launcher update", [](World& w) { w.snap.updater.state = kUpdateDownloading; }},
      {"setup", [](World& w) { w.app.installed = false; }},
      {"launcher outdated", [](World& w) { w.snap.game.status = kSyncLauncherOutdated; }},
      {"running game", [](World& w) { w.app.runningCount = 1; }},
      {"launch window", [](World& w) { w.app.launchDeadline = w.app.now + 5; }},
  };
  for (const auto& [name, setup] : winners) {
    SCOPED_TRACE(name);
    World w;
    w.snap.gta.status = kGtaExtracting;
    setup(w);
    EXPECT_NE(w.View().primaryLabel, L"KURULUYOR");
  }
}

// ---- Status bar: game-file sync -------------------------------------------------------------

TEST(StatusBar, GameFileChecksAndDownloads) {
  RunBarCases({
      {"idle before the first check",
       [](World& w) { w.snap.game.status = kSyncIdle; },
       Bar(kStatusBusy, kAccentBlue, L"Güncellemeler denetleniyor", kConnecting, 2, L"OYNA", false, kActionPlay)},
      {"verifying before the totals are known",
       [](World& w) { w.snap.game.status = kSyncVerifying; },
       Bar(kStatusBusy, kAccentBlue, L"Oyun dosyaları denetleniyor", L"Dosyalar karşılaştırılıyor", 2, L"OYNA",
           false, kActionPlay)},
      {"verifying with totals",
       [](World& w) {
         w.snap.game.status = kSyncVerifying;
         w.snap.game.bytesVerified = 30 * kMiB;
         w.snap.game.bytesToVerify = 40 * kMiB;
       },
       Bar(kStatusBusy, kAccentBlue, L"Oyun dosyaları denetleniyor", L"30,0 MB / 40,0 MB", 0.75f, L"OYNA", false,
           kActionPlay)},
      {"first download with a speed",
       [](World& w) {
         w.snap.game.status = kSyncDownloading;
         w.snap.game.installedBuild.clear();
         w.snap.game.installedComplete = false;
         w.snap.game.bytesDownloaded = 40 * kMiB;
         w.snap.game.bytesToDownload = 100 * kMiB;
         w.app.gameSpeed = 2 * kMiB;
       },
       Bar(kStatusTransfer, kAccentBlue, L"Oyun dosyaları indiriliyor",
           L"40,0 MB / 100 MB · 2,0 MB/sn · 30 sn kaldı", 0.4f, L"İNDİRİLİYOR", false, kActionPlay)},
      {"update download without a speed yet",
       [](World& w) {
         w.snap.game.status = kSyncDownloading;
         w.snap.game.bytesDownloaded = 40 * kMiB;
         w.snap.game.bytesToDownload = 100 * kMiB;
       },
       Bar(kStatusTransfer, kAccentBlue, L"Güncelleme indiriliyor", L"40,0 MB / 100 MB", 0.4f, L"GÜNCELLENİYOR",
           false, kActionPlay)},
      {"first download offered",
       [](World& w) {
         w.snap.game.status = kSyncUpdateAvailable;
         w.snap.game.installedBuild.clear();
         w.snap.game.installedComplete = false;
         w.snap.game.bytesToDownload = 92589670;
         w.snap.game.filesToDownload = 1840;
       },
       Bar(kStatusTransfer, kAccentBlue, L"Oyun dosyaları indirilmedi", L"88,3 MB indirilecek · 1840 dosya", -1,
           L"İNDİR", true, kActionDownloadGameFiles)},
      {"required update",
       [](World& w) {
         w.snap.game.status = kSyncUpdateAvailable;
         w.snap.game.required = true;
         w.snap.game.bytesToDownload = 5 * kMiB;
         w.snap.game.filesToDownload = 3;
       },
       Bar(kStatusTransfer, kAccentBlue, L"Güncelleme mevcut", L"5,0 MB indirilecek · 3 dosya", -1, L"GÜNCELLE",
           true, kActionDownloadGameFiles)},
      {"optional update of an incomplete install",
       [](World& w) {
         w.snap.game.status = kSyncUpdateAvailable;
         w.snap.game.installedComplete = false;
         w.snap.game.bytesToDownload = 5 * kMiB;
         w.snap.game.filesToDownload = 3;
       },
       Bar(kStatusTransfer, kAccentBlue, L"Güncelleme mevcut", L"5,0 MB indirilecek · 3 dosya", -1, L"GÜNCELLE",
           true, kActionDownloadGameFiles)},
      {"optional update: play now, update on the side",
       [](World& w) {
         w.snap.game.status = kSyncUpdateAvailable;
         w.snap.game.bytesToDownload = 5 * kMiB;
         w.snap.game.filesToDownload = 3;
       },
       WithSecondary(Bar(kStatusTransfer, kAccentBlue, L"Güncelleme mevcut", L"5,0 MB indirilecek · 3 dosya", -1,
                         L"OYNA", true, kActionPlay),
                     L"Güncelle", kActionDownloadGameFiles, true)},
      {"failed before anything was complete",
       [](World& w) {
         w.snap.game.status = kSyncFailed;
         w.snap.game.installedComplete = false;
         w.snap.game.message = L"Sunucu zamanında yanıt vermedi";
       },
       AsError(Bar(kStatusError, kAccentRed, L"Oyun dosyaları indirilemedi", L"Sunucu zamanında yanıt vermedi", -1,
                   L"TEKRAR DENE", true, kActionRetrySync))},
      {"incomplete after a check",
       [](World& w) { w.snap.game.installedComplete = false; },
       Bar(kStatusWarning, kAccentAmber, L"Oyun dosyaları eksik", L"Eksik dosyalar denetlenip indirilecek.", -1,
           L"TEKRAR DENE", true, kActionRetrySync)},
  });
}

TEST(StatusBar, SlowServerTextFromEightWholeSeconds) {
  const std::pair<double, const wchar_t*> cases[] = {
      {0, kConnecting},
      {7.999, kConnecting},
      {8.0, L"Sunucu yavaş yanıt veriyor, bekleniyor · 8 sn"},
      {8.9, L"Sunucu yavaş yanıt veriyor, bekleniyor · 8 sn"},
      {61.2, L"Sunucu yavaş yanıt veriyor, bekleniyor · 61 sn"},
  };
  for (const auto& [elapsed, detail] : cases) {
    SCOPED_TRACE(elapsed);
    World w;
    w.snap.game.status = kSyncChecking;
    w.app.checkStartTime = 500;
    w.app.now = 500 + elapsed;
    StatusView view = w.View();
    EXPECT_EQ(view.title, L"Güncellemeler denetleniyor");
    EXPECT_EQ(view.detail, detail);
    EXPECT_EQ(view.progress, 2);
  }

  World idle;  // waiting for the first check is not a slow server
  idle.snap.game.status = kSyncIdle;
  idle.app.checkStartTime = 0;
  EXPECT_EQ(idle.View().detail, kConnecting);
}

// ---- Status bar: complete install, selected server ---------------------------------------------

TEST(StatusBar, CompleteInstallAndSelectedServer) {
  RunBarCases({
      {"ready",
       [](World&) {},
       Bar(kStatusReady, kAccentGreen, L"Oynamaya hazır", kReadyDetail, -1, L"OYNA", true, kActionPlay)},
      {"ready while a check found the game open",
       [](World& w) { w.snap.game.status = kSyncGameRunning; },
       Bar(kStatusReady, kAccentGreen, L"Oynamaya hazır", kReadyDetail, -1, L"OYNA", true, kActionPlay)},
      {"ready, some files come with the game",
       [](World& w) { w.server().filesUnavailable = 3; },
       Bar(kStatusReady, kAccentGreen, L"Oynamaya hazır",
           L"Talvoreen Roleplay · OYNA'ya basınca sunucuya bağlanırsın · 3 dosya oyunda iner", -1, L"OYNA", true,
           kActionPlay)},
      {"launch error comes first",
       [](World& w) {
         w.app.launchError = L"Aynı anda en fazla 16 oyun açılabilir.";
         w.server().status = kSyncFailed;
       },
       AsError(Bar(kStatusError, kAccentRed, L"Oyun başlatılamadı", L"Aynı anda en fazla 16 oyun açılabilir.", -1,
                   L"OYNA", true, kActionPlay))},
      {"no server selected",
       [](World& w) { w.app.selected = -1; },
       Bar(kStatusPrompt, kAccentBlue, L"Sunucunu seç",
           L"Oynamak istediğin sunucuya tıkla; dosyaları kendiliğinden iner.", -1, L"OYNA", false, kActionPlay)},
      {"server downloading with a speed",
       [](World& w) {
         w.server().status = kSyncDownloading;
         w.server().bytesDownloaded = 1 * kMiB;
         w.server().bytesToDownload = 4 * kMiB;
         w.server().filesToDownload = 12;
         w.app.serverSpeed = 1.5 * kMiB;
         w.app.gameSpeed = 0;
       },
       Bar(kStatusTransfer, kAccentBlue, L"Talvoreen Roleplay dosyaları indiriliyor",
           L"1,0 MB / 4,0 MB · 12 dosya · 1,5 MB/sn · 2 sn kaldı", 0.25f, L"İNDİRİLİYOR", false, kActionPlay)},
      {"server downloading after play was pressed",
       [](World& w) {
         w.server().status = kSyncDownloading;
         w.server().bytesDownloaded = 1 * kMiB;
         w.server().bytesToDownload = 4 * kMiB;
         w.server().filesToDownload = 12;
         w.app.playRequested = true;
       },
       Bar(kStatusTransfer, kAccentBlue, L"Talvoreen Roleplay dosyaları indiriliyor", L"1,0 MB / 4,0 MB · 12 dosya",
           0.25f, L"AÇILIYOR", false, kActionPlay)},
      {"server check waiting for its list",
       [](World& w) { w.server().status = kSyncChecking; },
       Bar(kStatusBusy, kAccentBlue, L"Talvoreen Roleplay dosyaları denetleniyor", kConnecting, 2, L"OYNA", false,
           kActionPlay)},
      {"server verifying",
       [](World& w) {
         w.server().status = kSyncVerifying;
         w.server().bytesVerified = 1 * kMiB;
         w.server().bytesToVerify = 2 * kMiB;
       },
       Bar(kStatusBusy, kAccentBlue, L"Talvoreen Roleplay dosyaları denetleniyor", L"1,0 MB / 2,0 MB", 0.5f, L"OYNA",
           false, kActionPlay)},
      {"server files missing",
       [](World& w) {
         w.server().status = kSyncUpdateAvailable;
         w.server().bytesToDownload = 3 * kMiB;
         w.server().filesToDownload = 7;
       },
       Bar(kStatusTransfer, kAccentBlue, L"Talvoreen Roleplay dosyaları eksik",
           L"3,0 MB indirilecek · 7 dosya · oynamak için önce indir", -1, L"İNDİR", true, kActionDownloadServerFiles)},
      {"server download failed",
       [](World& w) {
         w.server().status = kSyncFailed;
         w.server().mode = SyncMode::Update;
         w.server().message = L"Bağlantı kesildi";
       },
       AsError(Bar(kStatusWarning, kAccentAmber, L"Talvoreen Roleplay dosyaları indirilemedi", L"Bağlantı kesildi", -1,
                   L"TEKRAR DENE", true, kActionRetryServerFiles))},
      {"server check failed",
       [](World& w) {
         w.server().status = kSyncFailed;
         w.server().mode = SyncMode::Check;
         w.server().message = L"Bağlantı kesildi";
         w.snap.game.status = kSyncFailed;
       },
       AsError(Bar(kStatusWarning, kAccentAmber, L"Talvoreen Roleplay dosyaları denetlenemedi", L"Bağlantı kesildi",
                   -1, L"TEKRAR DENE", true, kActionRetryServerFiles))},
      {"game-file check failed on a complete install",
       [](World& w) {
         w.snap.game.status = kSyncFailed;
         w.snap.game.message = L"Sunucu zamanında yanıt vermedi";
       },
       WithRetryLink(Bar(kStatusWarning, kAccentAmber, L"Güncellemeler denetlenemedi",
                         L"Sunucu zamanında yanıt vermedi", -1, L"OYNA", true, kActionPlay))},
      {"another server is named",
       [](World& w) { w.app.selected = 0; },
       Bar(kStatusReady, kAccentGreen, L"Oynamaya hazır", L"Corvel Roleplay · OYNA'ya basınca sunucuya bağlanırsın",
           -1, L"OYNA", true, kActionPlay)},
  });
}

TEST(StatusBar, ReadyDetailWithoutGameAddress) {
  EXPECT_EQ(ReadyDetail(L"Development Server", L"", 0), L"Development Server seçili · Oyun açılınca menüden bağlan");
  EXPECT_EQ(ReadyDetail(L"Development Server", L"", 2),
            L"Development Server seçili · Oyun açılınca menüden bağlan · 2 dosya oyunda iner");
  EXPECT_EQ(ReadyDetail(L"Corvel Roleplay", L"play.example:22003", 0),
            L"Corvel Roleplay · OYNA'ya basınca sunucuya bağlanırsın");
}

// ---- Status bar: running games ----------------------------------------------------------------

TEST(StatusBar, RunningGames) {
  const wchar_t* const enjoy = L"İyi oyunlar. Oyunlar kapanınca güncellemeler denetlenir.";
  RunBarCases({
      {"one game wins over a game-file download",
       [](World& w) {
         w.app.runningCount = 1;
         w.snap.game.status = kSyncDownloading;
       },
       WithSecondary(Bar(kStatusRunning, kAccentBlue, L"Oyun açık", enjoy, -1, L"OYUN AÇIK", false, kActionPlay),
                     L"Bir tane daha aç", kActionOpenAnother, true)},
      {"a staged launcher whose restart failed promises nothing",
       [](World& w) {
         w.app.runningCount = 1;
         w.snap.updater.state = kUpdateReady;
         w.app.newLauncherStaged = true;
         w.app.restartFailed = true;
       },
       WithSecondary(Bar(kStatusRunning, kAccentBlue, L"Oyun açık", enjoy, -1, L"OYUN AÇIK", false, kActionPlay),
                     L"Bir tane daha aç", kActionOpenAnother, true)},
      {"a staged launcher the player checked away promises nothing",
       [](World& w) {
         w.app.runningCount = 1;
         w.snap.updater.state = kUpdateChecking;
         w.app.newLauncherStaged = true;
       },
       WithSecondary(Bar(kStatusRunning, kAccentBlue, L"Oyun açık", enjoy, -1, L"OYUN AÇIK", false, kActionPlay),
                     L"Bir tane daha aç", kActionOpenAnother, true)},
      {"two games, a newer build waits",
       [](World& w) {
         w.app.runningCount = 2;
         w.snap.game.remoteBuild = "b8";
       },
       WithSecondary(Bar(kStatusRunning, kAccentBlue, L"2 oyun açık",
                         L"Yeni bir güncelleme var; oyunlar kapanınca kurulacak.", -1, L"OYUN AÇIK", false,
                         kActionPlay),
                     L"Bir tane daha aç", kActionOpenAnother, true)},
      {"fifteen games: one more copy fits",
       [](World& w) { w.app.runningCount = 15; },
       WithSecondary(Bar(kStatusRunning, kAccentBlue, L"15 oyun açık", enjoy, -1, L"OYUN AÇIK", false, kActionPlay),
                     L"Bir tane daha aç", kActionOpenAnother, true)},
      {"sixteen games: no more copies",
       [](World& w) { w.app.runningCount = kGameCopyLimit; },
       WithSecondary(Bar(kStatusRunning, kAccentBlue, L"16 oyun açık", enjoy, -1, L"OYUN AÇIK", false, kActionPlay),
                     L"Bir tane daha aç", kActionOpenAnother, false)},
      {"launch window still open",
       [](World& w) {
         w.app.runningCount = 1;
         w.app.launchDeadline = w.app.now + 3;
       },
       WithSecondary(Bar(kStatusRunning, kAccentBlue, L"Oyun açık", enjoy, -1, L"OYUN AÇIK", false, kActionPlay),
                     L"Bir tane daha aç", kActionOpenAnother, false)},
      {"no server selected",
       [](World& w) {
         w.app.runningCount = 1;
         w.app.selected = -1;
       },
       WithSecondary(Bar(kStatusRunning, kAccentBlue, L"Oyun açık", enjoy, -1, L"OYUN AÇIK", false, kActionPlay),
                     L"Bir tane daha aç", kActionOpenAnother, false)},
      {"server still checking",
       [](World& w) {
         w.app.runningCount = 1;
         w.server().status = kSyncChecking;
       },
       WithSecondary(Bar(kStatusRunning, kAccentBlue, L"Oyun açık", enjoy, -1, L"OYUN AÇIK", false, kActionPlay),
                     L"Bir tane daha aç", kActionOpenAnother, false)},
      {"server files missing",
       [](World& w) {
         w.app.runningCount = 1;
         w.server().status = kSyncUpdateAvailable;
         w.server().bytesToDownload = 92589670;
       },
       WithSecondary(Bar(kStatusRunning, kAccentBlue, L"Oyun açık", L"Talvoreen Roleplay için 88,3 MB indirilmeli.", -1,
                         L"OYUN AÇIK", false, kActionPlay),
                     L"Dosyaları indir", kActionDownloadServerFiles, true)},
      {"server check failed",
       [](World& w) {
         w.app.runningCount = 1;
         w.server().status = kSyncFailed;
         w.server().message = L"Bağlantı kesildi";
       },
       WithSecondary(Bar(kStatusRunning, kAccentBlue, L"Oyun açık",
                         L"Talvoreen Roleplay dosyaları denetlenemedi: Bağlantı kesildi", -1, L"OYUN AÇIK", false,
                         kActionPlay),
                     L"Tekrar dene", kActionRetryServerFiles, true)},
      {"server unreachable: the reason names the server once",
       [](World& w) {
         w.app.runningCount = 1;
         w.server().status = kSyncFailed;
         FetchFacts facts;
         facts.error = L"Sunucuya bağlanılamadı";
         w.server().message = RequestFailedText(false, facts);
       },
       WithSecondary(Bar(kStatusRunning, kAccentBlue, L"Oyun açık",
                         L"Talvoreen Roleplay dosyaları denetlenemedi: Sunucuya bağlanılamadı", -1, L"OYUN AÇIK",
                         false, kActionPlay),
                     L"Tekrar dene", kActionRetryServerFiles, true)},
      {"server downloading",
       [](World& w) {
         w.app.runningCount = 1;
         w.server().status = kSyncDownloading;
         w.server().bytesDownloaded = 1 * kMiB;
         w.server().bytesToDownload = 2 * kMiB;
       },
       WithSecondary(Bar(kStatusRunning, kAccentBlue, L"Oyun açık",
                         L"Talvoreen Roleplay dosyaları iniyor · 1,0 MB / 2,0 MB", -1, L"OYUN AÇIK", false,
                         kActionPlay),
                     L"Bir tane daha aç", kActionOpenAnother, false)},
  });
}

// ---- Tick rules -------------------------------------------------------------------------------

TEST(TickRules, AppBusyForEveryWorkerAndLaunch) {
  const std::pair<const char*, Arrange> busy[] = {
      {"game copy running", [](World& w) { w.app.runningCount = 1; }},
      {"game-file sync running", [](World& w) { w.snap.gameRunning = true; }},
      {"GTA installer running", [](World& w) { w.snap.gtaRunning = true; }},
      {"play pressed", [](World& w) { w.app.playRequested = true; }},
      {"inside the launch window", [](World& w) { w.app.launchDeadline = w.app.now + 0.1; }},
      {"last server sync running", [](World& w) { w.snap.serverRunning[ServerCatalogue::kCount - 1] = true; }},
      {"game files being removed", [](World& w) { w.app.uninstallRunning = true; }},
  };
  World idle;
  idle.app.launchDeadline = idle.app.now;
  EXPECT_FALSE(WorkBlocksRestart(idle.app, idle.snap));
  for (const auto& [name, setup] : busy) {
    SCOPED_TRACE(name);
    World w;
    setup(w);
    EXPECT_TRUE(WorkBlocksRestart(w.app, w.snap));
  }
}

TEST(TickRules, UninstallRefusalNamesTheGameEvenBeforeATickSawIt) {
  const std::wstring game = L"Oyun açıkken dosyaları kaldırılamaz; önce oyunu kapat.";
  const std::wstring download = L"İndirme sürerken kaldırılamaz; bitmesini bekle.";
  const std::pair<const char*, Arrange> gameCases[] = {
      {"seen at the last tick", [](World& w) { w.app.gamesWereRunning = true; }},
      {"counted now", [](World& w) { w.app.runningCount = 1; }},
      {"started a moment ago", [](World& w) { w.app.launchDeadline = w.app.now + 0.1; }},
  };
  for (const auto& [name, setup] : gameCases) {
    SCOPED_TRACE(name);
    World w;
    setup(w);
    EXPECT_EQ(UninstallRefusalText(w.app), game);
  }
  World downloading;
  downloading.app.launchDeadline = downloading.app.now;
  downloading.snap.serverRunning[0] = true;
  EXPECT_EQ(UninstallRefusalText(downloading.app), download);
}

TEST(TickRules, FirstCheckWaitsForTheUpdaterOrFifteenSeconds) {
  World w;
  w.app.initialCheckPending = true;
  w.snap.updaterBusy = true;
  w.snap.updater.state = kUpdateChecking;
  for (double now : {0.0, 10.0, 15.0}) {
    w.app.now = now;
    EXPECT_FALSE(InitialCheckMayStart(w.app, w.snap)) << now;
  }
  w.app.now = 15.5;
  EXPECT_TRUE(InitialCheckMayStart(w.app, w.snap));

  w.snap.updater.state = kUpdateDownloading;  // a download is not a check that hangs
  EXPECT_FALSE(InitialCheckMayStart(w.app, w.snap));

  w.app.now = 2;
  w.snap.updaterBusy = false;
  w.snap.updater.state = kUpdateNoUpdate;
  EXPECT_TRUE(InitialCheckMayStart(w.app, w.snap));
  w.app.restarting = true;
  EXPECT_FALSE(InitialCheckMayStart(w.app, w.snap));
}

TEST(TickRules, PeriodicGameFileCheck) {
  World w;
  w.app.lastCheckTime = 100;
  w.app.now = 400;
  EXPECT_FALSE(PeriodicCheckDue(w.app, w.snap));
  w.app.now = 400.5;
  EXPECT_TRUE(PeriodicCheckDue(w.app, w.snap));

  const std::pair<const char*, Arrange> blockers[] = {
      {"a game runs", [](World& w) { w.app.runningCount = 1; }},
      {"game-file sync busy", [](World& w) { w.snap.gameRunning = true; }},
      {"GTA installer busy", [](World& w) { w.snap.gtaRunning = true; }},
      {"game files being removed", [](World& w) { w.app.uninstallRunning = true; }},
  };
  for (const auto& [name, setup] : blockers) {
    SCOPED_TRACE(name);
    World b;
    b.app.lastCheckTime = 0;
    b.app.now = 5000;
    b.app.gamesWereRunning = true;
    b.snap.game.status = kSyncGameRunning;
    setup(b);
    EXPECT_FALSE(PeriodicCheckDue(b.app, b.snap));
  }

  // The tick after the last game closed checks at once, not 300 s later.
  World closed;
  closed.app.lastCheckTime = closed.app.now - 10;
  closed.app.runningCount = 0;
  closed.app.gamesWereRunning = true;
  EXPECT_TRUE(PeriodicCheckDue(closed.app, closed.snap));

  World skipped;  // a check that met an open game is repeated
  skipped.app.lastCheckTime = skipped.app.now - 1;
  skipped.snap.game.status = kSyncGameRunning;
  EXPECT_TRUE(PeriodicCheckDue(skipped.app, skipped.snap));
}

TEST(TickRules, LauncherUpdateCheckCadence) {
  World w;
  w.app.now = 400;
  EXPECT_FALSE(UpdateCheckDue(w.app, w.snap, 100));
  w.app.now = 400.5;
  EXPECT_TRUE(UpdateCheckDue(w.app, w.snap, 100));

  const std::pair<const char*, Arrange> blockers[] = {
      {"restart under way", [](World& w) { w.app.restarting = true; }},
      {"updater busy", [](World& w) { w.snap.updaterBusy = true; }},
      {"update ready to restart", [](World& w) { w.snap.updater.state = kUpdateReady; }},
      {"a game runs", [](World& w) { w.app.runningCount = 1; }},
      {"game-file sync busy", [](World& w) { w.snap.gameRunning = true; }},
      {"server sync busy", [](World& w) { w.snap.serverRunning[0] = true; }},
      {"play pressed", [](World& w) { w.app.playRequested = true; }},
  };
  for (const auto& [name, setup] : blockers) {
    SCOPED_TRACE(name);
    World b;
    b.app.now = 5000;
    setup(b);
    EXPECT_FALSE(UpdateCheckDue(b.app, b.snap, 100));
  }
}

TEST(TickRules, GtaDownloadStartsOnlyWhenEverythingElseRests) {
  const Arrange missingGta = [](World& w) {
    w.app.gtaValid = false;
    w.snap.gta.status = kGtaIdle;
  };
  World due;
  missingGta(due);
  EXPECT_TRUE(GtaDownloadDue(due.app, due.snap));
  due.snap.gta.status = kGtaPaused;  // an interrupted download resumes
  EXPECT_TRUE(GtaDownloadDue(due.app, due.snap));

  const std::pair<const char*, Arrange> blockers[] = {
      {"not installed", [](World& w) { w.app.installed = false; }},
      {"no folder", [](World& w) { w.app.installFolder.clear(); }},
      {"installer running", [](World& w) { w.snap.gtaRunning = true; }},
      {"GTA valid", [](World& w) { w.app.gtaValid = true; }},
      {"last run failed", [](World& w) { w.snap.gta.status = kGtaFailed; }},
      {"a game runs", [](World& w) { w.app.runningCount = 1; }},
      {"first check pending", [](World& w) { w.app.initialCheckPending = true; }},
      {"game-file sync busy", [](World& w) { w.snap.gameRunning = true; }},
      {"launcher downloading", [](World& w) { w.snap.updater.state = kUpdateDownloading; }},
      {"launcher ready to restart", [](World& w) { w.snap.updater.state = kUpdateReady; }},
      {"restart under way", [](World& w) { w.app.restarting = true; }},
      {"uninstall running", [](World& w) { w.app.uninstallRunning = true; }},
      {"game files incomplete", [](World& w) { w.snap.game.installedComplete = false; }},
      {"launcher outdated", [](World& w) { w.snap.game.status = kSyncLauncherOutdated; }},
  };
  for (const auto& [name, setup] : blockers) {
    SCOPED_TRACE(name);
    World b;
    missingGta(b);
    setup(b);
    EXPECT_FALSE(GtaDownloadDue(b.app, b.snap));
  }
}

// ---- Speed sampler ----------------------------------------------------------------------------

TEST(SpeedSampler, SamplesEveryHalfSecondAndSmooths) {
  SpeedSampler s;
  s.Sample(10, 0);
  EXPECT_EQ(s.speed, 0);
  s.Sample(10.4, 1000);  // too soon: the bytes count towards the next sample
  EXPECT_EQ(s.speed, 0);
  s.Sample(10.5, 1000);
  EXPECT_DOUBLE_EQ(s.speed, 2000);
  s.Sample(11.5, 5000);
  EXPECT_DOUBLE_EQ(s.speed, 0.25 * 4000 + 0.75 * 2000);
}

TEST(SpeedSampler, RestartedDownloadResetsTheSpeedAndTheRemainingTime) {
  SpeedSampler s;
  s.Sample(10, 0);
  s.Sample(11, 8 * kMiB);
  ASSERT_DOUBLE_EQ(s.speed, 8.0 * kMiB);

  s.Sample(11.25, 1 * kMiB);  // bytes went backwards, even within half a second
  EXPECT_EQ(s.speed, 0);
  World w;
  w.snap.game.status = kSyncDownloading;
  w.snap.game.bytesDownloaded = 1 * kMiB;
  w.snap.game.bytesToDownload = 9 * kMiB;
  w.app.gameSpeed = s.speed;
  EXPECT_EQ(w.View().detail, L"1,0 MB / 9,0 MB");

  s.Sample(11.75, 2 * kMiB);  // measured from the new start, not smoothed with the old speed
  EXPECT_DOUBLE_EQ(s.speed, 2.0 * kMiB);

  s.Sample(-1, 3 * kMiB);
  EXPECT_EQ(s.speed, 0);
  s.Reset();
  s.Sample(20, 4 * kMiB);  // the first sample after a reset only sets the baseline
  EXPECT_EQ(s.speed, 0);
  EXPECT_EQ(s.lastBytes, 4 * kMiB);
}

// ---- Join link step ---------------------------------------------------------------------------

TEST(DecideJoin, CancelWaitJoinOrLeaveToThePlayer) {
  struct JoinCase {
    const char* name;
    Arrange setup;
    JoinStep step;
    const wchar_t* title;
  };
  const double linkTime = 900;  // World's clock is at 1000
  const JoinCase cases[] = {
      {"ready", [](World&) {}, JoinStep::Join, L""},
      {"599.9 s after the link", [](World& w) { w.app.now = 900 + 599.9; }, JoinStep::Join, L""},
      {"server files missing", [](World& w) { w.server().status = kSyncUpdateAvailable; }, JoinStep::Join, L""},
      {"a game runs", [](World& w) { w.app.runningCount = 1; }, JoinStep::Cancel, L""},
      {"not installed", [](World& w) { w.app.installed = false; }, JoinStep::Cancel, L""},
      {"no folder", [](World& w) { w.app.installFolder.clear(); }, JoinStep::Cancel, L""},
      {"no server", [](World& w) { w.app.selected = -1; }, JoinStep::Cancel, L""},
      {"uninstalling", [](World& w) { w.app.uninstallRunning = true; }, JoinStep::Cancel, L""},
      {"expired", [](World& w) { w.app.now = 900 + 600.5; }, JoinStep::Cancel, L""},
      {"expired while waiting",
       [](World& w) {
         w.app.now = 900 + 601;
         w.app.initialCheckPending = true;
       },
       JoinStep::Cancel, L""},
      {"first check pending", [](World& w) { w.app.initialCheckPending = true; }, JoinStep::Wait, L""},
      {"selection deferred", [](World& w) { w.app.selectionDeferred = true; }, JoinStep::Wait, L""},
      {"game-file sync busy", [](World& w) { w.snap.gameRunning = true; }, JoinStep::Wait, L""},
      {"server sync busy", [](World& w) { w.snap.serverRunning[kTalvoreen] = true; }, JoinStep::Wait, L""},
      {"settings open", [](World& w) { w.app.overlay = Overlay::Settings; }, JoinStep::Wait, L""},
      {"game files being checked", [](World& w) { w.snap.game.status = kSyncChecking; }, JoinStep::Wait, L""},
      {"inside the launch window", [](World& w) { w.app.launchDeadline = w.app.now + 1; }, JoinStep::Wait, L""},
      {"required update",
       [](World& w) {
         w.snap.game.status = kSyncUpdateAvailable;
         w.snap.game.required = true;
       },
       JoinStep::NotJoining, L"Güncelleme mevcut"},
      {"launcher outdated", [](World& w) { w.snap.game.status = kSyncLauncherOutdated; }, JoinStep::NotJoining,
       L"Launcher güncellemesi gerekli"},
      {"server check failed", [](World& w) { w.server().status = kSyncFailed; }, JoinStep::NotJoining,
       L"Talvoreen Roleplay dosyaları denetlenemedi"},
  };
  for (const JoinCase& c : cases) {
    SCOPED_TRACE(c.name);
    World w;
    c.setup(w);
    JoinDecision d = DecideJoin(w.app, w.snap, linkTime);
    EXPECT_EQ(d.step, c.step);
    EXPECT_EQ(d.statusTitle, c.title);
  }
}

// ---- Taskbar ----------------------------------------------------------------------------------

TEST(TaskbarProgress, FirstMatchingWorkerState) {
  struct TaskbarCase {
    const char* name;
    int game;
    bool complete;
    int gta;
    int state;
    uint64_t completed, total;
  };
  // Game-file bytes are 1/2, GTA download 3/4, GTA extraction 5/6.
  const TaskbarCase cases[] = {
      {"game download before GTA download", kSyncDownloading, true, kGtaDownloading, 2, 1, 2},
      {"GTA download before a game check", kSyncChecking, true, kGtaDownloading, 2, 3, 4},
      {"GTA extraction", kSyncUpToDate, true, kGtaExtracting, 2, 5, 6},
      {"game check", kSyncChecking, true, kGtaDone, 1, 0, 0},
      {"game verify", kSyncVerifying, true, kGtaIdle, 1, 0, 0},
      {"GTA connecting", kSyncUpToDate, true, kGtaConnecting, 1, 0, 0},
      {"checking hides a pause", kSyncChecking, true, kGtaPaused, 1, 0, 0},
      {"GTA paused", kSyncUpToDate, true, kGtaPaused, 8, 3, 4},
      {"failed first download", kSyncFailed, false, kGtaDone, 4, 1, 1},
      {"failed check of a complete install", kSyncFailed, true, kGtaDone, 0, 0, 0},
      {"GTA failed", kSyncUpToDate, true, kGtaFailed, 0, 0, 0},
      {"at rest", kSyncUpToDate, true, kGtaDone, 0, 0, 0},
  };
  for (const TaskbarCase& c : cases) {
    SCOPED_TRACE(c.name);
    UiSnapshot snap;
    snap.game.status = c.game;
    snap.game.installedComplete = c.complete;
    snap.game.bytesDownloaded = 1;
    snap.game.bytesToDownload = 2;
    snap.gta.status = c.gta;
    snap.gta.downloadDone = 3;
    snap.gta.downloadTotal = 4;
    snap.gta.extractDone = 5;
    snap.gta.extractTotal = 6;
    TaskbarState t = ComputeTaskbarState(snap);
    EXPECT_EQ(t.state, c.state);
    EXPECT_EQ(t.completed, c.completed);
    EXPECT_EQ(t.total, c.total);
  }
}

// ---- Install folder and restart ---------------------------------------------------------------

TEST(InstallCandidateFor, AppendsTalvoreenUnlessAlreadyLast) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"D:\\Games", L"D:\\Games\\Talvoreen"},
      {L"D:\\Games\\talvoreen", L"D:\\Games\\talvoreen"},
      {L"D:\\TALVOREEN", L"D:\\TALVOREEN"},
      {L"D:\\", L"D:\\Talvoreen"},
      {L"D:\\Games\\", L"D:\\Games\\Talvoreen"},
      {L"D:\\Talvoreen\\Games", L"D:\\Talvoreen\\Games\\Talvoreen"},
      {L"D:\\MyTalvoreen", L"D:\\MyTalvoreen\\Talvoreen"},
      {L"D:\\Talvoreen2", L"D:\\Talvoreen2\\Talvoreen"},
  };
  for (const auto& [chosen, candidate] : cases) EXPECT_EQ(InstallCandidateFor(chosen), candidate) << chosen;
}

TEST(RestartArguments, OptionsInOrderAndOnlyWhenNeeded) {
  const std::wstring cdn = L"https://cdn.example/talvoreen-launcher";
  EXPECT_EQ(RestartArguments(4242, L"", cdn, cdn, L""), L"--after-update 4242");
  EXPECT_EQ(RestartArguments(7, L"D:\\Oyunlar\\Talvoreen", L"https://mirror.example/tl", cdn, L"corvel"),
            L"--after-update 7 --dir \"D:\\Oyunlar\\Talvoreen\" --cdn \"https://mirror.example/tl\" --join corvel");
  EXPECT_EQ(RestartArguments(7, L"", cdn, cdn, L"dev"), L"--after-update 7 --join dev");
  EXPECT_EQ(RestartArguments(4294967295u, L"C:\\Program Files\\Talvoreen", cdn, cdn, L""),
            L"--after-update 4294967295 --dir \"C:\\Program Files\\Talvoreen\"");
  // A backslash before the closing quote would escape it and swallow the next option.
  EXPECT_EQ(RestartArguments(7, L"D:\\", cdn, cdn, L"corvel"), L"--after-update 7 --dir \"D:\\\\\" --join corvel");
}

}  // namespace
