// The controller's decisions. Sections: status-bar helpers; BuildStatusView; tick rules;
// SpeedSampler; DecideJoin; taskbar; install folder and restart command line.
#include "ui/app_rules.h"

#include <algorithm>
#include <cmath>

#include "base/format.h"
#include "base/text.h"

// ---- Status-bar helpers ------------------------------------------------------------------

bool IsGtaBusy(const GtaSnapshot& gta) {
  return gta.status == kGtaConnecting || gta.status == kGtaDownloading || gta.status == kGtaExtracting;
}

namespace {

bool HasSelection(const AppState& app) { return app.selected >= 0 && app.selected < ServerCatalogue::kCount; }

float Fraction(uint64_t done, uint64_t total) {
  if (total == 0) return 0;
  double f = static_cast<double>(done) / static_cast<double>(total);
  return static_cast<float>(std::clamp(f, 0.0, 1.0));
}

std::wstring DoneOfTotal(uint64_t done, uint64_t total) { return FormatSize(done) + L" / " + FormatSize(total); }

// " · speed · remaining kaldı", or nothing while the speed is too low to promise a time.
// A counter past its total (a server that grew the file) must not wrap into years.
std::wstring SpeedSuffix(uint64_t done, uint64_t total, double speed) {
  if (!(speed > 1)) return L"";
  double left = total > done ? static_cast<double>(total - done) : 0.0;
  return L" · " + FormatSpeed(speed) + L" · " + FormatDuration(left / speed) + L" kaldı";
}

std::wstring Count(uint64_t value) { return DecimalText(static_cast<unsigned long long>(value)); }

void SetPlay(StatusView& view, bool enabled) {
  view.primaryLabel = L"OYNA";
  view.primaryIsPlay = true;
  view.primaryAction = kActionPlay;
  view.primaryEnabled = enabled;
}

void SetButton(StatusView& view, const wchar_t* label, int32_t action, bool enabled) {
  view.primaryLabel = label;
  view.primaryIsPlay = false;
  view.primaryAction = action;
  view.primaryEnabled = enabled;
}

void SetHead(StatusView& view, int32_t kind, Color accent, std::wstring title) {
  view.kind = kind;
  view.accent = accent;
  view.title = std::move(title);
}

StatusView RunningView(const AppState& app, const UiSnapshot& snap) {
  StatusView view;
  const SyncSnapshot& g = snap.game;
  SetHead(view, kStatusRunning, kAccentBlue,
          app.runningCount == 1 ? L"Oyun açık" : DecimalText(static_cast<long long>(app.runningCount)) + L" oyun açık");
  if (NewLauncherPromised(app, snap)) {
    view.detail = L"Yeni launcher sürümü hazır; oyunlar kapanınca kurulacak.";
  } else if (!g.remoteBuild.empty() && g.remoteBuild != g.installedBuild) {
    view.detail = L"Yeni bir güncelleme var; oyunlar kapanınca kurulacak.";
  } else {
    view.detail = L"İyi oyunlar. Oyunlar kapanınca güncellemeler denetlenir.";
  }
  SetButton(view, L"OYUN AÇIK", kActionPlay, false);

  const bool selected = HasSelection(app);
  const int serverStatus = selected ? snap.servers[app.selected].status : kSyncIdle;
  const std::wstring name = selected ? ServerCatalogue::kTitles[app.selected] : L"";
  if (selected && serverStatus == kSyncUpdateAvailable) {
    const SyncSnapshot& s = snap.servers[app.selected];
    view.secondaryLabel = L"Dosyaları indir";
    view.secondaryAction = kActionDownloadServerFiles;
    view.detail = name + L" için " + FormatSize(s.bytesToDownload) + L" indirilmeli.";
  } else if (selected && serverStatus == kSyncFailed) {
    const SyncSnapshot& s = snap.servers[app.selected];
    view.secondaryLabel = L"Tekrar dene";
    view.secondaryAction = kActionRetryServerFiles;
    view.detail = JoinReason(name + L" dosyaları denetlenemedi", s.message);
  } else if (selected && serverStatus == kSyncDownloading) {
    const SyncSnapshot& s = snap.servers[app.selected];
    view.secondaryLabel = L"Bir tane daha aç";
    view.secondaryAction = kActionOpenAnother;
    view.secondaryEnabled = false;
    view.detail = name + L" dosyaları iniyor · " + DoneOfTotal(s.bytesDownloaded, s.bytesToDownload);
  } else {
    view.secondaryLabel = L"Bir tane daha aç";
    view.secondaryAction = kActionOpenAnother;
    view.secondaryEnabled = app.now >= app.launchDeadline && app.runningCount < kGameCopyLimit && selected &&
                            serverStatus == kSyncUpToDate;
  }
  return view;
}

StatusView GtaBusyView(const AppState& app, const GtaSnapshot& gta) {
  StatusView view;
  const bool extracting = gta.status == kGtaExtracting;
  SetHead(view, kStatusTransfer, kAccentBlue, extracting ? L"Oyun dosyaları kuruluyor" : L"Oyun dosyaları indiriliyor");
  if (gta.status == kGtaConnecting) {
    view.detail = L"Sunucuya bağlanılıyor";
    view.progress = 2;
  } else if (gta.status == kGtaDownloading) {
    view.detail = DoneOfTotal(gta.downloadDone, gta.downloadTotal) +
                  SpeedSuffix(gta.downloadDone, gta.downloadTotal, app.gtaSpeed);
    view.progress = Fraction(gta.downloadDone, gta.downloadTotal);
  } else {
    view.detail = Count(gta.filesDone) + L" / " + Count(gta.filesTotal) + L" dosya · " +
                  DoneOfTotal(gta.extractDone, gta.extractTotal);
    view.progress = Fraction(gta.extractDone, gta.extractTotal);
  }
  SetButton(view, extracting ? L"KURULUYOR" : L"İNDİRİLİYOR", kActionPlay, false);
  return view;
}

// The selected server's part of a complete install (rule 15 after the launch error and
// the missing selection).
StatusView ServerView(const AppState& app, const UiSnapshot& snap) {
  StatusView view;
  const SyncSnapshot& s = snap.servers[app.selected];
  const SyncSnapshot& g = snap.game;
  const std::wstring name = ServerCatalogue::kTitles[app.selected];
  SetPlay(view, false);

  if (s.status == kSyncChecking || s.status == kSyncVerifying || s.status == kSyncDownloading) {
    view.accent = kAccentBlue;
    const bool downloading = s.status == kSyncDownloading;
    if (downloading) {
      view.kind = kStatusTransfer;
      view.title = name + L" dosyaları indiriliyor";
      view.detail = DoneOfTotal(s.bytesDownloaded, s.bytesToDownload) + L" · " + Count(s.filesToDownload) +
                    L" dosya" + SpeedSuffix(s.bytesDownloaded, s.bytesToDownload, app.serverSpeed);
      view.progress = Fraction(s.bytesDownloaded, s.bytesToDownload);
    } else {
      view.kind = kStatusBusy;
      view.title = name + L" dosyaları denetleniyor";
      if (s.bytesToVerify == 0) {
        view.detail = L"Sunucuya bağlanılıyor";
        view.progress = 2;
      } else {
        view.detail = DoneOfTotal(s.bytesVerified, s.bytesToVerify);
        view.progress = Fraction(s.bytesVerified, s.bytesToVerify);
      }
    }
    if (app.playRequested) {
      SetButton(view, L"AÇILIYOR", kActionPlay, false);
    } else if (downloading) {
      SetButton(view, L"İNDİRİLİYOR", kActionPlay, false);
    }
    return view;
  }
  if (s.status == kSyncUpdateAvailable) {
    SetHead(view, kStatusTransfer, kAccentBlue, name + L" dosyaları eksik");
    view.detail = FormatSize(s.bytesToDownload) + L" indirilecek · " + Count(s.filesToDownload) +
                  L" dosya · oynamak için önce indir";
    SetButton(view, L"İNDİR", kActionDownloadServerFiles, true);
    return view;
  }
  if (s.status == kSyncFailed) {
    SetHead(view, kStatusWarning, kAccentAmber,
            name + (s.mode == SyncMode::Update ? L" dosyaları indirilemedi" : L" dosyaları denetlenemedi"));
    view.detail = s.message;
    view.detailIsError = true;
    SetButton(view, L"TEKRAR DENE", kActionRetryServerFiles, true);
    return view;
  }
  if (g.status == kSyncFailed) {
    SetHead(view, kStatusWarning, kAccentAmber, L"Güncellemeler denetlenemedi");
    view.detail = g.message;
    SetPlay(view, true);
    view.retryLink = true;
    return view;
  }
  SetHead(view, kStatusReady, kAccentGreen, L"Oynamaya hazır");
  view.detail = ReadyDetail(name, ServerCatalogue::kGameAddresses[app.selected], s.filesUnavailable);
  SetPlay(view, true);
  return view;
}

}  // namespace

std::wstring ReadyDetail(const std::wstring& name, const std::wstring& gameAddress, uint32_t filesUnavailable) {
  std::wstring detail = gameAddress.empty() ? name + L" seçili · Oyun açılınca menüden bağlan"
                                            : name + L" · OYNA'ya basınca sunucuya bağlanırsın";
  if (filesUnavailable != 0) detail += L" · " + Count(filesUnavailable) + L" dosya oyunda iner";
  return detail;
}

// ---- BuildStatusView ---------------------------------------------------------------------

StatusView BuildStatusView(const AppState& app, const UiSnapshot& snap) {
  StatusView view;
  const SyncSnapshot& g = snap.game;
  const UpdateSnapshot& updater = snap.updater;

  // Launcher update in progress.
  if (updater.state == kUpdateDownloading ||
      (updater.state == kUpdateReady && !app.newLauncherStaged && !app.restartFailed) ||
      app.restarting) {
    SetHead(view, kStatusTransfer, kAccentBlue, L"Launcher güncelleniyor");
    if (updater.state == kUpdateDownloading) {
      view.detail = L"Sürüm " + WideFromUtf8(updater.remoteVersion) + L" · " +
                    DoneOfTotal(updater.bytesDone, updater.bytesTotal);
      view.progress = Fraction(updater.bytesDone, updater.bytesTotal);
    } else {
      view.detail = L"Yeni sürüm açılıyor";
      view.progress = 2;
    }
    SetButton(view, L"GÜNCELLENİYOR", kActionPlay, false);
    return view;
  }
  if (updater.state == kUpdateChecking && app.initialCheckPending) {
    SetHead(view, kStatusBusy, kAccentBlue, L"Launcher güncellemesi denetleniyor");
    view.detail = L"Sunucuya bağlanılıyor";
    view.progress = 2;
    SetPlay(view, false);
    return view;
  }
  if (!app.installed) {
    SetHead(view, kStatusPrompt, kAccentBlue, L"Kuruluma hazır");
    view.detail = L"Kurulumdan sonra oyun dosyaları kendiliğinden iner.";
    SetButton(view, L"KUR", kActionInstall, true);
    return view;
  }

  SetPlay(view, false);
  if (g.status == kSyncLauncherOutdated) {
    SetHead(view, kStatusWarning, kAccentAmber, L"Launcher güncellemesi gerekli");
    if (!app.updaterMessage.empty()) {
      view.detail = app.updaterMessage;
      view.detailIsError = true;
    } else {
      view.detail = L"GÜNCELLE'ye bas; launcher kendini güncelleyip yeniden açılacak.";
    }
    SetButton(view, L"GÜNCELLE", kActionUpdateLauncher, !snap.updaterBusy);
    return view;
  }
  if (app.runningCount > 0) return RunningView(app, snap);
  if (app.now < app.launchDeadline) {
    SetHead(view, kStatusBusy, kAccentBlue, L"Oyun başlatılıyor");
    view.detail = L"Oyun penceresi birazdan açılacak.";
    SetButton(view, L"AÇILIYOR", kActionPlay, false);
    return view;
  }
  if (IsGtaBusy(snap.gta)) return GtaBusyView(app, snap.gta);

  const bool update = !g.installedBuild.empty();
  const bool complete = g.installedComplete;
  const bool gtaReady = app.gtaValid;  // the installer is not busy past this point

  if (g.status == kSyncIdle || g.status == kSyncChecking) {
    SetHead(view, kStatusBusy, kAccentBlue, L"Güncellemeler denetleniyor");
    view.progress = 2;
    const double elapsed = app.now - app.checkStartTime;
    if (g.status == kSyncChecking && elapsed >= kSlowServerSeconds) {
      view.detail = L"Sunucu yavaş yanıt veriyor, bekleniyor · " +
                    DecimalText(static_cast<long long>(std::floor(elapsed))) + L" sn";
    } else {
      view.detail = L"Sunucuya bağlanılıyor";
    }
    return view;
  }
  if (g.status == kSyncVerifying) {
    SetHead(view, kStatusBusy, kAccentBlue, L"Oyun dosyaları denetleniyor");
    if (g.bytesToVerify == 0) {
      view.detail = L"Dosyalar karşılaştırılıyor";
      view.progress = 2;
    } else {
      view.detail = DoneOfTotal(g.bytesVerified, g.bytesToVerify);
      view.progress = Fraction(g.bytesVerified, g.bytesToVerify);
    }
    return view;
  }
  if (g.status == kSyncDownloading) {
    SetHead(view, kStatusTransfer, kAccentBlue, update ? L"Güncelleme indiriliyor" : L"Oyun dosyaları indiriliyor");
    view.detail = DoneOfTotal(g.bytesDownloaded, g.bytesToDownload) +
                  SpeedSuffix(g.bytesDownloaded, g.bytesToDownload, app.gameSpeed);
    view.progress = Fraction(g.bytesDownloaded, g.bytesToDownload);
    SetButton(view, update ? L"GÜNCELLENİYOR" : L"İNDİRİLİYOR", kActionPlay, false);
    return view;
  }
  if (complete && !gtaReady) {
    if (snap.gta.status == kGtaFailed) {
      SetHead(view, kStatusError, kAccentRed, L"Oyun dosyaları indirilemedi");
      view.detail = snap.gta.message;
      view.detailIsError = true;
      SetButton(view, L"TEKRAR DENE", kActionRetryGta, true);
    } else {
      SetHead(view, kStatusTransfer, kAccentBlue, L"Oyun dosyaları indiriliyor");
      view.detail = L"Sunucuya bağlanılıyor";
      view.progress = 2;
      SetButton(view, L"İNDİRİLİYOR", kActionPlay, false);
    }
    return view;
  }
  if (g.status == kSyncUpdateAvailable) {
    SetHead(view, kStatusTransfer, kAccentBlue, update ? L"Güncelleme mevcut" : L"Oyun dosyaları indirilmedi");
    view.detail = FormatSize(g.bytesToDownload) + L" indirilecek · " + Count(g.filesToDownload) + L" dosya";
    if (!update || g.required || !complete) {
      SetButton(view, update ? L"GÜNCELLE" : L"İNDİR", kActionDownloadGameFiles, true);
    } else {
      SetPlay(view, gtaReady);
      view.secondaryLabel = L"Güncelle";
      view.secondaryAction = kActionDownloadGameFiles;
    }
    return view;
  }
  if (!complete) {
    if (g.status == kSyncFailed) {
      SetHead(view, kStatusError, kAccentRed, L"Oyun dosyaları indirilemedi");
      view.detail = g.message;
      view.detailIsError = true;
    } else {
      SetHead(view, kStatusWarning, kAccentAmber, L"Oyun dosyaları eksik");
      view.detail = L"Eksik dosyalar denetlenip indirilecek.";
    }
    SetButton(view, L"TEKRAR DENE", kActionRetrySync, true);
    return view;
  }

  if (!app.launchError.empty()) {
    SetHead(view, kStatusError, kAccentRed, L"Oyun başlatılamadı");
    view.detail = app.launchError;
    view.detailIsError = true;
    SetPlay(view, true);
    return view;
  }
  if (!HasSelection(app)) {
    SetHead(view, kStatusPrompt, kAccentBlue, L"Sunucunu seç");
    view.detail = L"Oynamak istediğin sunucuya tıkla; dosyaları kendiliğinden iner.";
    return view;
  }
  return ServerView(app, snap);
}

// ---- Tick rules --------------------------------------------------------------------------

bool NewLauncherPromised(const AppState& app, const UiSnapshot& snap) {
  return app.newLauncherStaged && !app.restartFailed && !app.restarting && snap.updater.state == kUpdateReady;
}

std::wstring UninstallRefusalText(const AppState& app) {
  // A copy started a moment ago counts as running although no tick has seen it yet.
  const bool gameStarting = app.now < app.launchDeadline;
  return app.gamesWereRunning || app.runningCount > 0 || gameStarting
             ? L"Oyun açıkken dosyaları kaldırılamaz; önce oyunu kapat."
             : L"İndirme sürerken kaldırılamaz; bitmesini bekle.";
}

bool WorkBlocksRestart(const AppState& app, const UiSnapshot& snap) {
  // Removing the game files counts too: a restart would leave the worker half-way.
  if (app.runningCount > 0 || snap.gameRunning || snap.gtaRunning || app.playRequested ||
      app.now < app.launchDeadline || app.uninstallRunning) {
    return true;
  }
  return std::any_of(snap.serverRunning.begin(), snap.serverRunning.end(), [](bool running) { return running; });
}

bool InitialCheckMayStart(const AppState& app, const UiSnapshot& snap) {
  if (app.restarting) return false;
  return !snap.updaterBusy || (snap.updater.state == kUpdateChecking && app.now > 15);
}

bool PeriodicCheckDue(const AppState& app, const UiSnapshot& snap) {
  // A check while the uninstall worker deletes the same files would report nonsense and
  // race the worker; the check after the uninstall follows anyway.
  if (app.runningCount > 0 || snap.gameRunning || snap.gtaRunning || app.uninstallRunning) return false;
  return app.gamesWereRunning || snap.game.status == kSyncGameRunning || app.now - app.lastCheckTime > 300;
}

bool UpdateCheckDue(const AppState& app, const UiSnapshot& snap, double lastUpdaterCheck) {
  return !app.restarting && !snap.updaterBusy && snap.updater.state != kUpdateReady &&
         app.now - lastUpdaterCheck > 300 && !WorkBlocksRestart(app, snap);
}

bool GtaDownloadDue(const AppState& app, const UiSnapshot& snap) {
  return app.installed && !app.installFolder.empty() && !snap.gtaRunning && !app.gtaValid &&
         snap.gta.status != kGtaFailed && app.runningCount == 0 && !app.initialCheckPending &&
         !snap.gameRunning && snap.updater.state != kUpdateDownloading && snap.updater.state != kUpdateReady &&
         !app.restarting && !app.uninstallRunning && snap.game.installedComplete &&
         snap.game.status != kSyncLauncherOutdated;
}

// ---- SpeedSampler ------------------------------------------------------------------------

void SpeedSampler::Sample(double now, uint64_t bytes) {
  if (lastTime < 0 || now < 0 || bytes < lastBytes) {
    lastTime = now;
    lastBytes = bytes;
    speed = 0;
    return;
  }
  const double elapsed = now - lastTime;
  if (elapsed < 0.5) return;
  const double rate = static_cast<double>(bytes - lastBytes) / elapsed;
  speed = speed <= 0 ? rate : 0.25 * rate + 0.75 * speed;
  lastTime = now;
  lastBytes = bytes;
}

// ---- DecideJoin --------------------------------------------------------------------------

JoinDecision DecideJoin(const AppState& app, const UiSnapshot& snap, double linkTime) {
  JoinDecision decision;
  if (!app.installed || app.installFolder.empty() || !HasSelection(app) || app.runningCount > 0 ||
      app.uninstallRunning || app.now - linkTime > 600) {
    decision.step = JoinStep::Cancel;
    return decision;
  }
  if (app.initialCheckPending || app.selectionDeferred || snap.gameRunning || snap.serverRunning[app.selected] ||
      app.overlay != Overlay::None) {
    decision.step = JoinStep::Wait;
    return decision;
  }
  StatusView view = BuildStatusView(app, snap);
  if (!view.primaryEnabled || view.primaryLabel.empty()) {
    decision.step = JoinStep::Wait;
  } else if (view.primaryAction == kActionPlay || view.primaryAction == kActionDownloadServerFiles) {
    decision.step = JoinStep::Join;
  } else {
    decision.step = JoinStep::NotJoining;
    decision.statusTitle = view.title;
  }
  return decision;
}

// ---- Taskbar -----------------------------------------------------------------------------

TaskbarState ComputeTaskbarState(const UiSnapshot& snap) {
  const SyncSnapshot& g = snap.game;
  const GtaSnapshot& gta = snap.gta;
  if (g.status == kSyncDownloading) return {2, g.bytesDownloaded, g.bytesToDownload};
  if (gta.status == kGtaDownloading) return {2, gta.downloadDone, gta.downloadTotal};
  if (gta.status == kGtaExtracting) return {2, gta.extractDone, gta.extractTotal};
  if (g.status == kSyncChecking || g.status == kSyncVerifying || gta.status == kGtaConnecting) return {1, 0, 0};
  if (gta.status == kGtaPaused) return {8, gta.downloadDone, gta.downloadTotal};
  if (g.status == kSyncFailed && !g.installedComplete) return {4, 1, 1};
  return {};
}

// ---- Install folder and restart command line ---------------------------------------------

std::wstring InstallCandidateFor(const std::wstring& chosenNormalised) {
  std::wstring folder = chosenNormalised;
  // A drive root keeps its separator after normalisation; the result gets only one.
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  const size_t cut = folder.find_last_of(L"\\/");
  const std::wstring last = cut == std::wstring::npos ? folder : folder.substr(cut + 1);
  if (EqualsIgnoreCase(last, L"Talvoreen")) return folder;
  return folder + L"\\Talvoreen";
}

std::wstring RestartArguments(uint32_t processId, const std::wstring& dirOption, const std::wstring& contentBaseUrl,
                              const std::wstring& defaultContentBaseUrl, const std::wstring& joinKey) {
  std::wstring arguments = L"--after-update " + DecimalText(static_cast<unsigned long long>(processId));
  if (!dirOption.empty()) arguments += L" --dir " + QuotedCommandArgument(dirOption);
  if (contentBaseUrl != defaultContentBaseUrl) arguments += L" --cdn " + QuotedCommandArgument(contentBaseUrl);
  if (!joinKey.empty()) arguments += L" --join " + joinKey;
  return arguments;
}
