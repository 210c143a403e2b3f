// The self-update against a CDN tree written by talvoreen-publish and served on 127.0.0.1.
#include <gtest/gtest.h>

#include <sstream>

#include "base/files.h"
#include "base/format.h"
#include "base/log.h"
#include "base/text.h"
#include "manifest/manifest.h"
#include "tests/support/http_test_server.h"
#include "tests/support/signing.h"
#include "tests/support/test_support.h"
#include "tools/publish/publish.h"
#include "update/launcher_updater.h"

using testing_support::HttpTestServer;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::TestRequest;
using testing_support::TestResponse;
using testing_support::WriteBytes;

namespace {

std::string RandomBytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(seed >> 16);
  }
  return bytes;
}

class UpdaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing_support::BuiltWithDevelopmentKey());
    SetLogDirectory(dir.Join(L"logs"));
    ASSERT_TRUE(CreateDirectoryTree(dir.Join(L"install")));
    ASSERT_TRUE(WriteBytes(target, "the running launcher"));
  }

  // Publishes `bytes` as launcher `version` into the CDN folder.
  void Publish(const std::string& version, const std::string& bytes) {
    const std::wstring exe = dir.Join(L"build\\Talvoreen Launcher.exe");
    CreateDirectoryTree(dir.Join(L"build"));
    ASSERT_TRUE(WriteBytes(exe, bytes));
    std::ostringstream out, err;
    const int code = publish::RunPublisher({"launcher", Utf8FromWide(exe), "--out", Utf8FromWide(cdn), "--key",
                                            testing_support::SourceFilePath("keys/development.key"),
                                            "--version", version},
                                           out, err);
    ASSERT_EQ(code, 0) << err.str();
  }

  // Replaces the published manifest with one whose file record is edited.
  void RewriteManifest(const std::string& version, uint64_t size, const std::string& sha, uint64_t zsize) {
    const std::string document = "{\"schema\":1,\"product\":\"TalvoreenLauncher\",\"version\":\"" + version +
                                 "\",\"created\":\"2026-12-07T00:00:00Z\",\"file\":{\"path\":\"Talvoreen Launcher.exe\","
                                 "\"size\":" + std::to_string(size) + ",\"sha256\":\"" + sha + "\",\"zsize\":" +
                                 std::to_string(zsize) + "}}";
    ASSERT_TRUE(WriteBytes(JoinPath(cdn, L"launcher\\stable\\manifest.json"),
                           testing_support::SignedEnvelope(testing_support::DevelopmentKey(), document)));
  }

  std::string PublishedSha() {
    const std::string manifest = ReadBytes(JoinPath(cdn, L"launcher\\stable\\manifest.json"));
    LauncherManifest parsed;
    std::wstring error;
    EXPECT_TRUE(ParseLauncherManifest(manifest, parsed, error));
    zsize = parsed.file.zsize;
    return parsed.file.hash;
  }

  UpdateSnapshot Check(const std::string& ownVersion) {
    LauncherUpdater updater;
    updater.Init(server.Url("/base"), target, ownVersion);
    updater.Start();
    updater.Join();
    return updater.GetSnapshot();
  }

  std::string Log() { return ReadBytes(dir.Join(L"logs\\launcher.log")); }

  TempDir dir;
  std::wstring cdn = dir.Join(L"cdn");
  std::wstring target = dir.Join(L"install\\Talvoreen Launcher.exe");
  uint64_t zsize = 0;
  HttpTestServer server{[this](const TestRequest& request) {
    std::string path = request.target;
    if (path.rfind("/base/", 0) != 0) return testing_support::StatusResponse(404, "Not Found");
    TestRequest inner = request;
    inner.target = path.substr(5);
    return testing_support::FileResponse(cdn, inner);
  }};
};

TEST_F(UpdaterTest, NewerVersionIsDownloadedVerifiedAndStaged) {
  const std::string bytes = RandomBytes(700000, 1);
  Publish("0.5", bytes);
  PublishedSha();
  const UpdateSnapshot s = Check("0.4.21");
  ASSERT_EQ(s.state, kUpdateReady) << Utf8FromWide(s.message);
  EXPECT_EQ(s.remoteVersion, "0.5");
  EXPECT_EQ(s.stagedPath, target + L".new");
  EXPECT_EQ(ReadBytes(s.stagedPath), bytes);
  EXPECT_EQ(s.bytesTotal, zsize);
  EXPECT_EQ(s.bytesDone, zsize);
  EXPECT_EQ(ReadBytes(target), "the running launcher");  // nothing swapped yet

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target.rfind("/base/launcher/stable/manifest.json?nocache=", 0), 0u);
  EXPECT_EQ(requests[1].target.rfind("/base/game/objects/", 0), 0u);
  EXPECT_EQ(requests[1].target.find('?'), std::string::npos);

  std::wstring error;
  ASSERT_TRUE(LauncherUpdater::ApplyUpdate(s.stagedPath, target, error)) << Utf8FromWide(error);
  EXPECT_EQ(ReadBytes(target), bytes);
  EXPECT_EQ(ReadBytes(target + L".old"), "the running launcher");
  EXPECT_FALSE(FileExists(target + L".new"));
  LauncherUpdater::CleanupAfterUpdate(target);
  EXPECT_FALSE(FileExists(target + L".old"));
}

TEST_F(UpdaterTest, VersionsAreComparedNumerically) {
  Publish("0.4.3", "old launcher bytes");
  UpdateSnapshot s = Check("0.4.21");
  EXPECT_EQ(s.state, kUpdateNoUpdate);
  EXPECT_EQ(s.remoteVersion, "0.4.3");
  EXPECT_EQ(Check("0.0.0").state, kUpdateReady);  // --test-old-version
  Publish("0.4.21", "same version");
  EXPECT_EQ(Check("0.4.21").state, kUpdateNoUpdate);
  EXPECT_EQ(Log().find("[launcher-update] failed"), std::string::npos);
}

TEST_F(UpdaterTest, MissingManifestMeansNoUpdate) {
  const UpdateSnapshot s = Check("0.4.21");
  EXPECT_EQ(s.state, kUpdateNoUpdate);
  EXPECT_EQ(s.message, L"");
  EXPECT_EQ(Log().find("[launcher-update] failed"), std::string::npos);
}

TEST_F(UpdaterTest, TamperedObjectFailsAndLeavesNoStagedFile) {
  const std::string bytes = RandomBytes(300000, 2);
  Publish("0.5", bytes);
  const std::string sha = PublishedSha();
  std::string otherSha = sha;
  otherSha[10] = otherSha[10] == 'a' ? 'b' : 'a';
  // The same object stored under a name its content does not hash to.
  auto objectPath = [&](const std::string& name) {
    return JoinPath(cdn, WideFromUtf8("game\\objects\\" + name.substr(0, 2) + "\\" + name + ".gz"));
  };
  CreateDirectoryTree(ParentPath(objectPath(otherSha)));
  ASSERT_TRUE(CopyFileW(objectPath(sha).c_str(), objectPath(otherSha).c_str(), FALSE));
  struct Case {
    uint64_t size;
    std::string sha;
  } cases[] = {{bytes.size() + 1, sha}, {bytes.size(), otherSha}};
  for (const Case& c : cases) {
    RewriteManifest("0.5", c.size, c.sha, zsize);
    const UpdateSnapshot s = Check("0.4.21");
    EXPECT_EQ(s.state, kUpdateFailed);
    EXPECT_EQ(s.message, L"Launcher güncellemesi indirilemedi");
    EXPECT_FALSE(FileExists(target + L".new"));
  }
  EXPECT_NE(Log().find("[launcher-update] failed: Launcher g\xC3\xBC" "ncellemesi indirilemedi"), std::string::npos);
}

TEST_F(UpdaterTest, ObjectLongerThanAnnouncedIsCutOffWhileItStreams) {
  const std::string bytes = RandomBytes(6 * 1024 * 1024, 3);  // does not compress
  Publish("0.5", bytes);
  const std::string sha = PublishedSha();
  RewriteManifest("0.5", 1000, sha, zsize);
  const UpdateSnapshot s = Check("0.4.21");
  EXPECT_EQ(s.state, kUpdateFailed);
  EXPECT_LT(s.bytesDone, zsize);  // the transfer stopped long before the end
  EXPECT_FALSE(FileExists(target + L".new"));
}

TEST_F(UpdaterTest, MissingObjectAndBrokenManifestHaveTheirTexts) {
  Publish("0.5", "bytes");
  const std::string sha = PublishedSha();
  DeleteFileW(JoinPath(cdn, WideFromUtf8("game\\objects\\" + sha.substr(0, 2) + "\\" + sha + ".gz")).c_str());
  UpdateSnapshot s = Check("0.4.21");
  EXPECT_EQ(s.state, kUpdateFailed);
  EXPECT_EQ(s.message, L"Launcher güncellemesi indirilemedi: HTTP 404");

  ASSERT_TRUE(WriteBytes(JoinPath(cdn, L"launcher\\stable\\manifest.json"), "<html>maintenance</html>"));
  s = Check("0.4.21");
  EXPECT_EQ(s.state, kUpdateFailed);
  EXPECT_FALSE(s.message.empty());
  EXPECT_EQ(s.remoteVersion, "");
}

TEST(UpdaterSwap, FailedSwapLeavesTheOldLauncherAndNamesTheCause) {
  struct Case {
    const char* name;
    bool staged;
    bool holdTarget;  // open without delete sharing, as another program may hold it
    DWORD cause;
  } cases[] = {
      {"the staged file is gone", false, false, ERROR_FILE_NOT_FOUND},
      {"the launcher is held", true, true, ERROR_SHARING_VIOLATION},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::wstring target = dir.Join(L"Talvoreen Launcher.exe");
    const std::wstring staged = target + L".new";
    ASSERT_TRUE(WriteBytes(target, "old"));
    if (c.staged) {
      ASSERT_TRUE(WriteBytes(staged, "new"));
    }
    HANDLE held = c.holdTarget ? CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                             nullptr)
                               : INVALID_HANDLE_VALUE;
    std::wstring error;
    EXPECT_FALSE(LauncherUpdater::ApplyUpdate(staged, target, error)) << c.name;
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    EXPECT_EQ(error, L"Launcher güncellenemedi: " + WindowsErrorText(c.cause)) << c.name;
    EXPECT_EQ(ReadBytes(target), "old") << c.name;
    EXPECT_FALSE(FileExists(target + L".old")) << c.name;
  }
}

TEST(UpdaterSwap, CleanupGivesUpOnALockedOldFile) {
  TempDir dir;
  const std::wstring target = dir.Join(L"Talvoreen Launcher.exe");
  ASSERT_TRUE(WriteBytes(target + L".old", "still running"));
  ASSERT_TRUE(WriteBytes(target + L".new", "half staged"));
  HANDLE held = CreateFileW((target + L".old").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  LauncherUpdater::CleanupAfterUpdate(target);  // returns after its 20 tries
  EXPECT_TRUE(FileExists(target + L".old"));
  EXPECT_FALSE(FileExists(target + L".new"));
  CloseHandle(held);
}

TEST_F(UpdaterTest, HeadlessJobUpdatesTheInstalledLauncher) {
  Publish("0.5", "a newer launcher");
  auto run = [&](std::vector<std::wstring> extra) {
    std::vector<std::wstring> args = {L"--headless", L"launcher-update", L"--dir", dir.Join(L"install"), L"--cdn",
                                      server.Url("/base/")};
    args.insert(args.end(), extra.begin(), extra.end());
    return testing_support::RunProcess(testing_support::LauncherExePath(), args);
  };
  auto updated = run({});
  EXPECT_EQ(updated.output, "result updated remote 0.5\n");
  EXPECT_EQ(updated.exitCode, 0u);
  EXPECT_EQ(ReadBytes(target), "a newer launcher");

  Publish("0.4.21", "same");
  auto same = run({});
  EXPECT_EQ(same.output, "result up-to-date remote 0.4.21\n");
  EXPECT_EQ(same.exitCode, 0u);
  auto old = run({L"--test-old-version"});
  EXPECT_EQ(old.output, "result updated remote 0.4.21\n");
  EXPECT_EQ(ReadBytes(target), "same");
  // Nothing runs the replaced launcher, so nothing of the swap stays behind.
  EXPECT_FALSE(FileExists(target + L".old"));
  EXPECT_FALSE(FileExists(target + L".new"));

  ASSERT_TRUE(WriteBytes(JoinPath(cdn, L"launcher\\stable\\manifest.json"), "{}"));
  auto failed = run({});
  EXPECT_EQ(failed.exitCode, 1u);
  EXPECT_EQ(failed.output.rfind("result failed remote  error: ", 0), 0u) << failed.output;

  // A swap killed between its two moves left no launcher, only its ".old": even when the
  // CDN cannot help, the folder gets its launcher back.
  ASSERT_TRUE(MoveFileW(target.c_str(), (target + L".old").c_str()));
  auto recovered = run({});
  EXPECT_EQ(recovered.exitCode, 1u);
  EXPECT_EQ(ReadBytes(target), "same");
  EXPECT_FALSE(FileExists(target + L".old"));
}

}  // namespace
