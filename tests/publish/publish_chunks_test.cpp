// talvoreen-publish game with chunks: the chunk lists and chunk objects of large files, beside
// their whole objects, and what a second publish reuses.
#include <gtest/gtest.h>

#include "manifest/chunking.h"
#include "tests/publish/publish_test_support.h"
#include "tools/publish/objects.h"

namespace {

using namespace publish_test;

// Files from --chunk-min-file on (4 MiB by default) also get a chunk list and their chunks as
// objects; the manifest lists what a publisher without chunks lists.
TEST(PublishChunks, LargeFilesGetChunksBesideTheirWholeObjectAndRepublishingReusesThem) {
  Folder source, plain, chunked;
  MakeGameSource(source);
  std::string huge = NoiseBytes(4 * 1048576 + 5, 7);
  Write(source / "models/huge.pak", huge);
  const auto publish = [&](const Folder& cdn, std::vector<std::string> extra) {
    FixedPublishClock clock;
    std::vector<std::string> args = {"game", source.Text(), "--out", cdn.Text(), "--key", DevelopmentKeyFile(),
                                     "--build", "b"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Publish(args);
  };
  ASSERT_EQ(publish(plain, {"--no-chunks"}).code, 0);
  const PublishRun first = publish(chunked, {});
  ASSERT_EQ(first.code, 0) << first.err;
  EXPECT_NE(first.out.find("Chunks: 1 chunk lists"), std::string::npos) << first.out;

  const Manifest manifest = ReadGameManifest(chunked, DevelopmentPublicKey());
  ASSERT_EQ(manifest.files[4].path, "models/huge.pak");
  const std::string hugeHash = manifest.files[4].hash;
  const auto chunksOf = [&](const std::string& bytes) {
    ChunkHasher hasher;
    hasher.Update(bytes.data(), bytes.size());
    hasher.Finish();
    return hasher.TakeChunks();
  };
  const auto expectListOf = [&](const std::string& bytes, const std::string& sha256) {
    SCOPED_TRACE(sha256);
    ChunkList list;
    std::wstring error;
    ASSERT_TRUE(ParseChunkList(Read(chunked / ChunkListPath(sha256)), list, error));
    EXPECT_EQ(list.sha256, sha256);
    EXPECT_EQ(list.size, bytes.size());
    const std::vector<ChunkEntry> expected = chunksOf(bytes);
    ASSERT_EQ(list.chunks.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(list.chunks[i].offset, expected[i].offset);
      EXPECT_EQ(list.chunks[i].sha256, expected[i].sha256);
      std::string inflatedHash, inflateError;
      uint64_t inflatedSize = 0;
      ASSERT_TRUE(publish::InflateObject(chunked / ChunkObjectPath(expected[i].sha256), inflatedHash, inflatedSize,
                                         inflateError));
      EXPECT_EQ(inflatedHash, expected[i].sha256);
      EXPECT_EQ(inflatedSize, expected[i].size);
    }
  };
  expectListOf(huge, hugeHash);
  const size_t hugeChunks = chunksOf(huge).size();
  std::map<std::string, std::string> withChunks = TreeBytes(chunked);
  size_t lists = 0;
  // The large file's whole object is written from its chunks' compressed data, so only it and
  // its zsize differ from a publisher without chunks; it inflates to the file all the same.
  const Manifest plainManifest = ReadGameManifest(plain, DevelopmentPublicKey());
  ASSERT_EQ(plainManifest.files.size(), manifest.files.size());
  for (size_t i = 0; i < manifest.files.size(); ++i) {
    const ManifestFile &a = plainManifest.files[i], &b = manifest.files[i];
    EXPECT_TRUE(a.path == b.path && a.hash == b.hash && a.size == b.size && a.keep == b.keep) << b.path;
    if (i != 4) EXPECT_EQ(a.zsize, b.zsize) << b.path;
  }
  const std::string hugeObject = publish::ObjectPath(hugeHash);
  std::string inflatedHash, inflateError;
  uint64_t inflatedSize = 0;
  ASSERT_TRUE(publish::InflateObject(chunked / hugeObject, inflatedHash, inflatedSize, inflateError));
  EXPECT_TRUE(inflatedHash == hugeHash && inflatedSize == huge.size());
  EXPECT_EQ(fs::file_size(chunked / hugeObject), manifest.files[4].zsize);
  for (const auto& [path, bytes] : TreeBytes(plain)) {
    if (path != hugeObject && path != "game/stable/manifest.json") EXPECT_EQ(withChunks[path], bytes) << path;
  }
  for (const auto& file : withChunks) lists += file.first.rfind("game/chunks/", 0) == 0;
  EXPECT_EQ(lists, 1u);  // models/big.img is below 4 MiB
  EXPECT_EQ(withChunks.size(), TreeBytes(plain).size() + hugeChunks + 1);

  // Unchanged: nothing new. 4 KiB changed in the middle: only the chunks around them.
  const PublishRun again = publish(chunked, {});
  ASSERT_EQ(again.code, 0) << again.err;
  EXPECT_NE(again.out.find("0 new chunk objects"), std::string::npos) << again.out;
  EXPECT_EQ(TreeBytes(chunked), withChunks);
  huge.replace(huge.size() / 2, 4096, std::string(4096, 'x'));
  Write(source / "models/huge.pak", huge);
  const PublishRun changed = publish(chunked, {});
  ASSERT_EQ(changed.code, 0) << changed.err;
  const size_t newChunks = std::stoul(changed.out.substr(changed.out.find("or more); ") + 10));
  EXPECT_GE(newChunks, 1u);
  EXPECT_LE(newChunks, 2u) << changed.out;
  const std::string changedHash = ReadGameManifest(chunked, DevelopmentPublicKey()).files[4].hash;
  expectListOf(huge, changedHash);

  // A chunk object and a whole object cut off by an interrupted run, and a lost list, are
  // written again; --chunk-min-file takes in the smaller file too.
  const std::string firstChunk = ChunkObjectPath(chunksOf(huge)[0].sha256);
  const std::string chunkBytes = Read(chunked / firstChunk);
  Write(chunked / firstChunk, chunkBytes.substr(0, 100));
  EXPECT_EQ(Publish({"verify", chunked.Text(), "--public-key", DevelopmentPublicKey()}).code, 1);
  fs::remove(chunked / ChunkListPath(changedHash));
  const std::string changedObject = publish::ObjectPath(changedHash);
  Write(chunked / changedObject, Read(chunked / changedObject).substr(0, 5000));
  const PublishRun repaired = publish(chunked, {"--chunk-min-file", "2000000"});
  ASSERT_EQ(repaired.code, 0) << repaired.err;
  EXPECT_EQ(Read(chunked / firstChunk), chunkBytes);
  ASSERT_TRUE(publish::InflateObject(chunked / changedObject, inflatedHash, inflatedSize, inflateError));
  EXPECT_TRUE(inflatedHash == changedHash && inflatedSize == huge.size());
  expectListOf(huge, changedHash);
  expectListOf(Read(source / "models/big.img"), manifest.files[3].hash);
  const PublishRun verify =
      Publish({"verify", chunked.Text(), "--public-key", DevelopmentPublicKey(), "--chunk-min-file", "2000000"});
  EXPECT_EQ(verify.code, 0) << verify.out;
  EXPECT_NE(verify.out.find("2 chunk list(s)"), std::string::npos) << verify.out;
}

}  // namespace
