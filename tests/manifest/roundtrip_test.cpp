// Publisher to launcher round trip under Wine: the Windows build of talvoreen-publish runs as
// a child process (zlib, Ed25519 signing) and the launcher's own code (Crypt32 base64,
// Crypto++ verification, its inflating and hashing) must accept what it wrote.
#include <gtest/gtest.h>
#include <zlib.h>

#include "base/files.h"
#include "base/text.h"
#include "manifest/envelope.h"
#include "manifest/hashing.h"
#include "manifest/manifest.h"
#include "tests/support/signing.h"
#include "tests/support/test_support.h"

using testing_support::ProcessResult;
using testing_support::ReadBytes;
using testing_support::RunProcess;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

std::wstring PublisherExe() { return testing_support::TestFile(L"publish\\talvoreen-publish.exe"); }
std::wstring DevelopmentKeyFile() { return testing_support::TestFile(L"keys\\development.key"); }

ProcessResult Publish(const std::vector<std::wstring>& args) { return RunProcess(PublisherExe(), args); }

std::string LastLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text.substr(text.find_last_of('\n') + 1);
}

// Inflates a gzip object the way the object download does and digests the content.
bool InflateAndHash(const std::string& gz, std::string& hex, uint64_t& size) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) return false;
  Hasher hasher(kHashSha256);
  std::vector<unsigned char> out(262144);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
  stream.avail_in = static_cast<uInt>(gz.size());
  size = 0;
  int result = Z_OK;
  do {
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    result = inflate(&stream, Z_NO_FLUSH);
    const size_t produced = out.size() - stream.avail_out;
    hasher.Update(out.data(), produced);
    size += produced;
  } while (result == Z_OK);
  inflateEnd(&stream);
  hex = hasher.FinishHex();
  return result == Z_STREAM_END;
}

std::string ObjectPathOf(const std::string& hash) {
  return "game\\objects\\" + hash.substr(0, 2) + "\\" + hash + ".gz";
}

void MakeSource(const TempDir& source) {
  CreateDirectoryTree(source.Join(L"data\\sub"));
  CreateDirectoryTree(source.Join(L"veri"));
  CreateDirectoryTree(source.Join(L"config"));
  ASSERT_TRUE(WriteBytes(source.Join(L"data\\a.txt"), "hello"));
  ASSERT_TRUE(WriteBytes(source.Join(L"empty.bin"), ""));
  ASSERT_TRUE(WriteBytes(source.Join(L"config\\user.cfg"), "volume=3"));
  ASSERT_TRUE(WriteBytes(source.Join(L"veri\\\u015Fehir \u011F.txt"), "utf-8 name"));
  std::string big(2621440 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
  ASSERT_TRUE(WriteBytes(source.Join(L"data\\sub\\big.img"), big));
}

void CheckPublishedTree(const TempDir& source, const TempDir& cdn, const Manifest& manifest) {
  ASSERT_EQ(manifest.files.size(), 5u);
  bool sawUtf8 = false;
  for (const ManifestFile& file : manifest.files) {
    const std::wstring object = cdn.Join(WideFromUtf8(ObjectPathOf(file.hash)));
    const std::string gz = ReadBytes(object);
    EXPECT_EQ(gz.size(), file.zsize) << file.path;
    std::string hex;
    uint64_t size = 0;
    ASSERT_TRUE(InflateAndHash(gz, hex, size)) << file.path;
    EXPECT_EQ(hex, file.hash) << file.path;
    EXPECT_EQ(size, file.size) << file.path;
    std::string onDisk;
    ASSERT_TRUE(HashFile(kHashSha256, source.Join(WideFromUtf8(file.path)), onDisk, nullptr, nullptr)) << file.path;
    EXPECT_EQ(onDisk, file.hash) << file.path;
    EXPECT_EQ(file.keep, file.path == "config/user.cfg");
    sawUtf8 = sawUtf8 || file.path ==
                             "veri/\xC5\x9F"
                             "ehir \xC4\x9F.txt";
  }
  EXPECT_TRUE(sawUtf8);
}

TEST(PublishRoundTrip, AFreshKeyAndATreeTheLauncherAccepts) {
  TempDir source, cdn, keys;
  MakeSource(source);
  const ProcessResult keygen = Publish({L"keygen", keys.Join(L"release.key")});
  ASSERT_TRUE(keygen.started);
  ASSERT_EQ(keygen.exitCode, 0u) << keygen.output;
  const std::string publicKey = LastLine(keygen.output);
  ASSERT_EQ(publicKey.size(), 44u) << keygen.output;

  const ProcessResult game = Publish({L"game", source.Path(), L"--out", cdn.Path(), L"--key", keys.Join(L"release.key"),
                                      L"--build", L"rt-1", L"--keep", L"config/*.cfg"});
  ASSERT_EQ(game.exitCode, 0u) << game.output;

  std::string payload;
  std::wstring error;
  ASSERT_TRUE(VerifyEnvelopeWithKey(ReadBytes(cdn.Join(L"game\\stable\\manifest.json")), publicKey, payload, error));
  Manifest manifest;
  ASSERT_TRUE(ParseGameManifestDocument(payload, manifest, error)) << Utf8FromWide(error);
  EXPECT_EQ(manifest.build, "rt-1");
  CheckPublishedTree(source, cdn, manifest);

  // The compiled-in key is not this one.
  Manifest viaCompiledKey;
  if (publicKey != SigningPublicKey()) {
    EXPECT_FALSE(ParseGameManifest(ReadBytes(cdn.Join(L"game\\stable\\manifest.json")), viaCompiledKey, error));
    EXPECT_EQ(error, L"Güncelleme imzası geçersiz; dosyalar indirilmedi");
  }
}

TEST(PublishRoundTrip, TheDevelopmentKeyMatchesTheCompiledInKey) {
  if (!testing_support::BuiltWithDevelopmentKey()) GTEST_SKIP() << "built with a key other than keys/development.pub";
  TempDir source, cdn;
  MakeSource(source);
  const ProcessResult game =
      Publish({L"game", source.Path(), L"--out", cdn.Path(), L"--key", DevelopmentKeyFile(), L"--build", L"dev-1",
               L"--keep", L"config/*.cfg", L"--min-launcher-version", L"0.4.21", L"--optional"});
  ASSERT_EQ(game.exitCode, 0u) << game.output;
  Manifest manifest;
  std::wstring error;
  ASSERT_TRUE(ParseGameManifest(ReadBytes(cdn.Join(L"game\\stable\\manifest.json")), manifest, error))
      << Utf8FromWide(error);
  EXPECT_EQ(manifest.minLauncherVersion, "0.4.21");
  EXPECT_FALSE(manifest.required);
  CheckPublishedTree(source, cdn, manifest);

  // The launcher manifest, with the publisher's own executable standing in for the launcher.
  const ProcessResult launcher = Publish(
      {L"launcher", PublisherExe(), L"--out", cdn.Path(), L"--key", DevelopmentKeyFile(), L"--version", L"0.4.22"});
  ASSERT_EQ(launcher.exitCode, 0u) << launcher.output;
  LauncherManifest launcherManifest;
  ASSERT_TRUE(ParseLauncherManifest(ReadBytes(cdn.Join(L"launcher\\stable\\manifest.json")), launcherManifest, error))
      << Utf8FromWide(error);
  EXPECT_EQ(launcherManifest.version, "0.4.22");
  std::string exeHash;
  ASSERT_TRUE(HashFile(kHashSha256, PublisherExe(), exeHash, nullptr, nullptr));
  EXPECT_EQ(launcherManifest.file.hash, exeHash);
  std::string hex;
  uint64_t size = 0;
  ASSERT_TRUE(InflateAndHash(ReadBytes(cdn.Join(WideFromUtf8(ObjectPathOf(exeHash)))), hex, size));
  EXPECT_EQ(hex, exeHash);
  EXPECT_EQ(size, launcherManifest.file.size);

  // The tool's verify accepts the tree, then refuses it once an object is altered.
  const std::wstring publicKey = WideFromUtf8(SigningPublicKey());
  const ProcessResult verified = Publish({L"verify", cdn.Path(), L"--public-key", publicKey});
  EXPECT_EQ(verified.exitCode, 0u) << verified.output;
  const std::wstring object = cdn.Join(WideFromUtf8(ObjectPathOf(manifest.files[0].hash)));
  std::string gz = ReadBytes(object);
  gz[gz.size() / 2] ^= 0x01;
  ASSERT_TRUE(WriteBytes(object, gz));
  const ProcessResult tampered = Publish({L"verify", cdn.Path(), L"--public-key", publicKey});
  EXPECT_EQ(tampered.exitCode, 1u) << tampered.output;
  EXPECT_NE(tampered.output.find("PROBLEM"), std::string::npos) << tampered.output;
}

TEST(PublishRoundTrip, ClientFilesCarryTheMd5TheLauncherComputes) {
  TempDir resources, out;
  CreateDirectoryTree(resources.Join(L"race\\client"));
  ASSERT_TRUE(WriteBytes(resources.Join(L"race\\client\\car.lua"), "print('vroom')"));
  const ProcessResult run = Publish({L"client-files", resources.Path(), L"--out", out.Join(L"client-files.json")});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::string md5;
  ASSERT_TRUE(HashFile(kHashMd5, resources.Join(L"race\\client\\car.lua"), md5, nullptr, nullptr));
  EXPECT_NE(ReadBytes(out.Join(L"client-files.json")).find("\"md5\": \"" + md5 + "\""), std::string::npos);
}

}  // namespace
