// Whole synchronisation runs against a CDN tree written by talvoreen-publish, and against a
// scripted game server, on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <map>
#include <memory>
#include <sstream>

#include "base/files.h"
#include "base/format.h"
#include "base/game_copies.h"
#include "base/log.h"
#include "base/text.h"
#include "manifest/hashing.h"
#include "manifest/installed_state.h"
#include "manifest/rules.h"
#include "sync/download_workers.h"
#include "sync/client_files.h"
#include "sync/folder_scan.h"
#include "sync/game_sync.h"
#include "sync/parallel_hashing.h"
#include "system/uninstall.h"
#include "tests/support/http_test_server.h"
#include "tests/support/signing.h"
#include "tests/support/test_support.h"
#include "tools/publish/publish.h"

using testing_support::HttpTestServer;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::TestRequest;
using testing_support::TestResponse;
using testing_support::WriteBytes;

namespace {

// Creation and last-write time: a file replaced or written again differs in one of them.
std::pair<uint64_t, uint64_t> FileTimes(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return {0, 0};
  return {(uint64_t(data.ftCreationTime.dwHighDateTime) << 32) | data.ftCreationTime.dwLowDateTime,
          (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime};
}

std::string Content(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>('a' + ((seed = seed * 1103515245u + 12345u) >> 16) % 26);
  return bytes;
}

class GameSyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogDirectory(dir.Join(L"logs"));
    files = {{"Talvoreen.exe", Content(40000, 1)},
             {"data/maps/city.ipl", Content(120000, 2)},
             {"data/gta.dat", Content(500, 3)},
             {"lib/core.dll", Content(70000, 4)},
             {"config/settings.cfg", "volume=5\n"},
             {"docs/bo\xC5\x9F.txt", ""}};
  }

  void Publish(const std::string& build, std::vector<std::string> extra = {}) {
    const std::wstring source = dir.Join(L"source-" + WideFromUtf8(build));
    for (const auto& [path, content] : files) {
      const std::wstring full = JoinPath(source, WideFromUtf8(path));
      CreateDirectoryTree(ParentPath(full));
      ASSERT_TRUE(WriteBytes(full, content));
    }
    std::vector<std::string> args = {"game", Utf8FromWide(source), "--out", Utf8FromWide(cdn), "--key",
                                     testing_support::SourceFilePath("keys/development.key"), "--build", build};
    args.insert(args.end(), extra.begin(), extra.end());
    std::ostringstream out, err;
    ASSERT_EQ(publish::RunPublisher(args, out, err), 0) << err.str();
  }

  SyncSnapshot RunSync(SyncMode mode, bool verify = false, unsigned hashThreads = 0) {
    GameSync sync;
    sync.SetContentBaseUrl(server.Url(""));
    sync.SetInstallFolder(install);
    sync.SetHashThreads(hashThreads);
    if (freeSpace) sync.SetFreeSpaceProbe(freeSpace);
    sync.Start(mode, verify);
    sync.Join();
    return sync.GetSnapshot();
  }

  std::wstring Installed(const std::string& path) { return JoinPath(install, WideFromUtf8(path)); }
  std::wstring StatePath() { return JoinPath(install, L".talvoreen\\installed.json"); }
  void ExpectInstalledAsPublished() {
    for (const auto& [path, content] : files) EXPECT_EQ(ReadBytes(Installed(path)), content) << path;
  }
  // A game manifest signed by hand, for what the publisher refuses to write.
  void PublishManifestOf(const std::vector<std::string>& paths) {
    std::string entries;
    for (const std::string& path : paths) {
      entries += std::string(entries.empty() ? "" : ",") + "{\"path\":\"" + path + "\",\"size\":1,\"sha256\":\"" +
                 std::string(64, 'a') + "\",\"zsize\":1}";
    }
    const std::string document =
        "{\"schema\":1,\"product\":\"Talvoreen\",\"build\":\"hand\",\"files\":[" + entries + "]}";
    ASSERT_TRUE(WriteBytes(JoinPath(cdn, L"game\\stable\\manifest.json"),
                           testing_support::SignedEnvelope(testing_support::DevelopmentKey(), document)));
  }
  size_t ObjectRequests() {
    size_t n = 0;
    for (const auto& r : server.Requests()) n += r.target.find("/game/objects/") == 0;
    return n;
  }
  std::string Log() { return ReadBytes(dir.Join(L"logs\\launcher.log")); }

  TempDir dir;
  std::wstring cdn = dir.Join(L"cdn");
  std::wstring install = dir.Join(L"install");
  std::vector<std::pair<std::string, std::string>> files;
  std::function<bool(const std::wstring&, uint64_t&)> freeSpace;
  std::function<bool(const TestRequest&, TestResponse&)> intercept;
  HttpTestServer server{testing_support::FilesUnlessIntercepted(cdn, intercept)};
};

TEST_F(GameSyncTest, FreshInstallThenANoOpCheck) {
  // The .ipl and the .dll in chunks as well: this launcher fetches their whole objects, which
  // are then written from the chunks' compressed data.
  Publish("build-1", {"--chunk-min-file", "50000"});
  ASSERT_TRUE(DirectoryExists(JoinPath(cdn, L"game\\chunks")));
  SyncSnapshot s = RunSync(SyncMode::Update);
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_EQ(s.remoteBuild, "build-1");
  EXPECT_EQ(s.installedBuild, "build-1");
  EXPECT_TRUE(s.installedComplete);
  EXPECT_EQ(s.filesToDownload, files.size());
  EXPECT_EQ(s.filesDownloaded, files.size());
  for (const auto& [path, content] : files) EXPECT_EQ(ReadBytes(Installed(path)), content) << path;
  const auto state = ReadInstalledState(JoinPath(install, L".talvoreen\\installed.json"));
  ASSERT_TRUE(state.has_value());
  EXPECT_TRUE(state->complete);
  EXPECT_EQ(state->files.size(), files.size());
  EXPECT_EQ(ReadBytes(JoinPath(install, L".talvoreen\\manifest-stable.json")),
            ReadBytes(JoinPath(cdn, L"game\\stable\\manifest.json")));
  EXPECT_FALSE(DirectoryExists(JoinPath(install, L".talvoreen\\download")));
  EXPECT_TRUE(GetFileAttributesW(JoinPath(install, L".talvoreen").c_str()) & FILE_ATTRIBUTE_HIDDEN);

  const size_t objects = ObjectRequests();
  const auto stateTimes = FileTimes(StatePath());
  const auto copyTimes = FileTimes(JoinPath(install, L".talvoreen\\manifest-stable.json"));
  s = RunSync(SyncMode::Check);
  EXPECT_EQ(s.status, kSyncUpToDate);
  EXPECT_EQ(s.bytesToVerify, 40000u + 70000u);  // only the .exe and the .dll are hashed again
  EXPECT_EQ(ObjectRequests(), objects);
  // Nothing changed, so nothing is written.
  EXPECT_EQ(FileTimes(StatePath()), stateTimes);
  EXPECT_EQ(FileTimes(JoinPath(install, L".talvoreen\\manifest-stable.json")), copyTimes);
  EXPECT_EQ(server.Requests().back().target.rfind("/game/stable/manifest.json?nocache=", 0), 0u);
}

TEST_F(GameSyncTest, TrustRuleHashesWhatChangedAndDownloadsOnlyWhatDiffers) {
  Publish("build-1");
  ASSERT_EQ(RunSync(SyncMode::Update).status, kSyncUpToDate);
  // Same content, new time: hashed, not downloaded.
  HANDLE h = CreateFileW(Installed("data/maps/city.ipl").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  FILETIME later{0x12345678, 0x01DA0000};
  SetFileTime(h, nullptr, nullptr, &later);
  CloseHandle(h);
  // Wrong size: downloaded without hashing.
  ASSERT_TRUE(WriteBytes(Installed("data/gta.dat"), "short"));
  const size_t objects = ObjectRequests();
  SyncSnapshot s = RunSync(SyncMode::Update);
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_EQ(s.bytesToVerify, 120000u + 40000u + 70000u);
  EXPECT_EQ(s.filesToDownload, 1u);
  EXPECT_EQ(ObjectRequests(), objects + 1);
  EXPECT_EQ(ReadBytes(Installed("data/gta.dat")), files[2].second);

  // A lost state file: everything of the right size is hashed, nothing correct is fetched.
  ASSERT_TRUE(WriteBytes(JoinPath(install, L".talvoreen\\installed.json"), "{broken"));
  s = RunSync(SyncMode::Update);
  EXPECT_EQ(s.status, kSyncUpToDate);
  EXPECT_EQ(s.filesToDownload, 0u);
  EXPECT_EQ(ObjectRequests(), objects + 1);

  // Verify hashes every file.
  s = RunSync(SyncMode::Update, true);
  EXPECT_EQ(s.bytesToVerify, 40000u + 120000u + 500u + 70000u + 9u);
}

TEST_F(GameSyncTest, HashingOnSeveralThreadsDecidesAsOneThreadDoes) {
  // Mixed sizes, so that the largest-first order differs from the list order.
  for (int i = 0; i < 24; ++i) {
    files.push_back({"data/part" + std::to_string(i) + ".bin", Content(((i * 7) % 11 + 1) * 150000, 10 + i)});
  }
  Publish("build-1");
  ASSERT_EQ(RunSync(SyncMode::Update).status, kSyncUpToDate);
  for (int i : {3, 9, 17}) {  // same size, other content: only the digest can tell
    const std::string path = "data/part" + std::to_string(i) + ".bin";
    ASSERT_TRUE(WriteBytes(Installed(path), Content(ReadBytes(Installed(path)).size(), 999)));
  }
  testing_support::FileHeldElsewhere held(Installed("data/part20.bin"));  // cannot be read at all
  ASSERT_TRUE(held.Holding());

  // A lost state file: every file is hashed, and the check records the current list as it is.
  const std::wstring statePath = JoinPath(install, L".talvoreen\\installed.json");
  std::vector<SyncSnapshot> snapshots;
  std::vector<std::string> states;
  for (unsigned threads : {1u, 4u}) {
    DeleteFileW(statePath.c_str());
    snapshots.push_back(RunSync(SyncMode::Check, false, threads));
    states.push_back(ReadBytes(statePath));
  }
  EXPECT_EQ(snapshots[0].status, kSyncUpdateAvailable);
  EXPECT_EQ(snapshots[0].filesToDownload, 4u);
  const auto state = ParseInstalledState(states[0]);
  ASSERT_TRUE(state.has_value());
  ASSERT_EQ(state->files.size(), files.size() - 4);
  // The publisher lists paths sorted; the state keeps that order, not the order of hashing.
  std::vector<std::string> expected;
  for (const auto& [path, content] : files) {
    if (path != "data/part3.bin" && path != "data/part9.bin" && path != "data/part17.bin" && path != "data/part20.bin") {
      expected.push_back(path);
    }
  }
  std::sort(expected.begin(), expected.end());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(state->files[i].path, expected[i]);
  EXPECT_EQ(states[1], states[0]);
  EXPECT_EQ(snapshots[1].status, snapshots[0].status);
  EXPECT_EQ(snapshots[1].filesToDownload, snapshots[0].filesToDownload);
  EXPECT_EQ(snapshots[1].bytesToDownload, snapshots[0].bytesToDownload);
  EXPECT_EQ(snapshots[1].bytesToVerify, snapshots[0].bytesToVerify);
  EXPECT_EQ(snapshots[1].bytesVerified, snapshots[0].bytesVerified);
  EXPECT_EQ(snapshots[0].bytesVerified, snapshots[0].bytesToVerify - files[6 + 20].second.size());

  // The same update found again: the record it would write back is the one on the disk, which
  // stays as it is. A record with an entry of another file and a wrong time for a verified one
  // is written back with that entry kept and the time mended.
  const auto times = FileTimes(statePath);
  EXPECT_EQ(RunSync(SyncMode::Check).status, kSyncUpdateAvailable);
  EXPECT_EQ(FileTimes(statePath), times);
  InstalledState edited = *state;
  edited.files.push_back({"old/unrelated.txt", std::string(64, 'a'), 1, 1, false, false});
  edited.files[0].mtime += 1;
  ASSERT_TRUE(WriteInstalledState(statePath, edited));
  EXPECT_EQ(RunSync(SyncMode::Check).status, kSyncUpdateAvailable);
  const auto merged = ReadInstalledState(statePath);
  ASSERT_TRUE(merged.has_value());
  ASSERT_EQ(merged->files.size(), edited.files.size());
  EXPECT_EQ(merged->files[0], state->files[0]);
  EXPECT_EQ(merged->files.back(), edited.files.back());
}

TEST_F(GameSyncTest, KeepFilesAreCreatedButNeverOverwrittenAndStaleFilesGo) {
  Publish("build-1", {"--keep", "config/*.cfg"});
  ASSERT_EQ(RunSync(SyncMode::Update).status, kSyncUpToDate);
  ASSERT_TRUE(WriteBytes(Installed("config/settings.cfg"), "volume=9 (the player's own)\n"));
  files.erase(files.begin() + 2);  // data/gta.dat leaves the manifest
  Publish("build-2", {"--keep", "config/*.cfg"});
  SyncSnapshot s = RunSync(SyncMode::Update);
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_EQ(ReadBytes(Installed("config/settings.cfg")), "volume=9 (the player's own)\n");
  EXPECT_FALSE(FileExists(Installed("data/gta.dat")));
  files.erase(files.begin() + 3);  // the keep file leaves the manifest: still not deleted
  Publish("build-3");
  ASSERT_EQ(RunSync(SyncMode::Update).status, kSyncUpToDate);
  EXPECT_TRUE(FileExists(Installed("config/settings.cfg")));
  DeleteFileW(Installed("config/settings.cfg").c_str());
}

TEST_F(GameSyncTest, PathsThatChangeShapeBetweenBuildsCompleteInOneRun) {
  Publish("build-1");
  ASSERT_EQ(RunSync(SyncMode::Update).status, kSyncUpToDate);
  // A file becomes a folder and a folder becomes a file.
  files[2] = {"data/gta.dat/inner.dat", Content(300, 7)};
  files[3] = {"lib", Content(800, 8)};
  Publish("build-2");
  SyncSnapshot s = RunSync(SyncMode::Update);
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  ExpectInstalledAsPublished();

  // And back, with the state file lost: the copy of the accepted manifest still tells which
  // files were the launcher's.
  files[2] = {"data/gta.dat", Content(500, 3)};
  files[3] = {"lib/core.dll", Content(70000, 4)};
  Publish("build-3");
  ASSERT_TRUE(DeleteFileW(StatePath().c_str()));
  s = RunSync(SyncMode::Update);
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  ExpectInstalledAsPublished();
}

TEST_F(GameSyncTest, PlayerFilesInTheWayStopTheRunAndStay) {
  Publish("build-1");
  ASSERT_EQ(RunSync(SyncMode::Update).status, kSyncUpToDate);
  ASSERT_TRUE(CreateDirectoryTree(Installed("data/screens")));
  ASSERT_TRUE(WriteBytes(Installed("data/screens/mine.png"), "mine"));
  files.push_back({"data/screens", "a file now"});
  Publish("build-2");
  SyncSnapshot s = RunSync(SyncMode::Update);
  EXPECT_EQ(s.status, kSyncFailed);
  EXPECT_EQ(s.message, L"Bir dosyanın yerinde senin dosyalarını içeren bir klasör var; onu taşıyıp tekrar dene: " +
                           Installed("data/screens"));
  EXPECT_EQ(ReadBytes(Installed("data/screens/mine.png")), "mine");

  files.back() = {"notes/readme.txt", "a folder now"};
  ASSERT_TRUE(WriteBytes(Installed("notes"), "my notes"));
  Publish("build-3");
  s = RunSync(SyncMode::Update);
  EXPECT_EQ(s.status, kSyncFailed);
  EXPECT_EQ(s.message, L"Bir klasörün yerinde senin bir dosyan var; onu taşıyıp tekrar dene: " + Installed("notes"));
  EXPECT_EQ(ReadBytes(Installed("notes")), "my notes");
}

// Two cancelled updates, then one that completes: the file that left the manifest goes.
TEST_F(GameSyncTest, FilesThatLeftTheManifestGoWithTheFirstRunThatCompletes) {
  Publish("build-1");
  ASSERT_EQ(RunSync(SyncMode::Update).status, kSyncUpToDate);
  files.erase(files.begin() + 3);  // lib/core.dll leaves
  files[1].second = Content(120000, 9);
  Publish("build-2");
  for (int attempt = 0; attempt < 2; ++attempt) {  // the first object request of each run is cut off
    auto stalled = std::make_shared<std::promise<void>>();
    auto once = std::make_shared<std::atomic<bool>>(false);
    intercept = [stalled, once, this](const TestRequest& request, TestResponse& response) {
      if (request.target.find("/game/objects/") != 0) return false;
      response = testing_support::FileResponse(cdn, request);
      response.pieces = {100};
      response.closeAfterBodyBytes = 100;  // cut off: the run is cancelled before it could retry
      response.afterPiece = [stalled, once](size_t) {
        if (!once->exchange(true)) stalled->set_value();
      };
      return true;
    };
    {
      GameSync sync;
      sync.SetContentBaseUrl(server.Url(""));
      sync.SetInstallFolder(install);
      sync.Start(SyncMode::Update, false);
      ASSERT_EQ(stalled->get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
    }  // cancelled in the middle of the download
    const auto state = ReadInstalledState(StatePath());
    ASSERT_TRUE(state.has_value());
    EXPECT_FALSE(state->complete);
    EXPECT_EQ(state->build, "build-2");
    EXPECT_TRUE(std::any_of(state->files.begin(), state->files.end(),
                            [](const InstalledFile& f) { return f.path == "lib/core.dll"; }));
    EXPECT_TRUE(FileExists(Installed("lib/core.dll")));
  }
  intercept = nullptr;
  const SyncSnapshot s = RunSync(SyncMode::Update);
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_FALSE(FileExists(Installed("lib/core.dll")));
  const auto state = ReadInstalledState(StatePath());
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(state->files.size(), files.size());
}

TEST_F(GameSyncTest, NamesThatDifferOnlyInCaseBeyondAsciiAreOneFile) {
  files[5].second = "bir not\n";
  Publish("build-1");
  ASSERT_EQ(RunSync(SyncMode::Update).status, kSyncUpToDate);
  files[5].first = "docs/BO\xC5\x9E.txt";  // boş.txt to BOŞ.txt: the same file to Windows
  Publish("build-2");
  const size_t objects = ObjectRequests();
  SyncSnapshot s = RunSync(SyncMode::Update);
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_EQ(s.filesToDownload, 0u);
  EXPECT_EQ(ReadBytes(Installed("docs/bo\xC5\x9F.txt")), "bir not\n");
  EXPECT_EQ(RunSync(SyncMode::Update).filesToDownload, 0u);
  EXPECT_EQ(ObjectRequests(), objects);

  // A manifest naming one file twice is refused as a whole (tried three times, as any bad
  // manifest is).
  PublishManifestOf({"\xC3\x84.dat", "\xC3\xA4.dat"});
  s = RunSync(SyncMode::Update);
  EXPECT_EQ(s.status, kSyncFailed);
  EXPECT_EQ(s.message, L"Güncelleme bilgisi okunamadı");
}

TEST_F(GameSyncTest, DeepInstallFolderAndLongPaths) {
  install = dir.Join(L"deep\\" + std::wstring(110, L'd') + L"\\" + std::wstring(90, L'e'));
  const std::string folder(100, 'm');
  const std::string longName = folder + "/" + std::string(100, 'n') + ".dat";
  const std::string leaving = folder + "/" + std::string(110, 'l') + ".dat";
  files.push_back({longName, Content(3000, 11)});
  files.push_back({leaving, Content(2000, 12)});
  Publish("build-1");
  ASSERT_GT(Installed(longName).size(), 400u);
  SyncSnapshot s = RunSync(SyncMode::Update);
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  ExpectInstalledAsPublished();
  s = RunSync(SyncMode::Update, true);  // every file hashed again
  EXPECT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_EQ(s.filesToDownload, 0u);

  files.pop_back();
  Publish("build-2");
  ASSERT_EQ(RunSync(SyncMode::Update).status, kSyncUpToDate);
  EXPECT_FALSE(FileExists(Installed(leaving)));
  EXPECT_TRUE(FileExists(Installed(longName)));

  // The uninstall walk removes the deep tree, a name the manifest never had included.
  ASSERT_TRUE(WriteBytes(Installed(folder + "/" + std::string(120, 'o')), "left over"));
  std::atomic<unsigned> removed{0};
  std::wstring error;
  EXPECT_TRUE(UninstallCore(install, L"", removed, error)) << Utf8FromWide(error);
  EXPECT_FALSE(DirectoryExists(Installed(folder)));
  EXPECT_FALSE(FileExists(Installed("Talvoreen.exe")));
}

// The state file is read beside the caller and kept for the next run, which takes it only
// while the file is the one that was read: one replaced in between is read again.
// A state file whose "files" member repeats is read as earlier builds read it, the last one
// counting: files that left the manifest are still known as ours and go.
TEST_F(GameSyncTest, ARepeatedFilesMemberIsReadWithTheLastOneCounting) {
  Publish("build-1");
  ASSERT_EQ(RunSync(SyncMode::Update).status, kSyncUpToDate);
  std::string text = ReadBytes(StatePath());
  text.insert(text.find("\"files\":"), "\"files\":[{\"path\":\"decoy.txt\",\"size\":1,\"mtime\":1}],");
  ASSERT_TRUE(WriteBytes(StatePath(), text));
  files.erase(files.begin() + 3);  // lib/core.dll leaves
  files[1].second = Content(120000, 9);
  Publish("build-2");

  // A check that cannot read the record back as one whole leaves it as it is.
  EXPECT_EQ(RunSync(SyncMode::Check).status, kSyncUpdateAvailable);
  EXPECT_EQ(ReadBytes(StatePath()), text);
  const SyncSnapshot s = RunSync(SyncMode::Update);
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_FALSE(FileExists(Installed("lib/core.dll")));
  EXPECT_NE(Log().find("repeats its \"files\" member; the last one is read"), std::string::npos);
  const auto state = ReadInstalledState(StatePath());
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(state->files.size(), files.size());
}

// The run read no record (the file was held, or on a share that failed for a moment) and a
// second read finds one: writing that read's entries under the first read's header would turn
// a complete build into an unknown one.
TEST_F(GameSyncTest, ACheckWritesBackOnlyWhatOneReadSaw) {
  Publish("build-1");
  ASSERT_EQ(RunSync(SyncMode::Update).status, kSyncUpToDate);
  const std::string text = ReadBytes(StatePath());
  auto state = ReadInstalledState(StatePath());
  ASSERT_TRUE(state.has_value());
  InstalledFile verified = state->files.front();
  verified.mtime += 1;
  WriteCheckedState(StatePath(), PreviousRecord(), nullptr, {verified});
  EXPECT_EQ(ReadBytes(StatePath()), text);

  state->complete = false;  // read before another writer completed the record
  WriteCheckedState(StatePath(), RecordOf(Manifest(), {}, *state), nullptr, {verified});
  EXPECT_EQ(ReadBytes(StatePath()), text);

  state->complete = true;
  WriteCheckedState(StatePath(), RecordOf(Manifest(), {}, *state), nullptr, {verified});
  const auto written = ReadInstalledState(StatePath());
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(written->build, "build-1");
  EXPECT_TRUE(written->complete);
  EXPECT_EQ(written->files.front(), verified);
}

TEST_F(GameSyncTest, TheStateReadAtSetUpIsUsedOnlyWhileTheFileIsUnchanged) {
  Publish("build-1");
  ASSERT_EQ(RunSync(SyncMode::Update).status, kSyncUpToDate);
  GameSync sync;
  sync.SetContentBaseUrl(server.Url(""));
  sync.SetInstallFolder(install);
  const ULONGLONG safetyNet = GetTickCount64() + 60000;
  while (sync.GetSnapshot().installedBuild != "build-1" && GetTickCount64() < safetyNet) SwitchToThread();
  ASSERT_EQ(sync.GetSnapshot().installedBuild, "build-1");
  auto state = ReadInstalledState(StatePath());
  ASSERT_TRUE(state.has_value());
  state->build = "build-0";
  for (InstalledFile& file : state->files) file.hash = std::string(64, '0');
  ASSERT_TRUE(WriteInstalledState(StatePath(), *state));
  sync.Start(SyncMode::Check, false);
  sync.Join();
  const SyncSnapshot s = sync.GetSnapshot();
  EXPECT_EQ(s.status, kSyncUpToDate);
  uint64_t total = 0;
  for (const auto& file : files) total += file.second.size();
  EXPECT_EQ(s.bytesToVerify, total);  // nothing of the replaced record is trusted
}

TEST_F(GameSyncTest, CheckRunReportsWhatIsMissingAndDownloadsNothing) {
  Publish("build-1");
  SyncSnapshot s = RunSync(SyncMode::Check);
  EXPECT_EQ(s.status, kSyncUpdateAvailable);
  EXPECT_EQ(s.filesToDownload, files.size());
  EXPECT_GT(s.bytesToDownload, 0u);
  EXPECT_EQ(ObjectRequests(), 0u);
  EXPECT_FALSE(DirectoryExists(JoinPath(install, L".talvoreen\\download")));
}

TEST_F(GameSyncTest, TruncatedManifestIsTriedThreeTimes) {
  Publish("build-1");
  int manifestRequests = 0;
  intercept = [&](const TestRequest& request, TestResponse& response) {
    if (request.target.find("/game/stable/manifest.json") != 0 || ++manifestRequests > 2) return false;
    response = testing_support::FileResponse(cdn, request);
    response.headers = {{"Content-Length", std::to_string(response.body.size())}};
    response.closeAfterBodyBytes = response.body.size() / 2;
    return true;
  };
  SyncSnapshot s = RunSync(SyncMode::Update);
  EXPECT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_EQ(manifestRequests, 3);
  const std::string log = Log();
  EXPECT_NE(log.find(" try 1: "), std::string::npos);
  EXPECT_NE(log.find(" try 2: "), std::string::npos);
  EXPECT_EQ(log.find(" try 3: "), std::string::npos);
}

TEST_F(GameSyncTest, FreeSpaceMustCoverTheDownloadsAndTheReserve) {
  Publish("build-1");
  uint64_t needed = 0;
  for (const auto& f : files) needed += f.second.size();
  EXECUTION_STATE runState = 0;
  freeSpace = [&](const std::wstring&, uint64_t& available) {
    runState = SetThreadExecutionState(0);  // without ES_CONTINUOUS this only reads the state
    available = needed + 67108864 - 1;
    return true;
  };
  SyncSnapshot s = RunSync(SyncMode::Update);
  // The run thread keeps the PC from sleeping while it transfers and hashes.
  EXPECT_EQ(runState & (ES_CONTINUOUS | ES_SYSTEM_REQUIRED), DWORD(ES_CONTINUOUS | ES_SYSTEM_REQUIRED));
  EXPECT_EQ(s.status, kSyncFailed);
  EXPECT_EQ(s.message.rfind(L"Diskte yeterli yer yok: ", 0), 0u);
  freeSpace = [&](const std::wstring&, uint64_t& available) {
    available = needed + 67108864;
    return true;
  };
  EXPECT_EQ(RunSync(SyncMode::Update).status, kSyncUpToDate);
}

// The disk fills up while the files arrive: another program took the space after the check.
TEST_F(GameSyncTest, ADiskThatFillsUpDuringTheDownloadSaysSo) {
  const std::wstring disk = testing_support::SmallDisk(TALVOREEN_SMALL_DISK);
  if (disk.empty()) {
    GTEST_SKIP() << "no 1 MiB disk mounted at " << TALVOREEN_SMALL_DISK
                 << " (mounting a tmpfs needs root; tests/sync/small_disk.sh said why)";
  }
  install = JoinPath(disk, L"install");
  DeleteTree(install);
  files = {{"data/big.bin", Content(3 << 20, 9)}};
  Publish("build-1");
  freeSpace = [](const std::wstring&, uint64_t& available) {
    available = 1ull << 40;
    return true;
  };
  const SyncSnapshot s = RunSync(SyncMode::Update);
  DeleteTree(install);
  EXPECT_EQ(s.status, kSyncFailed);
  EXPECT_EQ(Utf8FromWide(s.message), Utf8FromWide(L"Diske yazılamadı: " + WindowsErrorText(ERROR_DISK_FULL)));
}

TEST_F(GameSyncTest, NewerLauncherNeededAndFailuresHaveTheirTexts) {
  Publish("build-1", {"--min-launcher-version", "0.5.0"});
  EXPECT_EQ(RunSync(SyncMode::Update).status, kSyncLauncherOutdated);
  EXPECT_FALSE(FileExists(Installed("Talvoreen.exe")));

  intercept = [](const TestRequest&, TestResponse& response) {
    response.status = 500;
    return true;
  };
  SyncSnapshot s = RunSync(SyncMode::Update);
  EXPECT_EQ(s.status, kSyncFailed);
  EXPECT_EQ(s.message, L"Güncellemeler denetlenemedi: Sunucu hata döndürdü (HTTP 500)");
  EXPECT_NE(Log().find("[game] failed: G\xC3\xBC" "ncellemeler denetlenemedi"), std::string::npos);
}

TEST_F(GameSyncTest, RunningGameCopyLeavesEverythingAlone) {
  Publish("build-1");
  HANDLE copy3 = CreateMutexW(nullptr, FALSE, GameInstanceMutexName(3).c_str());
  ASSERT_NE(copy3, nullptr);
  const SyncSnapshot s = RunSync(SyncMode::Update);
  CloseHandle(copy3);
  EXPECT_EQ(s.status, kSyncGameRunning);
  EXPECT_FALSE(FileExists(Installed("Talvoreen.exe")));
  EXPECT_EQ(RunSync(SyncMode::Update).status, kSyncUpToDate);  // once the game has closed
}

TEST_F(GameSyncTest, OldClientFolderIsMigrated) {
  Publish("build-1");
  ASSERT_TRUE(CreateDirectoryTree(JoinPath(install, L"MTA\\config")));
  ASSERT_TRUE(WriteBytes(JoinPath(install, L"MTA\\config\\core.xml"), "<core/>"));
  ASSERT_EQ(RunSync(SyncMode::Update).status, kSyncUpToDate);
  EXPECT_FALSE(DirectoryExists(JoinPath(install, L"MTA")));
  EXPECT_EQ(ReadBytes(JoinPath(install, L"TALVOREEN\\config\\core.xml")), "<core/>");

  // With both folders present only a missing "config" moves over.
  ASSERT_TRUE(CreateDirectoryTree(JoinPath(install, L"MTA\\config")));
  ASSERT_TRUE(WriteBytes(JoinPath(install, L"MTA\\config\\other.xml"), "<other/>"));
  ASSERT_EQ(RunSync(SyncMode::Update).status, kSyncUpToDate);
  EXPECT_TRUE(FileExists(JoinPath(install, L"MTA\\config\\other.xml")));
  EXPECT_FALSE(FileExists(JoinPath(install, L"TALVOREEN\\config\\other.xml")));
}

TEST_F(GameSyncTest, HeadlessJobsPrintProgressAndResult) {
  Publish("build-1");
  auto run = [&](std::vector<std::wstring> args) {
    std::vector<std::wstring> all = {L"--headless"};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {L"--dir", install, L"--cdn", server.Url("")});
    return testing_support::RunProcess(testing_support::LauncherExePath(), all);
  };
  auto lastLine = [](const std::string& output) {
    const size_t end = output.find_last_not_of('\n');
    const size_t start = output.rfind('\n', end);
    return output.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
  };
  auto check = run({L"check"});
  EXPECT_EQ(check.exitCode, 0u) << check.output;
  EXPECT_EQ(lastLine(check.output), "result update-available build build-1 unavailable 0");
  auto sync = run({L"sync"});
  EXPECT_EQ(sync.exitCode, 0u) << sync.output;
  EXPECT_EQ(lastLine(sync.output), "result up-to-date build build-1 unavailable 0");
  EXPECT_NE(sync.output.find(" files 6/6\n"), std::string::npos) << sync.output;
  auto verify = run({L"verify"});
  EXPECT_EQ(lastLine(verify.output), "result up-to-date build build-1 unavailable 0");

  intercept = [](const TestRequest&, TestResponse& response) {
    response.status = 500;
    return true;
  };
  auto failed = run({L"sync"});
  EXPECT_EQ(failed.exitCode, 1u);
  EXPECT_EQ(lastLine(failed.output),
            "result failed build  unavailable 0 error: G\xC3\xBC" "ncellemeler denetlenemedi: Sunucu hata d\xC3\xB6nd\xC3\xBC" "rd\xC3\xBC (HTTP 500)");
}

// The hashing step and the folder listing on their own, against files in a temporary folder.
class HashStepTest : public ::testing::Test {
 protected:
  HashTask Add(const std::string& path, const std::string& content) {
    const std::wstring full = JoinPath(dir.Path(), WideFromUtf8(path));
    CreateDirectoryTree(ParentPath(full));
    EXPECT_TRUE(WriteBytes(full, content));
    HashTask task;
    task.file.path = path;
    task.file.size = content.size();
    task.disk = ReadDiskFile(full);
    return task;
  }
  TempDir dir;
};

TEST_F(HashStepTest, CancelStopsEveryThreadAtItsNextRead) {
  std::vector<HashTask> tasks;
  for (int i = 0; i < 8; ++i) tasks.push_back(Add("f" + std::to_string(i), Content(4 * kHashFileReadSize, i)));
  std::atomic<bool> cancel{false};
  std::atomic<uint64_t> read{0};
  std::vector<HashedFile> results;
  const bool finished = HashFiles(kHashSha256, dir.Path(), tasks, 4,
                                  [&](uint64_t bytes) {
                                    read += bytes;
                                    cancel = true;
                                  },
                                  &cancel, results);
  EXPECT_FALSE(finished);
  // The read that set the flag, and at most the one each other thread had under way.
  EXPECT_GT(read.load(), 0u);
  EXPECT_LE(read.load(), 4 * kHashFileReadSize);
}

TEST_F(HashStepTest, AFileTouchedWhileHashedIsNotTrusted) {
  std::vector<HashTask> tasks = {Add("small1", Content(1000, 1)), Add("big", Content(3 * kHashFileReadSize, 2)),
                                 Add("small2", Content(2000, 3))};
  for (HashTask& task : tasks) {
    std::string hash;
    ASSERT_TRUE(HashFile(kHashSha256, dir.Join(WideFromUtf8(task.file.path)), hash, nullptr, nullptr));
    task.file.hash = hash;
  }
  std::atomic<bool> touched{false};
  std::vector<HashedFile> results;
  // At the first read anywhere the big file still has reads to go; only its time changes.
  ASSERT_TRUE(HashFiles(kHashSha256, dir.Path(), tasks, 2,
                        [&](uint64_t) {
                          if (touched.exchange(true)) return;
                          HANDLE h = CreateFileW(dir.Join(L"big").c_str(), FILE_WRITE_ATTRIBUTES,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, 0, nullptr);
                          FILETIME later{0x12345678, 0x01DA0000};
                          SetFileTime(h, nullptr, nullptr, &later);
                          CloseHandle(h);
                        },
                        nullptr, results));
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[1].digest, tasks[1].file.hash);  // the content is still right
  EXPECT_NE(results[1].after.mtime, tasks[1].disk.mtime);
  SyncPlan plan;
  for (size_t i = 0; i < tasks.size(); ++i) SettleHashedFile(plan, tasks[i], results[i].digest, results[i].after);
  ASSERT_EQ(plan.toDownload.size(), 1u);
  EXPECT_EQ(plan.toDownload[0].path, "big");
  ASSERT_EQ(plan.current.size(), 2u);
  EXPECT_EQ(plan.current[0].path, "small1");
  EXPECT_EQ(plan.current[1].path, "small2");
}

TEST_F(HashStepTest, FolderListingReportsWhatEachQueryReports) {
  Add("top.txt", "top");
  Add("a/b/c.txt", "ccc");
  Add("a/b/empty", "");
  Add("a/b/bo\xC5\x9F.txt", "\xC5\x9F");
  CreateDirectoryTree(dir.Join(L"a\\b\\sub"));
  const std::vector<std::pair<std::string, bool>> cases = {
      {"top.txt", true},        {"a/b/c.txt", true},      {"a/b/empty", true},        {"a/b/bo\xC5\x9F.txt", true},
      {"a/b/C.TXT", true},      {"a/b/missing", false},   {"a/b/sub", false},         {"nowhere/x", false},
      {"top.txt/x", false},     {"a/b", false},           {"missing-top", false}};
  std::vector<ManifestFile> files;
  for (const auto& c : cases) {
    files.emplace_back();
    files.back().path = c.first;
  }
  const std::vector<DiskFile> disk = ReadDiskFiles(dir.Path(), files);
  ASSERT_EQ(disk.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const DiskFile one = ReadDiskFile(dir.Join(WideFromUtf8(cases[i].first)));
    EXPECT_EQ(one.exists, cases[i].second) << cases[i].first;
    EXPECT_EQ(disk[i].exists, one.exists) << cases[i].first;
    EXPECT_EQ(disk[i].size, one.size) << cases[i].first;
    EXPECT_EQ(disk[i].mtime, one.mtime) << cases[i].first;
  }
}

// A game server: its list and its files, scripted per test.
class ServerSyncTest : public ::testing::Test {
 protected:
  void SetUp() override { SetLogDirectory(dir.Join(L"logs")); }
  SyncSnapshot RunServer(SyncMode mode) {
    GameSync sync;
    sync.ConfigureServer(dir.Join(L"install"), cache, server.Url("/.talvoreen/client-files.json"), L"corvel");
    sync.Start(mode, false);
    sync.Join();
    return sync.GetSnapshot();
  }
  TempDir dir;
  std::wstring cache = dir.Join(L"cache");
  std::function<TestResponse(const TestRequest&)> handler;
  HttpTestServer server{[this](const TestRequest& r) { return handler(r); }};
};

TEST_F(ServerSyncTest, ListFailuresHaveTheirTexts) {
  for (int status : {404, 503}) {
    handler = [status](const TestRequest&) { return testing_support::StatusResponse(status, "X"); };
    const SyncSnapshot s = RunServer(SyncMode::Update);
    EXPECT_EQ(s.status, kSyncFailed);
    EXPECT_EQ(s.message, status == 404 ? L"Sunucu dosya listesini vermiyor (sunucu sürümü eski)"
                                       : L"Sunucu henüz hazır değil, biraz sonra tekrar dene");
  }
  handler = [](const TestRequest&) {
    TestResponse r;
    r.body = "<!DOCTYPE html><html>captive portal</html>";
    r.headers = {{"Content-Type", "text/html"}};
    return r;
  };
  SyncSnapshot s = RunServer(SyncMode::Update);
  EXPECT_EQ(s.message, L"Sunucunun dosya listesi yerine bir web sayfası geldi (DNS, proxy ya da ağ filtresi olabilir)");
  // The list goes to a file of its own, which nothing leaves behind; one that cannot be made is
  // this machine's failure, not the server's.
  const std::wstring listFile = dir.Join(L"install\\.talvoreen\\list-corvel.part");
  EXPECT_FALSE(FileExists(listFile));
  ASSERT_TRUE(CreateDirectoryTree(JoinPath(listFile, L"in the way")));
  s = RunServer(SyncMode::Update);
  EXPECT_EQ(s.status, kSyncFailed);
  EXPECT_EQ(s.message.rfind(L"Geçici dosya oluşturulamadı (" + listFile + L"): ", 0), 0u) << Utf8FromWide(s.message);
}

TEST_F(ServerSyncTest, UnavailableFileDoesNotFailTheRun) {
  const std::string content = "outputChatBox('hi')\n";
  // The listed MD5 must be the content's; compute it the way the launcher does (BCrypt).
  TempDir scratch;
  ASSERT_TRUE(WriteBytes(scratch.Join(L"c.lua"), content));
  std::string md5;
  ASSERT_TRUE(HashFile(kHashMd5, scratch.Join(L"c.lua"), md5, nullptr, nullptr));
  const std::string list = std::string(R"({"schema":1,"resources":[{"name":"chat","files":[{"path":"client.lua","size":20,"md5":")") +
                           md5 + R"("},{"path":"gone.lua","size":3,"md5":"0123456789abcdef0123456789abcdef"}]}]})";
  handler = [&, list](const TestRequest& request) {
    TestResponse r;
    if (request.target == "/.talvoreen/client-files.json") {
      r.body = list;
    } else if (request.target.rfind("/chat/client.lua?v=" + md5.substr(0, 16), 0) == 0) {
      r.body = content;
    } else {
      r.status = 404;
    }
    return r;
  };
  SyncSnapshot s = RunServer(SyncMode::Update);
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_EQ(s.filesUnavailable, 1u);
  EXPECT_EQ(ReadBytes(dir.Join(L"cache\\resources\\chat\\client.lua")), content);
  EXPECT_TRUE(FileExists(dir.Join(L"install\\.talvoreen\\server-corvel.json")));
  EXPECT_FALSE(FileExists(dir.Join(L"install\\.talvoreen\\list-corvel.part")));
  // A check run does not count the still-unavailable file as missing.
  s = RunServer(SyncMode::Check);
  EXPECT_EQ(s.status, kSyncUpToDate);
  EXPECT_EQ(s.filesUnavailable, 1u);
  EXPECT_EQ(s.installedBuild, "server");  // as the run read it: nothing is read before
  EXPECT_TRUE(s.installedComplete);
}

// The largest list accepted: as many files as allowed, each with the longest local path (made
// by tests/sync/largest_client_list.py, every file present and empty, with the state of a run
// that verified them all and stopped). The run that finishes it writes its state file, which is
// read back and trusted by the next run.
TEST_F(ServerSyncTest, TheLargestListAcceptedSyncsAndItsStateIsKept) {
  // Made by the build machine's CTest only: 200,000 files are too many to ship in the test bundle.
  const std::wstring made = testing_support::TestFile(L"..\\largest-client-list");
  if (GetFileAttributesW(made.c_str()) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no largest list in the build folder";
  std::string list;
  ASSERT_TRUE(ReadWholeFile(JoinPath(made, L"client-files.json"), list));
  ASSERT_LE(list.size(), kServerListLimit);
  Manifest parsed;
  std::wstring error;
  ASSERT_TRUE(ParseClientFiles(list, parsed, error));
  ASSERT_EQ(parsed.files.size(), kMaxClientFiles);
  for (const ManifestFile& file : parsed.files) ASSERT_EQ(file.path.size(), kMaxSafePathBytes);
  cache = JoinPath(made, L"cache");
  handler = [&list](const TestRequest& request) {
    if (request.target == "/.talvoreen/client-files.json") {
      TestResponse r;
      r.body = list;
      return r;
    }
    return testing_support::StatusResponse(404);
  };
  const std::wstring statePath = dir.Join(L"install\\.talvoreen\\server-corvel.json");
  ASSERT_TRUE(CreateDirectoryTree(ParentPath(statePath)));
  ASSERT_TRUE(CopyFileW(JoinPath(made, L"state.json").c_str(), statePath.c_str(), FALSE));
  SyncSnapshot s = RunServer(SyncMode::Update);
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_EQ(s.filesToDownload, 0u);
  const auto state = ReadInstalledState(statePath);
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(state->files.size(), kMaxClientFiles);
  EXPECT_TRUE(state->complete);
  const auto times = FileTimes(statePath);
  s = RunServer(SyncMode::Check);
  EXPECT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_EQ(FileTimes(statePath), times);  // every entry trusted as it was
}

// A list with a long path, two names that are one file to Windows, a name that is not UTF-8,
// and a file that becomes a folder: served from a table of contents by request path.
TEST_F(ServerSyncTest, LongPathsCaseBadNamesAndShapeChanges) {
  cache = dir.Join(L"cache-" + std::wstring(90, L'k'));
  std::map<std::string, std::string> served;  // request path as sent -> content
  std::string list;
  handler = [&](const TestRequest& request) {
    if (request.target == "/.talvoreen/client-files.json") {
      TestResponse r;
      r.body = list;
      return r;
    }
    auto it = served.find(request.target.substr(0, request.target.find('?')));
    if (it == served.end()) return testing_support::StatusResponse(404);
    TestResponse r;
    r.body = it->second;
    return r;
  };
  TempDir scratch;
  auto entry = [&](const std::string& resource, const std::string& path, const std::string& urlPath,
                   const std::string& content) {
    served["/" + urlPath] = content;
    EXPECT_TRUE(WriteBytes(scratch.Join(L"f"), content));
    std::string md5;
    EXPECT_TRUE(HashFile(kHashMd5, scratch.Join(L"f"), md5, nullptr, nullptr));
    return "{\"name\":\"" + resource + "\",\"files\":[{\"path\":\"" + path + "\",\"size\":" +
           std::to_string(content.size()) + ",\"md5\":\"" + md5 + "\"}]}";
  };
  const std::string deep = std::string(70, 'a') + "/" + std::string(70, 'b') + "/" + std::string(70, 'c') + ".lua";
  list = "{\"schema\":1,\"resources\":[" + entry("long", deep, "long/" + deep, "deep file") + "," +
         entry("ch", "\xC5\x9E" "ehir.lua", "ch/%C5%9Eehir.lua", "first") + "," +
         entry("ch", "\xC5\x9F" "ehir.lua", "ch/%C5%9Fehir.lua", "same file to Windows") + "," +
         entry("ch", "bad\xFF.lua", "ch/bad%FF.lua", "not UTF-8") + "," + entry("m", "data", "m/data", "a file") + "]}";
  SyncSnapshot s = RunServer(SyncMode::Update);
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_EQ(s.filesToDownload, 3u);
  const std::wstring longPath = JoinPath(cache, L"resources\\long\\" + WideFromUtf8(deep));
  EXPECT_GT(longPath.size(), 300u);
  EXPECT_EQ(ReadBytes(longPath), "deep file");
  EXPECT_EQ(ReadBytes(JoinPath(cache, L"resources\\ch\\\u015Eehir.lua")), "first");
  for (const auto& request : server.Requests()) {
    EXPECT_EQ(request.target.find("%C5%9F"), std::string::npos);
    EXPECT_EQ(request.target.find("bad"), std::string::npos);
  }
  EXPECT_EQ(RunServer(SyncMode::Update).filesToDownload, 0u);

  // The launcher's file "m/data" becomes a folder: it goes. A folder holding a player's file
  // that must become a file again stops the run and stays.
  list = "{\"schema\":1,\"resources\":[" + entry("m", "data/inner.lua", "m/data/inner.lua", "inside") + "]}";
  s = RunServer(SyncMode::Update);
  ASSERT_EQ(s.status, kSyncUpToDate) << Utf8FromWide(s.message);
  EXPECT_EQ(ReadBytes(JoinPath(cache, L"resources\\m\\data\\inner.lua")), "inside");
  ASSERT_TRUE(WriteBytes(JoinPath(cache, L"resources\\m\\data\\mine.txt"), "mine"));
  list = "{\"schema\":1,\"resources\":[" + entry("m", "data", "m/data", "a file again") + "]}";
  s = RunServer(SyncMode::Update);
  EXPECT_EQ(s.status, kSyncFailed);
  EXPECT_EQ(s.message, L"Bir dosyanın yerinde senin dosyalarını içeren bir klasör var; onu taşıyıp tekrar dene: " +
                           JoinPath(cache, L"resources\\m\\data"));
  EXPECT_EQ(ReadBytes(JoinPath(cache, L"resources\\m\\data\\mine.txt")), "mine");
}

}  // namespace
