// talvoreen-publish run in-process on real folders (natively and under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "manifest/chunking.h"
#include "manifest/envelope.h"
#include "manifest/json.h"
#include "manifest/manifest.h"
#include "tests/publish/publish_test_support.h"
#include "tests/support/signing.h"
#include "tools/publish/fileio.h"
#include "tools/publish/keys.h"
#include "tools/publish/objects.h"
#include "tools/publish/parallel.h"
#include "tools/publish/publish.h"

namespace fs = std::filesystem;

namespace {

using namespace publish_test;

TEST(PublishKeygen, WritesAnOwnerOnlyKeyAndPrintsThePublicKeyLast) {
  Folder dir;
  const PublishRun run = Publish({"keygen", dir.Text("release.key")});
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string publicKey = LastLine(run.out);
  EXPECT_EQ(publicKey.size(), 44u);
  publish::SigningKey key;
  std::string error;
  ASSERT_TRUE(publish::DecodePrivateKeyPem(Read(dir / "release.key"), key, error)) << error;
  EXPECT_EQ(publish::EncodeBase64(key.publicKey), publicKey);
#ifndef _WIN32
  const fs::perms perms = fs::status(dir / "release.key").permissions();
  EXPECT_EQ(perms & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
#endif
  const std::string before = Read(dir / "release.key");
  const PublishRun again = Publish({"keygen", dir.Text("release.key")});
  EXPECT_EQ(again.code, 1);
  EXPECT_NE(again.err.find("already exists"), std::string::npos) << again.err;
  EXPECT_EQ(Read(dir / "release.key"), before);
  // Two keys are never the same.
  ASSERT_EQ(Publish({"keygen", dir.Text("second.key")}).code, 0);
  EXPECT_NE(Read(dir / "second.key"), before);
}

TEST(PublishKeygen, TheDevelopmentPairMatches) {
  EXPECT_EQ(DevelopmentPublicKey() + "\n", testing_support::ReadSourceFile("keys/development.pub"));
}

TEST(PublishGame, WritesObjectsAndASignedManifestTheLauncherParses) {
  Folder source, cdn;
  MakeGameSource(source);
  const PublishRun run = Publish({"game", source.Text(), "--out", cdn.Text(), "--key", DevelopmentKeyFile(), "--build",
                                  "2026.12.1", "--min-launcher-version", "0.4.21", "--keep", "config/*.cfg"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("5 files"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("5 new objects"), std::string::npos) << run.out;

  const Manifest manifest = ReadGameManifest(cdn, DevelopmentPublicKey());
  EXPECT_EQ(manifest.build, "2026.12.1");
  EXPECT_EQ(manifest.channel, "stable");
  EXPECT_EQ(manifest.minLauncherVersion, "0.4.21");
  EXPECT_TRUE(manifest.required);
  EXPECT_FALSE(manifest.created.empty());
  ASSERT_EQ(manifest.files.size(), 5u);
  for (const ManifestFile& file : manifest.files) {
    const fs::path object = cdn / publish::ObjectPath(file.hash);
    ASSERT_TRUE(fs::is_regular_file(object)) << file.path;
    EXPECT_EQ(fs::file_size(object), file.zsize);
    std::string sha256, error;
    uint64_t size = 0;
    ASSERT_TRUE(publish::InflateObject(object, sha256, size, error)) << error;
    EXPECT_EQ(sha256, file.hash);
    EXPECT_EQ(size, file.size);
    EXPECT_EQ(Read(source / file.path).size(), file.size);
    EXPECT_EQ(file.keep, file.path == "config/user.cfg") << file.path;
  }
  EXPECT_EQ(manifest.files[0].path, "config/user.cfg");  // sorted
  EXPECT_EQ(manifest.totalSize, 5u + 0u + 8u + 10u + 2621457u);

  // Nothing changed: no new object. One file changed: one new object.
  const PublishRun again = Publish({"game", source.Text(), "--out", cdn.Text(), "--key", DevelopmentKeyFile(),
                                    "--build", "2026.12.2", "--optional"});
  ASSERT_EQ(again.code, 0) << again.err;
  EXPECT_NE(again.out.find("0 new objects"), std::string::npos) << again.out;
  EXPECT_FALSE(ReadGameManifest(cdn, DevelopmentPublicKey()).required);
  Write(source / "data/a.txt", "hello, again");
  const PublishRun third =
      Publish({"game", source.Text(), "--out", cdn.Text(), "--key", DevelopmentKeyFile(), "--build", "3"});
  ASSERT_EQ(third.code, 0) << third.err;
  EXPECT_NE(third.out.find("1 new objects"), std::string::npos) << third.out;

  const PublishRun verify = Publish({"verify", cdn.Text(), "--public-key", DevelopmentPublicKey()});
  EXPECT_EQ(verify.code, 0) << verify.out << verify.err;
}

// Publishes a folder holding the given files into cdn and expects a refusal whose message
// contains needle.
void ExpectGameRefused(const Folder& cdn, const std::vector<std::string>& files, const std::string& needle,
                       const std::vector<std::string>& extra = {}) {
  Folder source;
  for (const std::string& file : files) Write(source / file, file);
  std::vector<std::string> args = {"game",  source.Text(),        "--out",   cdn.Text(),
                                   "--key", DevelopmentKeyFile(), "--build", "b"};
  args.insert(args.end(), extra.begin(), extra.end());
  const PublishRun run = Publish(args);
  EXPECT_EQ(run.code, 1) << files.back();
  EXPECT_NE(run.err.find(needle), std::string::npos) << run.err;
}

TEST(PublishGame, RefusesWhatTheLauncherWouldRefuseAndWritesNothing) {
  Folder cdn;
  const std::string refused = "the launcher refuses this path";
  ExpectGameRefused(cdn, {"ok.txt", ".talvoreen/state.json"}, refused);
  ExpectGameRefused(cdn, {"ok.txt", ".TALVOREEN/x"}, refused);
  ExpectGameRefused(cdn, {"ok.txt"}, "matches no file", {"--keep", "nothing/*"});
#ifndef _WIN32
  // Names that a Windows file system cannot even hold.
  ExpectGameRefused(cdn, {"Data/a.txt", "data/A.TXT"}, "only in letter case");
  ExpectGameRefused(cdn, {"\xC5\x9E" "ehir.txt", "\xC5\x9F" "ehir.txt"}, "only in letter case");  // Şehir, şehir
  ExpectGameRefused(cdn, {"x/\xC3\x84.dat", "X/\xC3\xA4.dat"}, "only in letter case");            // Ä, ä
  for (const char* bad : {"aux.txt", "dir/com3", "name.", "trail /x", "a:b", "x\\y", "q?", "trailing "}) {
    ExpectGameRefused(cdn, {"ok.txt", bad}, refused);
  }
  ExpectGameRefused(cdn, {"bad\xFF.txt"}, "not UTF-8");
#endif
  EXPECT_FALSE(fs::exists(cdn / "game"));
}

// An object cut off by an interrupted earlier run is not published as it is: it is checked,
// found wrong and written again (unless --trust-existing says not to look).
TEST(PublishGame, ExistingObjectsAreCheckedBeforeReuse) {
  Folder source, cdn;
  MakeGameSource(source);
  const std::vector<std::string> args = {"game", source.Text(), "--out", cdn.Text(), "--key", DevelopmentKeyFile(),
                                         "--build", "1"};
  ASSERT_EQ(Publish(args).code, 0);
  const Manifest first = ReadGameManifest(cdn, DevelopmentPublicKey());
  const ManifestFile& big = first.files[3];
  ASSERT_EQ(big.path, "models/big.img");
  const fs::path object = cdn / publish::ObjectPath(big.hash);
  const std::string whole = Read(object);
  Write(object, whole.substr(0, whole.size() / 2));

  std::vector<std::string> trusting = args;
  trusting.push_back("--trust-existing");
  ASSERT_EQ(Publish(trusting).code, 0);
  EXPECT_EQ(fs::file_size(object), whole.size() / 2);
  EXPECT_EQ(Publish({"verify", cdn.Text(), "--public-key", DevelopmentPublicKey()}).code, 1);

  const PublishRun checked = Publish(args);
  ASSERT_EQ(checked.code, 0) << checked.err;
  EXPECT_NE(checked.err.find("does not hold this file; it is written again"), std::string::npos) << checked.err;
  EXPECT_NE(checked.out.find("1 new objects"), std::string::npos) << checked.out;
  EXPECT_EQ(Read(object), whole);
  EXPECT_EQ(ReadGameManifest(cdn, DevelopmentPublicKey()).files[3].zsize, whole.size());
  EXPECT_EQ(Publish({"verify", cdn.Text(), "--public-key", DevelopmentPublicKey()}).code, 0);
  for (const auto& entry : fs::recursive_directory_iterator(cdn / "game")) {
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

TEST(PublishGame, WarnsWhenAFileBecomesAFolderOrTheReverse) {
  Folder first, second, cdn;
  Write(first / "maps/city", "a file");
  Write(first / "sounds/engine.wav", "in a folder");
  Write(second / "maps/city/north.ipl", "now a folder");
  Write(second / "Sounds", "now a file");
  auto publish = [&](const Folder& source, const std::string& build) {
    return Publish({"game", source.Text(), "--out", cdn.Text(), "--key", DevelopmentKeyFile(), "--build", build});
  };
  const PublishRun one = publish(first, "1");
  ASSERT_EQ(one.code, 0) << one.err;
  EXPECT_EQ(one.err.find("warning"), std::string::npos) << one.err;
  const PublishRun two = publish(second, "2");
  ASSERT_EQ(two.code, 0) << two.err;
  EXPECT_NE(two.err.find("warning: maps/city was a file in build 1 and is a folder now"), std::string::npos) << two.err;
  EXPECT_NE(two.err.find("warning: sounds was a folder in build 1 and is a file now"), std::string::npos) << two.err;
}

TEST(PublishGame, BadCommandLines) {
  Folder source, cdn;
  Write(source / "a.txt", "1");
  EXPECT_EQ(Publish({}).code, 2);
  EXPECT_EQ(Publish({"frobnicate"}).code, 2);
  EXPECT_EQ(Publish({"game", source.Text(), "--out", cdn.Text(), "--key", DevelopmentKeyFile()}).code, 2);
  EXPECT_EQ(Publish({"game", source.Text(), "--out", cdn.Text(), "--key", DevelopmentKeyFile(), "--build", "b",
                     "--colour", "red"})
                .code,
            2);
  EXPECT_EQ(Publish({"game", source.Text(), "--out", cdn.Text(), "--key", DevelopmentKeyFile(), "--build"}).code, 2);
  EXPECT_EQ(Publish({"game", source.Text(), "--out", cdn.Text(), "--key", source.Text("a.txt"), "--build", "b"}).code,
            1);
  EXPECT_EQ(
      Publish({"game", source.Text("missing"), "--out", cdn.Text(), "--key", DevelopmentKeyFile(), "--build", "b"})
          .code,
      1);
  EXPECT_EQ(
      Publish({"game", source.Text(), "--out", source.Text("cdn"), "--key", DevelopmentKeyFile(), "--build", "b"}).code,
      1);
  EXPECT_EQ(Publish({"game", source.Text(), "--out", cdn.Text(), "--key", DevelopmentKeyFile(), "--build", "b",
                     "--min-launcher-version", "latest"})
                .code,
            1);
  for (const char* jobs : {"0", "65", "two"}) {
    EXPECT_EQ(Publish({"game", source.Text(), "--out", cdn.Text(), "--key", DevelopmentKeyFile(), "--build", "b",
                       "--jobs", jobs})
                  .code,
              2);
  }
  for (const char* bytes : {"0", "8589934593", "4M"}) {
    EXPECT_EQ(Publish({"game", source.Text(), "--out", cdn.Text(), "--key", DevelopmentKeyFile(), "--build", "b",
                       "--chunk-min-file", bytes})
                  .code,
              2);
    EXPECT_EQ(Publish({"verify", cdn.Text(), "--public-key", DevelopmentPublicKey(), "--chunk-min-file", bytes}).code,
              2);
  }
  EXPECT_EQ(Publish({"verify", cdn.Text(), "--public-key", DevelopmentPublicKey(), "--sample", "-1"}).code, 2);
  EXPECT_EQ(Publish({"help"}).code, 0);
  EXPECT_FALSE(fs::exists(cdn / "game"));
}

TEST(PublishLauncher, WritesTheLauncherManifestAndObject) {
  Folder dir, cdn;
  Write(dir / "Talvoreen Launcher.exe", std::string(70000, 'M'));
  const PublishRun run = Publish({"launcher", dir.Text("Talvoreen Launcher.exe"), "--out", cdn.Text(), "--key",
                                  DevelopmentKeyFile(), "--version", "0.4.22"});
  ASSERT_EQ(run.code, 0) << run.err;
  std::string payload;
  std::wstring error;
  ASSERT_TRUE(
      VerifyEnvelopeWithKey(Read(cdn / "launcher/stable/manifest.json"), DevelopmentPublicKey(), payload, error));
  LauncherManifest manifest;
  ASSERT_TRUE(ParseLauncherManifestDocument(payload, manifest, error));
  EXPECT_EQ(manifest.version, "0.4.22");
  EXPECT_EQ(manifest.file.path, "Talvoreen Launcher.exe");
  EXPECT_EQ(manifest.file.size, 70000u);
  EXPECT_EQ(fs::file_size(cdn / publish::ObjectPath(manifest.file.hash)), manifest.file.zsize);
  EXPECT_EQ(Publish({"verify", cdn.Text(), "--public-key", DevelopmentPublicKey()}).code, 0);

  Write(dir / "empty.exe", "");
  EXPECT_EQ(Publish({"launcher", dir.Text("empty.exe"), "--out", cdn.Text(), "--key", DevelopmentKeyFile(), "--version",
                     "0.4.23"})
                .code,
            1);
  EXPECT_EQ(Publish({"launcher", dir.Text("Talvoreen Launcher.exe"), "--out", cdn.Text(), "--key", DevelopmentKeyFile(),
                     "--version", "v1"})
                .code,
            1);
}

TEST(PublishVerify, RejectsTamperedTrees) {
  Folder source;
  MakeGameSource(source);
  auto publishTree = [&](const Folder& cdn) {
    ASSERT_EQ(Publish({"game", source.Text(), "--out", cdn.Text(), "--key", DevelopmentKeyFile(), "--build", "b"}).code,
              0);
    ASSERT_EQ(Publish({"verify", cdn.Text(), "--public-key", DevelopmentPublicKey()}).code, 0);
  };
  auto verify = [](const Folder& cdn, const std::string& key) {
    return Publish({"verify", cdn.Text(), "--public-key", key});
  };
  const Manifest manifest = [&] {
    Folder cdn;
    publishTree(cdn);
    return ReadGameManifest(cdn, DevelopmentPublicKey());
  }();
  ASSERT_EQ(manifest.files.size(), 5u);
  ASSERT_EQ(manifest.files[3].path, "models/big.img");
  const std::string bigHash = manifest.files[3].hash;

  {  // One byte of an object's compressed data changed, same size.
    Folder cdn;
    publishTree(cdn);
    const fs::path object = cdn / publish::ObjectPath(bigHash);
    std::string bytes = Read(object);
    bytes[bytes.size() / 2] ^= 0x20;
    Write(object, bytes);
    const PublishRun run = verify(cdn, DevelopmentPublicKey());
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.out.find("models/big.img"), std::string::npos) << run.out;
  }
  {  // An object replaced by another valid gzip object of another content.
    Folder cdn;
    publishTree(cdn);
    Write(cdn / publish::ObjectPath(bigHash), Read(cdn / publish::ObjectPath(manifest.files[1].hash)));
    EXPECT_EQ(verify(cdn, DevelopmentPublicKey()).code, 1);
  }
  {  // A missing object.
    Folder cdn;
    publishTree(cdn);
    fs::remove(cdn / publish::ObjectPath(bigHash));
    const PublishRun run = verify(cdn, DevelopmentPublicKey());
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.out.find("missing object"), std::string::npos) << run.out;
  }
  {  // The manifest's payload changed (a size edited and re-encoded) without a new signature.
    Folder cdn;
    publishTree(cdn);
    JsonPtr envelope = ParseJson(Read(cdn / "game/stable/manifest.json"));
    std::string payload, signature;
    ASSERT_TRUE(JsonGetString(envelope.get(), "payload", payload));
    ASSERT_TRUE(JsonGetString(envelope.get(), "signature", signature));
    std::string document;
    std::wstring error;
    ASSERT_TRUE(
        VerifyEnvelopeWithKey(Read(cdn / "game/stable/manifest.json"), DevelopmentPublicKey(), document, error));
    const size_t at = document.find("\"size\": 5");
    ASSERT_NE(at, std::string::npos);
    document.replace(at, 9, "\"size\": 6");
    Write(cdn / "game/stable/manifest.json", "{\"format\":\"talvoreen-signed-v1\",\"payload\":\"" +
                                                 publish::EncodeBase64(document) + "\",\"signature\":\"" + signature +
                                                 "\"}");
    const PublishRun run = verify(cdn, DevelopmentPublicKey());
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.out.find("imzas"), std::string::npos) << run.out;
  }
  {  // Another key.
    Folder cdn, keys;
    publishTree(cdn);
    const PublishRun keygen = Publish({"keygen", keys.Text("other.key")});
    ASSERT_EQ(keygen.code, 0);
    EXPECT_EQ(verify(cdn, LastLine(keygen.out)).code, 1);
    // The public key may also be given as a file.
    Write(keys / "dev.pub", DevelopmentPublicKey() + "\n");
    EXPECT_EQ(verify(cdn, keys.Text("dev.pub")).code, 0);
    EXPECT_EQ(verify(cdn, keys.Text("missing.pub")).code, 1);
  }
  {  // Nothing published at all.
    Folder empty;
    EXPECT_EQ(verify(empty, DevelopmentPublicKey()).code, 1);
  }
}

TEST(PublishClientFiles, OneResourcePerTopLevelFolderWithMd5) {
  Folder resources, out;
  Write(resources / "race/client/car.lua", "abc");
  Write(resources / "race/meta.xml", "");
  Write(resources / "hud/img/x.png", "png");
  const PublishRun run =
      Publish({"client-files", resources.Text(), "--out", out.Text("client-files.json"), "--download-url",
               "https://files.example.org/srv/", "--threads", "4", "--dos-threshold", "250"});
  ASSERT_EQ(run.code, 0) << run.err;
  JsonPtr root = ParseJson(Read(out / "client-files.json"));
  ASSERT_NE(root, nullptr);
  uint64_t number = 0;
  std::string text;
  EXPECT_TRUE(JsonGetUInt64(root.get(), "schema", number) && number == 1);
  EXPECT_TRUE(JsonGetString(root.get(), "httpDownloadUrl", text));
  EXPECT_EQ(text, "https://files.example.org/srv");
  EXPECT_TRUE(JsonGetUInt64(root.get(), "httpThreads", number) && number == 4);
  EXPECT_TRUE(JsonGetUInt64(root.get(), "httpDosThreshold", number) && number == 250);
  const std::string body = Read(out / "client-files.json");
  EXPECT_NE(body.find("\"name\": \"hud\""), std::string::npos);
  EXPECT_NE(body.find("\"path\": \"client/car.lua\""), std::string::npos);
  EXPECT_NE(body.find("900150983cd24fb0d6963f7d28e17f72"), std::string::npos);  // MD5 of "abc"
  EXPECT_NE(body.find("d41d8cd98f00b204e9800998ecf8427e"), std::string::npos);  // MD5 of ""
  EXPECT_LT(body.find("\"hud\""), body.find("\"race\""));

  EXPECT_EQ(Publish({"client-files", resources.Text(), "--out", out.Text("x.json"), "--threads", "1001"}).code, 1);
  EXPECT_EQ(Publish({"client-files", resources.Text(), "--out", out.Text("x.json"), "--dos-threshold", "-1"}).code, 1);
  EXPECT_EQ(
      Publish({"client-files", resources.Text(), "--out", out.Text("x.json"), "--download-url", "https://a/b?c"}).code,
      1);
  EXPECT_EQ(Publish({"client-files", resources.Text(), "--out", out.Text("x.json"), "--download-url", "ftp://a"}).code,
            1);
  Write(resources / "loose.txt", "not in a resource");
  EXPECT_EQ(Publish({"client-files", resources.Text(), "--out", out.Text("x.json")}).code, 1);
  EXPECT_FALSE(fs::exists(out / "x.json"));
}

// The phase times are the one line that may differ from run to run.
std::string WithoutPhases(const std::string& text) {
  std::istringstream lines(text);
  std::string line, kept;
  while (std::getline(lines, line)) {
    if (line.rfind("phases: ", 0) != 0) kept += line + "\n";
  }
  return kept;
}

// Files that share their content with an earlier one, and more files than threads, so that
// the threads finish out of list order; the time stamp of the manifest is fixed.
TEST(PublishParallel, OutputIsTheSameOnAnyNumberOfThreads) {
  Folder source, resources;
  MakeGameSource(source);
  Write(source / "models/big.img", NoiseBytes(2621440 + 17, 3));  // in more than one chunk
  for (int i = 0; i < 12; ++i) Write(source / ("many/f" + std::to_string(i)), std::string(i * 40000, 'a' + i % 3));
  Write(source / "zz/copy-of-big.img", Read(source / "models/big.img"));
  Write(source / "aa/copy-of-a.txt", "hello");
  Write(resources / "race/client/car.lua", "abc");
  Write(resources / "race/empty.xml", "");
  Write(resources / "empty-resource/.keep/x", "x");
  for (int i = 0; i < 12; ++i) Write(resources / ("hud/f" + std::to_string(i)), std::string(i * 30000, 'h'));
  std::vector<PublishRun> games, lists;
  std::vector<std::map<std::string, std::string>> trees;
  for (const char* jobs : {"1", "3"}) {
    FixedPublishClock clock;
    Folder cdn, out;
    // big.img and its copy in chunks as well.
    games.push_back(Publish({"game", source.Text(), "--out", cdn.Text(), "--key", DevelopmentKeyFile(), "--build",
                             "b1", "--jobs", jobs, "--chunk-min-file", "1048576"}));
    ASSERT_EQ(games.back().code, 0) << games.back().err;
    lists.push_back(Publish({"client-files", resources.Text(), "--out", cdn.Text("client-files.json"), "--jobs", jobs}));
    ASSERT_EQ(lists.back().code, 0) << lists.back().err;
    EXPECT_NE(lists.back().err.find("phases: listing"), std::string::npos) << lists.back().err;
    trees.push_back(TreeBytes(cdn));
  }
  EXPECT_EQ(trees[1], trees[0]);  // manifest, objects, chunk list and file list, byte for byte
  ChunkList list;
  std::wstring listError;
  const auto listed = std::find_if(trees[0].begin(), trees[0].end(),
                                   [](const auto& file) { return file.first.rfind("game/chunks/", 0) == 0; });
  ASSERT_NE(listed, trees[0].end());
  ASSERT_TRUE(ParseChunkList(listed->second, list, listError));
  EXPECT_GE(list.chunks.size(), 2u);
  // 19 game files, three of them copies, the chunks of one, its chunk list, and the two lists.
  EXPECT_EQ(trees[0].size(), 16 + list.chunks.size() + 1 + 2u);
  std::string payload;
  std::wstring error;
  ASSERT_TRUE(VerifyEnvelopeWithKey(trees[0]["game/stable/manifest.json"], DevelopmentPublicKey(), payload, error));
  EXPECT_NE(payload.find("\"2026-12-07T00:00:00Z\""), std::string::npos);
  // Up to the folder they name, which differs.
  const auto summary = [](const std::string& out) { return out.substr(0, std::min(out.find('\n'), out.rfind(" in "))); };
  for (size_t i = 0; i < games.size(); ++i) {
    EXPECT_EQ(summary(games[i].out), summary(games[0].out));
    EXPECT_EQ(WithoutPhases(games[i].err), WithoutPhases(games[0].err));
    EXPECT_EQ(summary(lists[i].out), summary(lists[0].out));
  }
  EXPECT_NE(games[0].out.find("16 new objects"), std::string::npos) << games[0].out;
  EXPECT_NE(games[0].err.find("zz/copy-of-big.img: 2.5 MiB, object already published"), std::string::npos);
  EXPECT_NE(games[0].err.find("phases: listing"), std::string::npos) << games[0].err;

  // One large file: the threads share out its chunks, a window of them at a time.
  Folder one;
  Write(one / "big.pak", NoiseBytes(12 * 1048576, 11));
  std::vector<std::map<std::string, std::string>> oneTrees;
  for (const char* jobs : {"1", "2"}) {
    FixedPublishClock clock;
    Folder cdn;
    ASSERT_EQ(Publish({"game", one.Text(), "--out", cdn.Text(), "--key", DevelopmentKeyFile(), "--build", "b1",
                       "--jobs", jobs})
                  .code,
              0);
    const PublishRun verify = Publish({"verify", cdn.Text(), "--public-key", DevelopmentPublicKey()});
    EXPECT_EQ(verify.code, 0) << verify.out;
    oneTrees.push_back(TreeBytes(cdn));
  }
  EXPECT_EQ(oneTrees[1], oneTrees[0]);
  EXPECT_GT(oneTrees[0].size(), 2 + 8u);  // more chunks than one window of two threads
}

// What the publisher's commands build on: results in list order however the threads finish.
TEST(PublishParallel, ForEachInOrderSettlesInListOrder) {
  std::mutex mutex;
  std::condition_variable changed;
  size_t finished = 0;
  std::vector<size_t> settled;
  // Item 0 waits until every other item has finished, so it finishes last of all.
  const auto work = [&](size_t i) {
    std::unique_lock<std::mutex> lock(mutex);
    if (i == 0) changed.wait_for(lock, std::chrono::seconds(30), [&] { return finished == 5; });
    ++finished;
    changed.notify_all();
  };
  EXPECT_TRUE(publish::ForEachInOrder(6, 6, work, [&](size_t i) {
    settled.push_back(i);
    return true;
  }));
  EXPECT_EQ(finished, 6u);
  EXPECT_EQ(settled, (std::vector<size_t>{0, 1, 2, 3, 4, 5}));

  // A refusal stops the work: nothing settles after it.
  settled.clear();
  EXPECT_FALSE(publish::ForEachInOrder(
      1000, 2, [](size_t) {},
      [&](size_t i) {
        settled.push_back(i);
        return i < 3;
      }));
  EXPECT_EQ(settled, (std::vector<size_t>{0, 1, 2, 3}));

  // An exception of an item comes out in that item's turn.
  settled.clear();
  EXPECT_THROW(publish::ForEachInOrder(
                   5, 3,
                   [](size_t i) {
                     if (i == 2) throw std::runtime_error("disk gone");
                   },
                   [&](size_t i) {
                     settled.push_back(i);
                     return true;
                   }),
               std::runtime_error);
  EXPECT_EQ(settled, (std::vector<size_t>{0, 1}));
}

TEST(MatchKeepPattern, GlobsWithinAndAcrossFolders) {
  using publish::MatchKeepPattern;
  EXPECT_TRUE(MatchKeepPattern("config/*.cfg", "config/user.cfg"));
  EXPECT_TRUE(MatchKeepPattern("config/*.cfg", "CONFIG/User.CFG"));
  EXPECT_FALSE(MatchKeepPattern("config/*.cfg", "config/sub/user.cfg"));
  EXPECT_TRUE(MatchKeepPattern("config/**", "config/sub/user.cfg"));
  EXPECT_TRUE(MatchKeepPattern("**/settings.xml", "settings.xml"));
  EXPECT_TRUE(MatchKeepPattern("**/settings.xml", "a/b/settings.xml"));
  EXPECT_TRUE(MatchKeepPattern("user?.cfg", "user1.cfg"));
  EXPECT_FALSE(MatchKeepPattern("user?.cfg", "user12.cfg"));
  EXPECT_FALSE(MatchKeepPattern("a?b", "a/b"));
  EXPECT_TRUE(MatchKeepPattern("exact.txt", "exact.txt"));
  EXPECT_FALSE(MatchKeepPattern("exact.txt", "exact.txt2"));
  EXPECT_TRUE(MatchKeepPattern("*", "top.txt"));
  EXPECT_FALSE(MatchKeepPattern("*", "dir/top.txt"));
}

}  // namespace
