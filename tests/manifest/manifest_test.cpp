#include <gtest/gtest.h>

#include "manifest/manifest.h"
#include "tests/support/signing.h"

namespace {

const std::wstring kIncompatible = L"Bu güncelleme bu launcher sürümüyle uyumlu değil";
const std::wstring kUnreadable = L"Güncelleme bilgisi okunamadı";
const std::wstring kLauncherUnreadable = L"Launcher güncelleme bilgisi okunamadı";
const std::wstring kBadSignature = L"Güncelleme imzası geçersiz; dosyalar indirilmedi";

const std::string kHashA = std::string(64, 'a');
const std::string kHashB = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::string Entry(const std::string& path, const std::string& size = "1", const std::string& sha = "",
                  const std::string& zsize = "1", const std::string& extra = "") {
  return "{\"path\":\"" + path + "\",\"size\":" + size + ",\"sha256\":\"" + (sha.empty() ? kHashA : sha) +
         "\",\"zsize\":" + zsize + extra + "}";
}

std::string Game(const std::string& files, const std::string& extra = "",
                 const std::string& head = "\"schema\":1,\"product\":\"Talvoreen\"") {
  return "{" + head + ",\"build\":\"b7\",\"files\":[" + files + "]" + extra + "}";
}

bool ParseGame(const std::string& document, Manifest& out, std::wstring& error) {
  return ParseGameManifestDocument(document, out, error);
}

void ExpectGameFails(const std::string& document, const std::wstring& text) {
  Manifest out;
  out.build = "previous";
  std::wstring error;
  EXPECT_FALSE(ParseGame(document, out, error)) << document;
  EXPECT_EQ(error, text) << document;
  EXPECT_EQ(out.build, "previous");  // untouched on failure
}

TEST(GameManifest, ParsesEveryField) {
  Manifest out;
  std::wstring error = L"x";
  ASSERT_TRUE(ParseGame(
      Game(Entry("data/a.txt", "5", kHashB, "25") + "," + Entry("cfg/user.cfg", "3", kHashA, "9", ",\"keep\":true") +
               "," + Entry("x.bin", "8589934592", kHashA, "0", ",\"keep\":1"),
           ",\"channel\":\"stable\",\"created\":\"2026-01-02T03:04:05Z\",\"minLauncherVersion\":\"0.4.2\","
           "\"required\":false,\"unknown\":{\"x\":[1,2]}"),
      out, error));
  EXPECT_EQ(error, L"");
  EXPECT_EQ(out.channel, "stable");
  EXPECT_EQ(out.build, "b7");
  EXPECT_EQ(out.created, "2026-01-02T03:04:05Z");
  EXPECT_EQ(out.minLauncherVersion, "0.4.2");
  EXPECT_FALSE(out.required);
  ASSERT_EQ(out.files.size(), 3u);
  EXPECT_EQ(out.files[0].path, "data/a.txt");
  EXPECT_EQ(out.files[0].size, 5u);
  EXPECT_EQ(out.files[0].hash, kHashB);
  EXPECT_EQ(out.files[0].zsize, 25u);
  EXPECT_FALSE(out.files[0].keep);
  EXPECT_TRUE(out.files[1].keep);
  EXPECT_FALSE(out.files[2].keep);  // not a boolean
  EXPECT_FALSE(out.files[2].serverFile);
  EXPECT_EQ(out.totalSize, 5u + 3u + 8589934592ull);
}

TEST(GameManifest, EmptyFileListParses) {
  Manifest out;
  out.files.resize(3);
  std::wstring error;
  ASSERT_TRUE(ParseGame(Game(""), out, error));
  EXPECT_EQ(out.totalSize, 0u);
  EXPECT_TRUE(out.files.empty());
  EXPECT_TRUE(out.required);
  EXPECT_EQ(out.channel, "");
}

TEST(GameManifest, RequiredIsOnlyTakenAsABoolean) {
  Manifest out;
  std::wstring error;
  ASSERT_TRUE(ParseGame(Game("", ",\"required\":0"), out, error));
  EXPECT_TRUE(out.required);
  ASSERT_TRUE(ParseGame(Game("", ",\"required\":\"false\""), out, error));
  EXPECT_TRUE(out.required);
  ASSERT_TRUE(ParseGame(Game("", ",\"required\":null"), out, error));
  EXPECT_TRUE(out.required);
  ASSERT_TRUE(ParseGame(Game("", ",\"required\":false"), out, error));
  EXPECT_FALSE(out.required);
  ASSERT_TRUE(ParseGame(Game("", ",\"required\":true"), out, error));
  EXPECT_TRUE(out.required);
}

TEST(GameManifest, SchemaAndProductErrorsSayIncompatible) {
  ExpectGameFails(Game("", "", "\"schema\":2,\"product\":\"Talvoreen\""), kIncompatible);
  ExpectGameFails(Game("", "", "\"schema\":1.0,\"product\":\"Talvoreen\""), kIncompatible);
  ExpectGameFails(Game("", "", "\"schema\":\"1\",\"product\":\"Talvoreen\""), kIncompatible);
  ExpectGameFails(Game("", "", "\"product\":\"Talvoreen\",\"x\":0"), kIncompatible);
  ExpectGameFails(Game("", "", "\"schema\":1,\"product\":\"talvoreen\""), kIncompatible);
  ExpectGameFails(Game("", "", "\"schema\":1,\"product\":\"TalvoreenLauncher\""), kIncompatible);
  ExpectGameFails(Game("", "", "\"schema\":1,\"x\":0"), kIncompatible);
  ExpectGameFails("not json", kIncompatible);
  ExpectGameFails("[1,2,3]", kIncompatible);
  ExpectGameFails("", kIncompatible);
  // Only strict JSON, and nothing after it; a refused entry does not hide a wrong schema.
  ExpectGameFails(Game("") + "x", kIncompatible);
  ExpectGameFails(Game(Entry("a") + ","), kIncompatible);
  ExpectGameFails(Game(Entry("../x"), ",\"schema\":2"), kIncompatible);
  ExpectGameFails(Game(Entry("a"), ",\"product\":null"), kIncompatible);
}

TEST(GameManifest, BuildAndFilesErrorsSayUnreadable) {
  ExpectGameFails("{\"schema\":1,\"product\":\"Talvoreen\",\"files\":[]}", kUnreadable);
  ExpectGameFails("{\"schema\":1,\"product\":\"Talvoreen\",\"build\":\"\",\"files\":[]}", kUnreadable);
  ExpectGameFails("{\"schema\":1,\"product\":\"Talvoreen\",\"build\":7,\"files\":[]}", kUnreadable);
  ExpectGameFails("{\"schema\":1,\"product\":\"Talvoreen\",\"build\":\"b\"}", kUnreadable);
  ExpectGameFails("{\"schema\":1,\"product\":\"Talvoreen\",\"build\":\"b\",\"files\":{}}", kUnreadable);
  ExpectGameFails(Game("1"), kUnreadable);
  ExpectGameFails(Game("\"data/a.txt\""), kUnreadable);
  ExpectGameFails(Game("null"), kUnreadable);
  ExpectGameFails(Game("[" + Entry("a") + "]"), kUnreadable);
  ExpectGameFails(Game(Entry("a") + ",{}"), kUnreadable);
}

// Members of an object count as their last occurrence, whatever the order: a later "files"
// replaces an earlier one, refused or not, and a later member of an entry replaces the earlier.
TEST(GameManifest, RepeatedMembersCountAsTheLastOne) {
  Manifest out;
  std::wstring error;
  ASSERT_TRUE(ParseGame("{\"files\":[" + Entry("../bad") + "],\"build\":7,\"schema\":1,\"build\":\"b\"," +
                            "\"product\":\"Talvoreen\",\"files\":[" +
                            Entry("a", "1", kHashA, "1", ",\"path\":\"b/c\",\"size\":2,\"keep\":true,\"keep\":1") +
                            "," + Entry("x", "3") + "],\"required\":false,\"required\":0,\"channel\":\"x\",\"channel\":5}",
                        out, error));
  EXPECT_EQ(out.build, "b");
  EXPECT_TRUE(out.required);
  EXPECT_EQ(out.channel, "");
  ASSERT_EQ(out.files.size(), 2u);
  EXPECT_EQ(out.files[0].path, "b/c");
  EXPECT_EQ(out.files[0].size, 2u);
  EXPECT_FALSE(out.files[0].keep);
  EXPECT_EQ(out.totalSize, 5u);
  ExpectGameFails(Game(Entry("a", "1", kHashA, "1", ",\"path\":\"../x\"")), kUnreadable);
  ExpectGameFails(Game(Entry("a"), ",\"files\":[" + Entry("x") + "," + Entry("X") + "]"), kUnreadable);
  ExpectGameFails(Game(Entry("a"), ",\"build\":\"\""), kUnreadable);
  // A NUL byte inside a text is part of it, not its end.
  ExpectGameFails(Game(Entry("a\\u0000b")), kUnreadable);
  ExpectGameFails(Game("", "", "\"schema\":1,\"product\":\"Talvoreen\\u0000x\""), kIncompatible);
}

TEST(GameManifest, EveryUnsafePathFailsTheManifest) {
  for (const char* path : {"../x", "a/./b", "a/b.", "a/b ", "nul", "x/aux.dat", "a:b", "a\\\\b", "/abs", ".TALVOREEN/x",
                           "a//b", "CON", "con.txt", "Lpt1.log", "a/b/", ""}) {
    ExpectGameFails(Game(Entry("ok.txt") + "," + Entry(path)), kUnreadable);
  }
  for (const char* path : {"data/readme.txt", ".talvoreen2/x", "x/.talvoreen/y", "console", "com10"}) {
    Manifest out;
    std::wstring error;
    EXPECT_TRUE(ParseGame(Game(Entry(path)), out, error)) << path;
  }
  ExpectGameFails(Game(Entry(std::string(241, 'a'))), kUnreadable);
  Manifest out;
  std::wstring error;
  EXPECT_TRUE(ParseGame(Game(Entry(std::string(240, 'a'))), out, error));
}

TEST(GameManifest, DuplicatesThatDifferInCaseFail) {
  ExpectGameFails(Game(Entry("Data/a.txt") + "," + Entry("data/A.TXT")), kUnreadable);
  ExpectGameFails(Game(Entry("x") + "," + Entry("x")), kUnreadable);
  Manifest out;
  std::wstring error;
  // Letters beyond ASCII fold as Windows folds them: Ü/ü, Ş/ş, Ä/ä are one file each.
  ExpectGameFails(Game(Entry("\xC3\x9C.txt") + "," + Entry("\xC3\xBC.txt")), kUnreadable);
  ExpectGameFails(Game(Entry("\xC5\x9E" "ehir.txt") + "," + Entry("\xC5\x9F" "ehir.txt")), kUnreadable);
  ExpectGameFails(Game(Entry("d/\xC3\x84.dat") + "," + Entry("D/\xC3\xA4.DAT")), kUnreadable);
  // Upper-casing keeps İ and i apart (i becomes I), and a path that is not UTF-8 fails.
  EXPECT_TRUE(ParseGame(Game(Entry("\xC4\xB0.txt") + "," + Entry("i.txt")), out, error));
  ExpectGameFails(Game(Entry("ok.txt") + "," + Entry("bad\xFF.txt")), kUnreadable);
  // A path that is a folder of another is the same clash, in either order.
  ExpectGameFails(Game(Entry("lib") + "," + Entry("LIB/core.dll")), kUnreadable);
  ExpectGameFails(Game(Entry("lib/core.dll") + "," + Entry("lib")), kUnreadable);
  EXPECT_TRUE(ParseGame(Game(Entry("lib/a") + "," + Entry("lib/b") + "," + Entry("libx")), out, error));
}

TEST(GameManifest, SizeBounds) {
  Manifest out;
  std::wstring error;
  EXPECT_TRUE(ParseGame(Game(Entry("a", "8589934592", kHashA, "8589934592")), out, error));
  EXPECT_TRUE(ParseGame(Game(Entry("a", "0", kHashA, "0")), out, error));
  for (const char* size : {"8589934593", "-1", "1.0", "1e3", "\"5\"", "true", "null", "18446744073709551615"}) {
    ExpectGameFails(Game(Entry("a", size)), kUnreadable);
    ExpectGameFails(Game(Entry("a", "1", kHashA, size)), kUnreadable);
  }
  ExpectGameFails(Game("{\"path\":\"a\",\"sha256\":\"" + kHashA + "\",\"zsize\":1}"), kUnreadable);
  ExpectGameFails(Game("{\"path\":\"a\",\"size\":1,\"sha256\":\"" + kHashA + "\"}"), kUnreadable);
}

TEST(GameManifest, HashMustBeLowerCaseSixtyFourDigits) {
  ExpectGameFails(Game(Entry("a", "1", std::string(64, 'A'))), kUnreadable);
  ExpectGameFails(Game(Entry("a", "1", std::string(63, 'a'))), kUnreadable);
  ExpectGameFails(Game(Entry("a", "1", std::string(65, 'a'))), kUnreadable);
  ExpectGameFails(Game("{\"path\":\"a\",\"size\":1,\"hash\":\"" + kHashA + "\",\"zsize\":1}"), kUnreadable);
}

TEST(GameManifest, TheSignedEnvelopeComesFirst) {
  const std::string document = Game(Entry("data/a.txt"));
  Manifest out;
  std::wstring error;
  EXPECT_FALSE(ParseGameManifest(document, out, error));  // not an envelope
  EXPECT_EQ(error, kUnreadable);

  publish::SigningKey other;
  publish::SigningKeyFromSeed(std::string(32, '\x01'), other);
  EXPECT_FALSE(ParseGameManifest(testing_support::SignedEnvelope(other, document), out, error));
  EXPECT_EQ(error, kBadSignature);

  if (!testing_support::BuiltWithDevelopmentKey()) GTEST_SKIP() << "built with a key other than keys/development.pub";
  const publish::SigningKey key = testing_support::DevelopmentKey();
  ASSERT_TRUE(ParseGameManifest(testing_support::SignedEnvelope(key, document), out, error));
  EXPECT_EQ(out.files.size(), 1u);
  EXPECT_EQ(error, L"");
  EXPECT_FALSE(ParseGameManifest(testing_support::SignedEnvelope(key, Game("", "", "\"schema\":2")), out, error));
  EXPECT_EQ(error, kIncompatible);
  EXPECT_FALSE(ParseGameManifest(testing_support::SignedEnvelope(key, Game(Entry("../x"))), out, error));
  EXPECT_EQ(error, kUnreadable);
}

std::string Launcher(
    const std::string& file,
    const std::string& head = "\"schema\":1,\"product\":\"TalvoreenLauncher\",\"version\":\"0.4.22\"") {
  return "{" + head + ",\"file\":" + file + "}";
}

std::string LauncherFile(const std::string& size, const std::string& sha = "", const std::string& zsize = "10") {
  return "{\"path\":\"Talvoreen Launcher.exe\",\"size\":" + size + ",\"sha256\":\"" + (sha.empty() ? kHashB : sha) +
         "\",\"zsize\":" + zsize + "}";
}

void ExpectLauncherFails(const std::string& document) {
  LauncherManifest out;
  out.version = "previous";
  std::wstring error;
  EXPECT_FALSE(ParseLauncherManifestDocument(document, out, error)) << document;
  EXPECT_EQ(error, kLauncherUnreadable) << document;
  EXPECT_EQ(out.version, "previous");
}

TEST(LauncherManifest, ParsesAndChecksItsRules) {
  LauncherManifest out;
  std::wstring error = L"x";
  ASSERT_TRUE(ParseLauncherManifestDocument(Launcher(LauncherFile("67108864")), out, error));
  EXPECT_EQ(error, L"");
  EXPECT_EQ(out.version, "0.4.22");
  EXPECT_EQ(out.file.path, "Talvoreen Launcher.exe");
  EXPECT_EQ(out.file.size, 67108864u);
  EXPECT_EQ(out.file.hash, kHashB);
  EXPECT_EQ(out.file.zsize, 10u);
  EXPECT_FALSE(out.file.keep);
  ASSERT_TRUE(ParseLauncherManifestDocument(Launcher(LauncherFile("1", kHashA, "0")), out, error));

  ExpectLauncherFails(Launcher(LauncherFile("0")));
  ExpectLauncherFails(Launcher(LauncherFile("67108865")));
  ExpectLauncherFails(Launcher(LauncherFile("1.0")));
  ExpectLauncherFails(Launcher(LauncherFile("5", std::string(64, 'F'))));
  ExpectLauncherFails(Launcher(LauncherFile("5", kHashA, "-1")));
  ExpectLauncherFails(Launcher(LauncherFile("5", kHashA, "2.5")));
  ExpectLauncherFails(Launcher("{\"size\":5,\"sha256\":\"" + kHashA + "\",\"zsize\":1}"));
  ExpectLauncherFails(Launcher("[]"));
  ExpectLauncherFails(Launcher(LauncherFile("5"), "\"schema\":2,\"product\":\"TalvoreenLauncher\",\"version\":\"1\""));
  ExpectLauncherFails(Launcher(LauncherFile("5"), "\"schema\":1,\"product\":\"Talvoreen\",\"version\":\"1\""));
  ExpectLauncherFails(Launcher(LauncherFile("5"), "\"schema\":1,\"product\":\"TalvoreenLauncher\",\"version\":\"\""));
  ExpectLauncherFails(Launcher(LauncherFile("5"), "\"schema\":1,\"product\":\"TalvoreenLauncher\",\"version\":1"));
  ExpectLauncherFails("{\"schema\":1,\"product\":\"TalvoreenLauncher\",\"version\":\"1\"}");
  ExpectLauncherFails("<html></html>");
}

TEST(LauncherManifest, EnvelopeErrorsKeepTheirText) {
  LauncherManifest out;
  std::wstring error;
  EXPECT_FALSE(ParseLauncherManifest("<html>", out, error));
  EXPECT_EQ(error, kUnreadable);
  if (!testing_support::BuiltWithDevelopmentKey()) GTEST_SKIP() << "built with a key other than keys/development.pub";
  const publish::SigningKey key = testing_support::DevelopmentKey();
  ASSERT_TRUE(ParseLauncherManifest(testing_support::SignedEnvelope(key, Launcher(LauncherFile("5"))), out, error));
  EXPECT_EQ(error, L"");
  EXPECT_FALSE(ParseLauncherManifest(testing_support::SignedEnvelope(key, Launcher(LauncherFile("0"))), out, error));
  EXPECT_EQ(error, kLauncherUnreadable);
}

}  // namespace
