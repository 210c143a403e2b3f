#include "launcher/headless.h"

#include <windows.h>

#include "base/catalogue.h"
#include "base/files.h"
#include "base/log.h"
#include "base/registry.h"
#include "base/text.h"
#include "base/version.h"
#include "base/worker_snapshot.h"
#include "gta/gta_installer.h"
#include "manifest/signing_key.h"
#include "net/player_count_service.h"
#include "sync/game_sync.h"
#include "system/game_launch.h"
#include "system/install.h"
#include "system/uninstall.h"
#include "update/launcher_updater.h"

namespace {

int RunWhere() {
  const std::wstring found = FindExistingInstall();
  WriteConsoleLine(found.empty() ? L"none" : found);
  return found.empty() ? 1 : 0;
}

std::wstring Figure(uint64_t value) { return DecimalText(static_cast<unsigned long long>(value)); }

int RunGtaJob(const LaunchOptions& options, const std::wstring& installDir, bool reinstall) {
  GtaInstaller installer(installDir, options.gtaArchiveUrl);
  installer.Start(reinstall);
  for (;;) {
    bool running = false;
    const GtaSnapshot s = ReadWorker(installer, running);
    WriteConsoleLine(std::wstring(GtaStatusName(s.status)) + L" download " + Figure(s.downloadDone) + L"/" +
                     Figure(s.downloadTotal) + L" extract " + Figure(s.extractDone) + L"/" + Figure(s.extractTotal) +
                     L" files " + Figure(s.filesDone) + L"/" + Figure(s.filesTotal));
    if (!running) break;
    Sleep(2000);
  }
  const GtaSnapshot result = installer.GetSnapshot();
  WriteConsoleLine(std::wstring(L"result ") + GtaStatusName(result.status) + L" " + result.folder +
                   (result.message.empty() ? std::wstring() : L" error: " + result.message));
  return result.status == kGtaDone ? 0 : 1;
}

int RunLauncherUpdateJob(const LaunchOptions& options, const std::wstring& installDir) {
  const std::wstring target = JoinPath(installDir, kLauncherExeName);
  if (LauncherUpdater::RecoverInterruptedSwap(target)) LogLine(L"[launcher-update] an interrupted swap was undone");
  LauncherUpdater updater;
  updater.Init(options.contentBaseUrl, target, options.testOldVersion ? "0.0.0" : kLauncherVersion);
  updater.Start();
  while (updater.IsRunning()) Sleep(200);
  updater.Join();
  const UpdateSnapshot result = updater.GetSnapshot();
  if (result.state == kUpdateReady) {
    std::wstring error;
    if (!LauncherUpdater::ApplyUpdate(result.stagedPath, target, error)) {
      WriteConsoleLine(L"apply failed: " + error);
      return 1;
    }
    // No process runs the previous launcher unless it is this one, so its ".old" can go now
    // rather than at the next start of the window.
    if (!EqualsIgnoreCase(NormalizePath(GetModulePath()), NormalizePath(target))) {
      LauncherUpdater::CleanupAfterUpdate(target);
    }
  }
  const wchar_t* verdict = result.state == kUpdateReady ? L"updated" : result.state == kUpdateNoUpdate ? L"up-to-date" : L"failed";
  WriteConsoleLine(std::wstring(L"result ") + verdict + L" remote " + WideFromUtf8(result.remoteVersion) +
                   (result.message.empty() ? std::wstring() : L" error: " + result.message));
  return result.state == kUpdateFailed ? 1 : 0;
}

int RunPlayJob(const LaunchOptions& options, const std::wstring& installDir) {
  const int copy = FindFreeGameInstance();
  if (copy == 0) {
    WriteConsoleLine(L"play failed: too many game copies are running");
    return 1;
  }
  const std::wstring link = options.connectAddress.empty() ? std::wstring() : L"mtasa://" + options.connectAddress;
  std::wstring error;
  if (!LaunchGame(installDir, copy, link, error)) {
    WriteConsoleLine(L"play failed: " + error);
    return 1;
  }
  WriteConsoleLine(L"started " + JoinPath(installDir, kGameExeName) + L" as game copy " +
                   DecimalText(static_cast<long long>(copy)));
  // The copy shows up once it has taken its mutex; one that never does counts as closed.
  for (int test = 0; test < 60; ++test) {
    if (IsGameInstanceRunning(copy)) break;
    Sleep(1000);
  }
  while (IsGameInstanceRunning(copy)) Sleep(2000);
  WriteConsoleLine(L"game closed");
  return 0;
}

// "sync", "check", "verify" and the server jobs: one run, a progress line a second.
int RunSyncJob(const LaunchOptions& options, const std::wstring& installDir, const std::wstring& job, int server,
               bool checkOnly) {
  GameSync sync;
  sync.SetContentBaseUrl(options.contentBaseUrl);
  if (server < 0) {
    sync.SetInstallFolder(installDir);
  } else {
    const std::wstring cache =
        !options.cacheDir.empty() ? options.cacheDir : JoinPath(JoinPath(installDir, L"mods"), L"deathmatch");
    const std::wstring list = !options.serverListUrl.empty() ? options.serverListUrl : ServerCatalogue::kClientFilesUrls[server];
    sync.ConfigureServer(installDir, cache, list, ServerCatalogue::kKeys[server]);
    WriteConsoleLine(std::wstring(L"server files of ") + ServerCatalogue::kTitles[server] + L" -> " + cache);
  }
  const bool download = !(job == L"check" || checkOnly);
  sync.Start(download ? SyncMode::Update : SyncMode::Check, job == L"verify");
  for (;;) {
    bool busy = false;
    const SyncSnapshot s = ReadWorker(sync, busy);
    WriteConsoleLine(std::wstring(SyncStatusName(s.status)) + L" verify " + Figure(s.bytesVerified) + L"/" +
                     Figure(s.bytesToVerify) + L" download " + Figure(s.bytesDownloaded) + L"/" +
                     Figure(s.bytesToDownload) + L" files " + Figure(s.filesDownloaded) + L"/" + Figure(s.filesToDownload));
    if (!busy) break;
    // A line a second, and the last one as soon as the run ends rather than up to a second
    // later: a no-op check takes a fraction of that.
    for (int waited = 0; waited < 1000 && sync.IsRunning(); waited += 10) Sleep(10);
  }
  sync.Join();
  const SyncSnapshot result = sync.GetSnapshot();
  WriteConsoleLine(std::wstring(L"result ") + SyncStatusName(result.status) + L" build " +
                   WideFromUtf8(result.remoteBuild) + L" unavailable " + Figure(result.filesUnavailable) +
                   (result.message.empty() ? std::wstring() : L" error: " + result.message));
  return result.status == kSyncUpdateAvailable || result.status == kSyncUpToDate ? 0 : 1;
}

// Only the core file removal: no confirmation, no running-game or running-launcher test.
int RunUninstallJob(const std::wstring& installDir) {
  const std::wstring gtaFolder = ReadRegistryString(kCommonRegistryKey, kGtaFolderValue);
  std::atomic<unsigned> removed{0};
  std::wstring error;
  const bool ok = UninstallCore(installDir, gtaFolder, removed, error);
  WriteConsoleLine(L"removed " + Figure(removed.load()) + L" files" + (ok ? std::wstring() : L" error: " + error));
  return ok ? 0 : 1;
}

// The folder a job's log goes to: the given --dir; for "servers", which needs none, the
// installation found on this machine, else none at all. A log folder makes any folder pass the
// uninstall's test for an installation, so no job creates one anywhere it was not sent.
std::wstring LogInstallFolder(const std::wstring& installDir) {
  if (!installDir.empty()) return installDir;
  const std::wstring found = FindExistingInstall();
  return !found.empty() && HoldsInstallation(found) ? found : std::wstring();
}

}  // namespace

int RunPlayerCountJob(const std::array<std::wstring, 4>& urls) {
  PlayerCountService service;
  service.SetUrls(urls);
  service.Start();
  auto answered = [&urls](const std::array<PlayerCountEntry, 4>& entries) {
    for (size_t i = 0; i < urls.size(); ++i) {
      if (!urls[i].empty() && entries[i].state == kPlayerCountUnknown) return false;
    }
    return true;
  };
  std::array<PlayerCountEntry, 4> entries{};
  for (int attempt = 0; attempt < 30; ++attempt) {
    Sleep(1000);
    entries = service.Snapshot();
    if (answered(entries)) break;
  }
  for (size_t i = 0; i < urls.size(); ++i) {
    std::wstring verdict = L"unknown";
    if (entries[i].state == kPlayerCountOnline) verdict = L"online " + DecimalText(static_cast<unsigned long long>(entries[i].count));
    if (entries[i].state == kPlayerCountOffline) verdict = L"offline";
    WriteConsoleLine(urls[i] + L" -> " + verdict);
  }
  return answered(entries) ? 0 : 1;
}

int RunHeadlessJob(const LaunchOptions& options, const std::wstring& job) {
  // Standard error stays silent in a release: callers merge the streams or fail on any
  // error output. A development-key build must never reach them, so it may warn.
  if (IsDevelopmentSigningKey()) {
    WriteConsoleNote(std::wstring(L"Talvoreen Launcher ") + kLauncherVersionW + L" | " + BuildKeyLine());
  }
  if (job == L"where") return RunWhere();
  if (options.installDir.empty() && job != L"servers") {
    WriteConsoleLine(L"--headless needs --dir <install folder>");
    return 2;
  }
  // "D:" would resolve against the current folder of D:, and "D:\\" holds D:\\Talvoreen's data
  // folder, so removing it would take the installation below with it.
  if (!options.installDir.empty() && IsRootOrDriveRelativeFolder(options.installDir)) {
    WriteConsoleLine(L"--dir must name an install folder, not a drive root or a drive-relative path: " +
                     options.installDir);
    return 2;
  }
  const std::wstring installDir = options.installDir.empty() ? std::wstring() : NormalizePath(options.installDir);
  // Decided before the log creates "TALVOREEN" in the folder, which would make any folder
  // look like an installation to the removal.
  if (job == L"uninstall" && !HoldsInstallation(installDir)) {
    WriteConsoleLine(L"removed 0 files error: " + std::wstring(kNoInstallationText));
    return 1;
  }
  const std::wstring logInstall = LogInstallFolder(installDir);
  if (!logInstall.empty()) {
    SetLogDirectory(JoinPath(logInstall, kLogFolder));
    LogLine(std::wstring(L"Talvoreen Launcher ") + kLauncherVersionW + L" | headless " + job + L" | install " +
            installDir);
    LogLine(BuildKeyLine());
  }

  int server = -1;
  for (int i = 0; i < ServerCatalogue::kCount; ++i) {
    const std::wstring key = ServerCatalogue::kKeys[i];
    if (job == L"server-" + key || job == L"server-check-" + key) server = i;
  }
  if (job == L"sync" || job == L"check" || job == L"verify" || server >= 0) {
    return RunSyncJob(options, installDir, job, server, job.rfind(L"server-check-", 0) == 0);
  }
  if (job == L"gta" || job == L"gta-repair") return RunGtaJob(options, installDir, job == L"gta-repair");
  if (job == L"uninstall") return RunUninstallJob(installDir);
  if (job == L"launcher-update") return RunLauncherUpdateJob(options, installDir);
  if (job == L"servers") {
    std::array<std::wstring, 4> urls;
    for (int i = 0; i < ServerCatalogue::kCount; ++i) urls[i] = ServerCatalogue::kPlayerCountUrls[i];
    return RunPlayerCountJob(urls);
  }
  if (job == L"play") return RunPlayJob(options, installDir);
  WriteConsoleLine(L"unknown --headless job: " + job);
  return 2;
}
