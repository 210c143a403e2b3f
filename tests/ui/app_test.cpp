// The window's controller with its real workers: GameSync runs against a CDN tree written by
// talvoreen-publish on 127.0.0.1, game copies are the stand-in client, the registry is the
// Wine prefix's. The App clock is driven by the test, so the 500 ms tick is called by hand.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "base/files.h"
#include "base/format.h"
#include "base/handles.h"
#include "base/log.h"
#include "base/registry.h"
#include "base/text.h"
#include "base/version.h"
#include "gta/gta_installer.h"
#include "system/game_launch.h"
#include "tests/system/game_copies_harness.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"
#include "tools/publish/publish.h"
#include "ui/app.h"
#include "ui/link_handover.h"

using testing_support::HttpTestServer;
using testing_support::ReadBytes;
using testing_support::RegistryValueGuard;
using testing_support::TempDir;
using testing_support::TestRequest;
using testing_support::TestResponse;
using testing_support::WriteBytes;

namespace {

constexpr const char* kGameManifestPath = "/game/stable/manifest.json";

// Holds back the answers to one kind of request until opened.
class Gate {
 public:
  Gate() : event_(CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}
  void Close() { ResetEvent(event_.Get()); }
  void Open() { SetEvent(event_.Get()); }
  void Pass() const { WaitForSingleObject(event_.Get(), kStandInWaitLimit); }

 private:
  UniqueHandle event_;
};

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogDirectory(dir.Join(L"logs"));
    DeleteRegistryValue(kLauncherRegistryKey, kSelectedServerValue);
  }

  void TearDown() override {
    launcherGate.Open();
    listGate.Open();
    manifestGate.Open();
  }

  // Publishes a build whose Talvoreen.exe is the stand-in client, and installs it.
  void PublishAndInstall() {
    const std::wstring source = dir.Join(L"source");
    CreateDirectoryTree(JoinPath(source, L"data"));
    ASSERT_TRUE(
        CopyFileW(testing_support::TestFile(L"game_stand_in.exe").c_str(), JoinPath(source, kGameExeName).c_str(), FALSE));
    ASSERT_TRUE(WriteBytes(JoinPath(source, L"data\\gta.dat"), "gta.dat for tests\n"));
    const std::vector<std::string> args = {"game",    Utf8FromWide(source),
                                           "--out",   Utf8FromWide(cdn),
                                           "--key",   Utf8FromWide(testing_support::TestFile(L"keys\\development.key")),
                                           "--build", "build-1"};
    std::ostringstream out, err;
    ASSERT_EQ(publish::RunPublisher(args, out, err), 0) << err.str();
    GameSync sync;
    sync.SetContentBaseUrl(server.Url(""));
    sync.SetInstallFolder(install);
    sync.Start(SyncMode::Update, false);
    sync.Join();
    ASSERT_EQ(sync.GetSnapshot().status, kSyncUpToDate) << Utf8FromWide(sync.GetSnapshot().message);
    // A valid GTA folder, so that no download of it starts by itself.
    CreateDirectoryTree(JoinPath(install, L"GTA-SA\\models"));
    ASSERT_TRUE(WriteBytes(JoinPath(install, L"GTA-SA\\gta_sa.exe"), "exe"));
    ASSERT_TRUE(WriteBytes(JoinPath(install, L"GTA-SA\\models\\gta3.img"), "img"));
  }

  LaunchOptions Options(bool withDir = true) {
    LaunchOptions o;
    o.contentBaseUrl = server.Url("");
    o.gtaArchiveUrl = server.Url("/gta/archive.rar");
    o.serverListUrl = server.Url("/.talvoreen/client-files.json");
    o.cacheDir = dir.Join(L"cache");
    if (withDir) o.installDir = install;
    return o;
  }

  std::unique_ptr<App> MakeApp(LaunchOptions options) {
    auto app = std::make_unique<App>(std::move(options));
    app->SetClock([this] { return now; });
    app->SetPlayerCountUrls({});
    app->SetMessageBox([this](const std::wstring& text, unsigned) {
      questions.push_back(text);
      return answer ? answer() : IDNO;
    });
    return app;
  }

  // An installed app past its first check, every worker at rest.
  std::unique_ptr<App> ReadyApp(LaunchOptions options) {
    auto app = MakeApp(std::move(options));
    app->Prepare();
    app->JoinWorkersForTests();
    Tick(*app, 1);
    app->JoinWorkersForTests();
    EXPECT_FALSE(app->State().initialCheckPending);
    return app;
  }

  void Tick(App& app, double t) {
    now = t;
    app.OnTick();
  }

  void Act(App& app, int32_t action) {
    app.QueueAction(action);
    app.ProcessActions();
  }

  // Selects a server and waits for its check to end.
  void SelectAndCheck(App& app, int server) {
    Act(app, kActionSelectServer0 + server);
    app.JoinWorkersForTests();
    app.RefreshSnapshot();
    ASSERT_EQ(app.Snapshot().servers[server].status, kSyncUpToDate)
        << Utf8FromWide(app.Snapshot().servers[server].message);
  }

  size_t Requests(const std::string& prefix) {
    size_t n = 0;
    for (const TestRequest& r : server.Requests()) n += r.target.rfind(prefix, 0) == 0;
    return n;
  }

  // Ends the stand-in of a copy started in the install folder.
  void CloseStandIn(const StandInEvents& events, int copy) {
    Record record;
    std::istringstream lines(ReadBytes(JoinPath(install, StandInRecordName(copy))));
    std::string line;
    while (std::getline(lines, line)) {
      const size_t equals = line.find('=');
      if (equals != std::string::npos) record[line.substr(0, equals)] = line.substr(equals + 1);
    }
    EXPECT_TRUE(events.Close(record)) << copy;
  }

  TempDir dir;
  std::wstring install = dir.Join(L"install");
  std::wstring cdn = dir.Join(L"cdn");
  double now = 0;
  std::vector<std::wstring> questions;
  std::function<int()> answer;
  Gate launcherGate, listGate, manifestGate;
  RegistryValueGuard selectedGuard{kLauncherRegistryKey, kSelectedServerValue};
  RegistryValueGuard gtaGuard{kCommonRegistryKey, kGtaFolderValue};
  HttpTestServer server{[this](const TestRequest& request) {
    if (request.target.rfind("/launcher/", 0) == 0) {
      launcherGate.Pass();
      return testing_support::StatusResponse(404, "Not Found");
    }
    if (request.target.rfind(kGameManifestPath, 0) == 0) manifestGate.Pass();
    if (request.target == "/.talvoreen/client-files.json") {
      listGate.Pass();
      TestResponse r;
      r.body = R"({"schema":1,"resources":[]})";
      return r;
    }
    return testing_support::FileResponse(cdn, request);
  }};
};

constexpr const char* kGameManifest = kGameManifestPath;
constexpr const char* kLauncherManifest = "/launcher/stable/manifest.json";

TEST_F(AppTest, ChecksWaitForTheUpdaterThenRunEveryFiveMinutesAndAfterTheLastGameCloses) {
  PublishAndInstall();
  const size_t before = Requests(kGameManifest);
  launcherGate.Close();
  auto app = MakeApp(Options());
  app->Prepare();
  EXPECT_TRUE(app->State().installed);
  EXPECT_TRUE(app->State().initialCheckPending);

  // The update check is still running: no game-file check until 15 s have passed.
  Tick(*app, 1);
  Tick(*app, 15);
  EXPECT_EQ(Requests(kGameManifest), before);
  Tick(*app, 15.5);
  EXPECT_FALSE(app->State().initialCheckPending);
  launcherGate.Open();
  app->JoinWorkersForTests();
  EXPECT_EQ(Requests(kGameManifest), before + 1);
  EXPECT_EQ(Requests(kLauncherManifest), 1u);

  // The update check comes 300 s after the first tick, the game-file check 300 s after the last.
  Tick(*app, 100);
  Tick(*app, 301);
  app->JoinWorkersForTests();
  EXPECT_EQ(Requests(kLauncherManifest), 1u);
  Tick(*app, 301.5);
  app->JoinWorkersForTests();
  EXPECT_EQ(Requests(kLauncherManifest), 2u);
  EXPECT_EQ(Requests(kGameManifest), before + 1);
  Tick(*app, 316);
  app->JoinWorkersForTests();
  EXPECT_EQ(Requests(kGameManifest), before + 2);

  {
    HeldCopies running({1});
    Tick(*app, 700);
    Tick(*app, 900);
    app->JoinWorkersForTests();
    EXPECT_EQ(app->State().runningCount, 1);
    EXPECT_EQ(Requests(kGameManifest), before + 2);
    EXPECT_EQ(Requests(kLauncherManifest), 2u);
  }
  // The last game closed: the next tick checks at once; the due update check waits for it.
  Tick(*app, 900.5);
  app->JoinWorkersForTests();
  EXPECT_EQ(Requests(kGameManifest), before + 3);
  EXPECT_EQ(Requests(kLauncherManifest), 2u);
  Tick(*app, 901);
  app->JoinWorkersForTests();
  EXPECT_EQ(Requests(kLauncherManifest), 3u);
}

TEST_F(AppTest, FirstCheckStartsAsSoonAsTheUpdaterIsDone) {
  PublishAndInstall();
  const size_t before = Requests(kGameManifest);
  launcherGate.Close();
  auto app = MakeApp(Options());
  app->Prepare();
  Tick(*app, 1);
  Tick(*app, 5);
  EXPECT_EQ(Requests(kGameManifest), before);
  launcherGate.Open();
  app->JoinWorkersForTests();
  Tick(*app, 5.5);
  app->JoinWorkersForTests();
  EXPECT_EQ(Requests(kGameManifest), before + 1);
  app->RefreshSnapshot();
  EXPECT_EQ(app->Snapshot().game.status, kSyncUpToDate);
  EXPECT_FALSE(app->Snapshot().updaterBusy);
}

TEST_F(AppTest, PlayWaitsForTheServerCheckAndTheLaunchWindowBlocksASecondPress) {
  PublishAndInstall();
  auto app = ReadyApp(Options());
  listGate.Close();
  Act(*app, kActionSelectServer0 + 1);
  EXPECT_EQ(app->State().selected, 1);
  EXPECT_EQ(ReadRegistryString(kLauncherRegistryKey, kSelectedServerValue), L"talvoreen");
  Act(*app, kActionPlay);
  EXPECT_TRUE(app->State().playRequested);
  Tick(*app, 2);
  EXPECT_EQ(app->State().runningCount, 0);
  EXPECT_TRUE(app->State().playRequested);
  EXPECT_EQ(app->State().launchDeadline, 0);

  StandInEvents first(1), second(2);
  listGate.Open();
  app->JoinWorkersForTests();
  Tick(*app, 3);
  EXPECT_FALSE(app->State().playRequested);
  EXPECT_TRUE(app->State().launchError.empty()) << Utf8FromWide(app->State().launchError);
  EXPECT_EQ(app->State().launchDeadline, 23);
  ASSERT_TRUE(first.WaitReady());

  // Inside the launch window another copy is not started.
  now = 5;
  Act(*app, kActionOpenAnother);
  EXPECT_EQ(app->State().launchDeadline, 23);
  EXPECT_TRUE(app->State().launchError.empty());

  // The tick that sees the copy running ends the window; then another copy may start.
  Tick(*app, 6);
  EXPECT_EQ(app->State().launchDeadline, 0);
  EXPECT_EQ(app->State().runningCount, 1);
  Act(*app, kActionOpenAnother);
  EXPECT_EQ(app->State().launchDeadline, 26);
  ASSERT_TRUE(second.WaitReady());
  Tick(*app, 7);
  EXPECT_EQ(app->State().runningCount, 2);

  // Each copy was given the server's game address and its copy number.
  const std::string record1 = ReadBytes(JoinPath(install, StandInRecordName(1)));
  const std::string record2 = ReadBytes(JoinPath(install, StandInRecordName(2)));
  const std::string link = "arg1=mtasa://" + Utf8FromWide(ServerCatalogue::kGameAddresses[1]) + "\n";
  EXPECT_NE(record1.find(link), std::string::npos) << record1;
  EXPECT_NE(record1.find("instance=(none)"), std::string::npos) << record1;
  EXPECT_NE(record2.find("instance=2"), std::string::npos) << record2;
  EXPECT_NE(record2.find("permission=accepted"), std::string::npos) << record2;
  CloseStandIn(first, 1);
  CloseStandIn(second, 2);
}

TEST_F(AppTest, LaunchFailuresSetTheirTexts) {
  PublishAndInstall();
  auto app = ReadyApp(Options());
  SelectAndCheck(*app, 0);
  {
    std::vector<int> all;
    for (int copy = 1; copy <= kGameCopyLimit; ++copy) all.push_back(copy);
    HeldCopies running(all);
    Tick(*app, 2);
    Act(*app, kActionOpenAnother);
    EXPECT_EQ(app->State().launchError, L"Aynı anda en fazla 16 oyun açılabilir.");
  }

  // A missing game executable turns the press into a verify-and-download run.
  ASSERT_TRUE(DeleteFileW(JoinPath(install, kGameExeName).c_str()));
  Tick(*app, 3);
  Act(*app, kActionPlay);
  app->JoinWorkersForTests();
  Tick(*app, 4);
  EXPECT_EQ(app->State().launchError, L"Oyun dosyaları eksik; dosyalar yeniden doğrulanıyor");
  app->JoinWorkersForTests();
  app->RefreshSnapshot();
  EXPECT_EQ(app->Snapshot().game.status, kSyncUpToDate);
  EXPECT_TRUE(FileExists(JoinPath(install, kGameExeName)));
}

TEST_F(AppTest, FolderChoiceEndsInATalvoreenFolder) {
  auto app = MakeApp(Options(false));
  EXPECT_FALSE(app->State().installed);
  EXPECT_EQ(app->State().setupCandidate, L"C:\\Talvoreen");
  std::wstring picked;
  app->SetFolderPicker([&picked](const std::wstring&, std::wstring& chosen) {
    chosen = picked;
    return true;
  });
  picked = L"D:\\Games";
  Act(*app, kActionChooseFolder);
  EXPECT_EQ(app->State().setupCandidate, L"D:\\Games\\Talvoreen");
  picked = L"D:\\Games\\talvoreen";
  Act(*app, kActionChooseFolder);
  EXPECT_EQ(app->State().setupCandidate, L"D:\\Games\\talvoreen");

  // A folder that cannot be made: the reason is shown under the folder box.
  ASSERT_TRUE(WriteBytes(dir.Join(L"occupied"), "a file, not a folder"));
  picked = dir.Join(L"occupied");
  Act(*app, kActionChooseFolder);
  Act(*app, kActionInstall);
  EXPECT_FALSE(app->State().installed);
  EXPECT_FALSE(app->State().setupError.empty());
}

TEST_F(AppTest, JoinLinksSelectAndJoinOnlyWhenTheLauncherIsReady) {
  {
    // On the setup screen a link only remembers its server.
    auto setup = MakeApp(Options(false));
    setup->OpenJoinLink(L"talvoreen://meridian");
    EXPECT_EQ(ReadRegistryString(kLauncherRegistryKey, kSelectedServerValue), L"meridian");
    EXPECT_EQ(setup->State().selected, -1);
    setup->OpenJoinLink(L"talvoreen://nowhere");
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], L"Bu bağlantı launcher'daki sunuculardan birine ait değil.");
  }
  PublishAndInstall();
  {
    // The remembered server is selected once a folder is adopted, and checked after the first check.
    auto app = MakeApp(Options());
    app->Prepare();
    EXPECT_EQ(app->State().selected, 2);
    EXPECT_TRUE(app->State().selectionDeferred);
  }
  for (const auto& [stored, dev, expected] : {std::tuple{L"Corvel", false, -1}, std::tuple{L"dev", false, -1},
                                              std::tuple{L"dev", true, 3}, std::tuple{L"corvel", false, 0}}) {
    ASSERT_TRUE(WriteRegistryString(kLauncherRegistryKey, kSelectedServerValue, stored));
    LaunchOptions options = Options();
    options.devServer = dev;
    auto app = MakeApp(options);
    app->Prepare();
    EXPECT_EQ(app->State().selected, expected) << Utf8FromWide(stored) << dev;
  }

  auto app = ReadyApp(Options());
  {
    HeldCopies running({1});
    app->OpenJoinLink(L"talvoreen://talvoreen");
    EXPECT_EQ(app->State().selected, 1);
    EXPECT_FALSE(app->JoinPending());
  }
  app->JoinWorkersForTests();

  // With no game open the link plays its server once its files are checked.
  StandInEvents events(1);
  app->OpenJoinLink(L"talvoreen://corvel");
  EXPECT_EQ(app->State().selected, 0);
  EXPECT_TRUE(app->JoinPending());
  app->JoinWorkersForTests();
  Tick(*app, 2);
  EXPECT_FALSE(app->JoinPending());
  app->ProcessActions();  // the queued Play
  EXPECT_TRUE(app->State().playRequested);
  app->JoinWorkersForTests();
  Tick(*app, 3);
  ASSERT_TRUE(events.WaitReady());
  CloseStandIn(events, 1);
  EXPECT_NE(ReadBytes(JoinPath(install, L"TALVOREEN\\logs\\launcher.log")).find("link: joining corvel"),
            std::string::npos);
}

TEST_F(AppTest, ALinkDuringTheFirstCheckIsCheckedAndJoinedAfterIt) {
  PublishAndInstall();
  manifestGate.Close();
  auto app = MakeApp(Options());
  app->Prepare();
  app->JoinWorkersForTests();
  Tick(*app, 1);  // the first check starts and waits for its manifest
  EXPECT_FALSE(app->State().initialCheckPending);
  const size_t listsBefore = Requests("/.talvoreen/client-files.json");
  app->OpenJoinLink(L"talvoreen://meridian");
  EXPECT_EQ(app->State().selected, 2);
  EXPECT_TRUE(app->State().selectionDeferred);
  EXPECT_TRUE(app->JoinPending());
  Tick(*app, 2);
  EXPECT_TRUE(app->JoinPending()) << "no join while the first check runs";

  StandInEvents events(1);
  manifestGate.Open();
  app->JoinWorkersForTests();
  Tick(*app, 3);  // the deferred server check
  EXPECT_FALSE(app->State().selectionDeferred);
  app->JoinWorkersForTests();
  EXPECT_EQ(Requests("/.talvoreen/client-files.json"), listsBefore + 1);
  Tick(*app, 4);  // the join: Play is queued
  EXPECT_FALSE(app->JoinPending());
  app->ProcessActions();
  app->JoinWorkersForTests();
  Tick(*app, 5);
  ASSERT_TRUE(events.WaitReady());
  CloseStandIn(events, 1);
  EXPECT_NE(ReadBytes(JoinPath(install, L"TALVOREEN\\logs\\launcher.log")).find("link: joining meridian"),
            std::string::npos);
}

TEST_F(AppTest, UninstallIsRefusedWhileAServerDownloadRuns) {
  PublishAndInstall();
  auto app = ReadyApp(Options());
  listGate.Close();
  Act(*app, kActionSelectServer0);
  Act(*app, kActionOpenUninstall);
  Act(*app, kActionConfirmUninstall);
  EXPECT_EQ(app->State().uninstallError, L"İndirme sürerken kaldırılamaz; bitmesini bekle.");
  EXPECT_FALSE(app->State().uninstallRunning);
  listGate.Open();
  app->JoinWorkersForTests();
  EXPECT_TRUE(FileExists(JoinPath(install, kGameExeName)));
}

TEST_F(AppTest, UninstallIsRefusedInADirFolderThatHeldNoInstallation) {
  // The window's own log creates "TALVOREEN" in the folder; that must not make the player's
  // own mods and skins removable.
  for (const wchar_t* file : {L"mods\\mine.lua", L"skins\\mine.txd"}) {
    ASSERT_TRUE(CreateDirectoryTree(ParentPath(JoinPath(install, file))));
    ASSERT_TRUE(WriteBytes(JoinPath(install, file), "mine"));
  }
  auto app = ReadyApp(Options());
  ASSERT_TRUE(DirectoryExists(JoinPath(install, L"TALVOREEN")));
  Act(*app, kActionOpenUninstall);
  Act(*app, kActionConfirmUninstall);
  EXPECT_EQ(app->State().uninstallError, L"Bu klasörde oyun dosyası yok");
  EXPECT_FALSE(app->State().uninstallRunning);
  app->JoinWorkersForTests();
  EXPECT_EQ(ReadBytes(JoinPath(install, L"mods\\mine.lua")), "mine");
  EXPECT_EQ(ReadBytes(JoinPath(install, L"skins\\mine.txd")), "mine");
}

TEST_F(AppTest, UninstallFromTheWindowKeepsGtaAndIsRefusedWhileAGameRuns) {
  PublishAndInstall();
  auto app = ReadyApp(Options());
  const size_t checks = Requests(kGameManifest);
  {
    HeldCopies running({1});
    Tick(*app, 2);
    Act(*app, kActionOpenUninstall);
    Act(*app, kActionConfirmUninstall);
    EXPECT_EQ(app->State().uninstallError, L"Oyun açıkken dosyaları kaldırılamaz; önce oyunu kapat.");
    EXPECT_FALSE(app->State().uninstallRunning);
  }
  Tick(*app, 3);  // the closed game triggers a check first
  app->JoinWorkersForTests();
  Tick(*app, 4);
  Act(*app, kActionOpenUninstall);
  EXPECT_TRUE(app->State().uninstallError.empty());
  EXPECT_EQ(app->State().overlay, Overlay::Uninstall);
  Act(*app, kActionConfirmUninstall);
  EXPECT_TRUE(app->State().uninstallRunning);
  Act(*app, kActionCloseOverlay);
  EXPECT_EQ(app->State().overlay, Overlay::Uninstall) << "the panel stays while files are removed";
  app->JoinWorkersForTests();
  Tick(*app, 5);
  EXPECT_EQ(app->State().overlay, Overlay::None);
  EXPECT_FALSE(FileExists(JoinPath(install, kGameExeName)));
  EXPECT_TRUE(FileExists(JoinPath(install, L"GTA-SA\\gta_sa.exe")));
  EXPECT_GT(app->State().uninstallDeleted, 0u);
  // The removal took the log with it; the window's next lines are found in a new one.
  const std::string log = ReadBytes(JoinPath(install, L"TALVOREEN\\logs\\launcher.log"));
  EXPECT_EQ(log.find("removing the game files of"), std::string::npos) << log;
  EXPECT_NE(log.find("game files removed"), std::string::npos) << log;
  app->JoinWorkersForTests();
  EXPECT_EQ(Requests(kGameManifest), checks + 2);
  app->RefreshSnapshot();
  EXPECT_EQ(app->Snapshot().game.status, kSyncUpdateAvailable);
}

// An old copy that an earlier build could not delete, beside a whole one: playable at once,
// the leftover goes in the background and nothing is downloaded.
TEST_F(AppTest, AnOldGtaCopyLeftByAnEarlierBuildGoesWithoutADownload) {
  PublishAndInstall();
  const std::wstring old = JoinPath(install, L".talvoreen\\gta\\GTA-SA.old");
  ASSERT_TRUE(CreateDirectoryTree(JoinPath(old, L"models")));
  ASSERT_TRUE(WriteBytes(JoinPath(old, L"gta_sa.exe"), "leftover"));
  auto app = ReadyApp(Options());
  EXPECT_TRUE(app->State().gtaValid);
  EXPECT_FALSE(DirectoryExists(old));
  EXPECT_EQ(Requests("/gta/"), 0u);
  EXPECT_EQ(ReadBytes(JoinPath(install, L"GTA-SA\\gta_sa.exe")), "exe");
}

TEST_F(AppTest, GtaReinstallAsksAndTestsItsConditionsAgain) {
  PublishAndInstall();
  auto app = ReadyApp(Options());
  Act(*app, kActionOpenSettings);
  answer = [] { return IDNO; };
  Act(*app, kActionReinstallGta);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0], L"GTA: San Andreas dosyaları yeniden indirilip temiz olarak kurulacak (yaklaşık " +
                              FormatSize(610325061) +
                              L"). Klasöre eklenen modlar silinir ve bitene kadar oyun açılamaz.\n\nDevam edilsin mi?");
  EXPECT_FALSE(app->State().gtaReinstall);

  // A game started while the question was open.
  std::unique_ptr<HeldCopies> started;
  answer = [&started] {
    started = std::make_unique<HeldCopies>(std::vector<int>{1});
    return IDYES;
  };
  Act(*app, kActionReinstallGta);
  EXPECT_FALSE(app->State().gtaReinstall);
  started.reset();
  EXPECT_EQ(Requests("/gta/"), 0u);

  answer = [] { return IDYES; };
  Tick(*app, 2);
  app->JoinWorkersForTests();
  Act(*app, kActionReinstallGta);
  EXPECT_TRUE(app->State().gtaReinstall);
  EXPECT_EQ(app->State().overlay, Overlay::None);
  app->JoinWorkersForTests();
  EXPECT_GE(Requests("/gta/"), 1u);
  EXPECT_NE(ReadBytes(JoinPath(install, L"TALVOREEN\\logs\\launcher.log")).find("[gta] reinstall requested in Ayarlar"),
            std::string::npos);
}

// The window's run as the launcher makes it (the single-instance lock around App::Run and
// the App's end), with every host on one that never answers. args: install folder, host.
TV_CHILD_ROLE(window_against_a_silent_host) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) return 1;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
  LaunchOptions options;
  options.installDir = args.at(0);
  options.contentBaseUrl = args.at(1) + L"/content";
  options.gtaArchiveUrl = args.at(1) + L"/gta.rar";
  options.serverListUrl = args.at(1) + L"/client-files.json";
  options.instanceLock = reinterpret_cast<void**>(&mutex);
  {
    App app(options);
    app.SetPlayerCountUrls({args.at(1) + L"/players/0", args.at(1) + L"/players/1", args.at(1) + L"/players/2",
                            args.at(1) + L"/players/3"});
    app.SetMessageBox([](const std::wstring&, unsigned) { return IDNO; });
    app.Run(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
  }
  // The App lets the lock go itself once its workers are done, before graphics and COM end.
  const bool releasedByApp = mutex == nullptr;
  if (mutex) CloseHandle(mutex);
  CoUninitialize();
  return releasedByApp ? 0 : 5;
}

struct WindowSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK MatchLauncherWindow(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<WindowSearch*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  if (owner != search->processId || std::wstring(name) != kWindowClassName) return TRUE;
  search->found = hwnd;
  return FALSE;
}

HWND WindowOfProcess(DWORD processId) {
  WindowSearch search{processId, nullptr};
  EnumWindows(MatchLauncherWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

TEST(WindowClose, EndsTheProcessAndFreesTheLockWhileRequestsHang) {
  UniqueHandle playersAsked(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HttpTestServer silent([&](const TestRequest& request) {
    if (request.method == "POST") SetEvent(playersAsked.Get());
    TestResponse r;
    r.stallBeforeHeaders = true;
    return r;
  });
  TempDir dir;
  UniqueHandle child(testing_support::StartChild("window_against_a_silent_host", {dir.Join(L"Talvoreen"), silent.Url("")}));
  ASSERT_TRUE(child.Valid());
  struct EndChild {
    HANDLE process;
    ~EndChild() {
      if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) TerminateProcess(process, 1);
    }
  } endChild{child.Get()};
  // Generous bounds: only a hang exceeds them.
  ASSERT_EQ(WaitForSingleObject(playersAsked.Get(), 60000), WAIT_OBJECT_0) << "no player-count request arrived";
  // A console process has no input-idle state to wait for: look for its window until it shows.
  HWND window = nullptr;
  for (int i = 0; i < 600 && !window && WaitForSingleObject(child.Get(), 100) == WAIT_TIMEOUT; ++i) {
    window = WindowOfProcess(GetProcessId(child.Get()));
    if (window && !IsWindowVisible(window)) window = nullptr;
  }
  ASSERT_NE(window, nullptr) << "the window did not show";
  DWORD_PTR unused = 0;
  ASSERT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 60000, &unused), 0) << "the window is not answering";
  PostMessageW(window, WM_CLOSE, 0, 0);
  const bool ended = WaitForSingleObject(child.Get(), 20000) == WAIT_OBJECT_0;
  EXPECT_TRUE(ended) << "the launcher was still running after its window closed";
  if (!ended) TerminateProcess(child.Get(), 1);
  WaitForSingleObject(child.Get(), 10000);
  DWORD code = 999;
  GetExitCodeProcess(child.Get(), &code);
  EXPECT_EQ(code, 0u) << "5: the lock outlived the App";
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "the single-instance lock is still held";
  if (mutex) CloseHandle(mutex);
}

// --shots through the real executable: every shot a 1100 x 660 PNG.
TEST(Screenshots, EveryShotIsWrittenIntoAReusedFolder) {
  TempDir dir;
  const std::wstring out = dir.Join(L"shots");
  auto pngSize = [](const std::wstring& path, uint32_t& width, uint32_t& height) {
    const std::string bytes = ReadBytes(path);
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return false;
    auto be32 = [&bytes](size_t at) {
      return (uint32_t(uint8_t(bytes[at])) << 24) | (uint32_t(uint8_t(bytes[at + 1])) << 16) |
             (uint32_t(uint8_t(bytes[at + 2])) << 8) | uint32_t(uint8_t(bytes[at + 3]));
    };
    width = be32(16);
    height = be32(20);
    return true;
  };
  auto pngs = [&out] {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(JoinPath(out, L"*.png").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
  };

  auto plain = testing_support::RunProcess(testing_support::LauncherExePath(), {L"--shots", out});
  ASSERT_TRUE(plain.started);
  EXPECT_EQ(plain.exitCode, 0u);
  std::vector<std::wstring> expected = {L"01-setup.png",
                                        L"02-checking.png",
                                        L"03-downloading.png",
                                        L"04-gta-starting.png",
                                        L"05-gta-failed.png",
                                        L"06-gta-downloading.png",
                                        L"07-gta-extracting.png",
                                        L"08-ready.png",
                                        L"09-running.png",
                                        L"10-failed.png",
                                        L"11-settings.png",
                                        L"13-update-available.png",
                                        L"14-first-download.png",
                                        L"15-launcher-updating.png",
                                        L"16-launcher-outdated.png",
                                        L"17-running-two.png",
                                        L"18-pick-server.png",
                                        L"19-server-files.png",
                                        L"20-server-files-failed.png",
                                        L"21-server-files-missing.png",
                                        L"23-uninstall.png",
                                        L"24-uninstalling.png",
                                        L"25-settings-no-gta.png"};
  std::vector<std::wstring> names = pngs();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, expected);
  for (const std::wstring& name : names) {
    uint32_t width = 0, height = 0;
    ASSERT_TRUE(pngSize(JoinPath(out, name), width, height)) << Utf8FromWide(name);
    EXPECT_EQ(width, 1100u);
    EXPECT_EQ(height, 660u);
  }

  ASSERT_TRUE(WriteBytes(JoinPath(out, L"notes.txt"), "kept"));
  auto dev = testing_support::RunProcess(testing_support::LauncherExePath(), {L"--shots", out, L"--dev-server"});
  EXPECT_EQ(dev.exitCode, 0u);
  expected.insert(expected.begin() + 20, L"22-dev-server.png");
  names = pngs();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, expected);
  EXPECT_EQ(ReadBytes(JoinPath(out, L"notes.txt")), "kept");

  // An output path that is a file cannot hold the shots.
  auto blocked =
      testing_support::RunProcess(testing_support::LauncherExePath(), {L"--shots", JoinPath(out, L"notes.txt")});
  EXPECT_EQ(blocked.exitCode, 1u);
}

}  // namespace
