#include <gtest/gtest.h>

#include <set>

#include "manifest/chunking.h"
#include "manifest/hashing.h"
#include "tests/support/noise.h"

using testing_support::Noise;

namespace {

// The rule as docs/chunking.md writes it, one byte at a time over the whole text.
std::vector<uint64_t> ReferenceCuts(const std::string& bytes) {
  uint64_t gear[256];
  uint64_t state = 0x54414c564f524545ull;
  for (uint64_t& value : gear) value = SplitMix64(state);
  std::vector<uint64_t> ends;
  uint64_t start = 0;
  while (start < bytes.size()) {
    uint64_t hash = 0, end = std::min<uint64_t>(bytes.size(), start + 4194304);
    for (uint64_t at = start + 262144; at < end; ++at) {
      hash = (hash << 1) + gear[static_cast<unsigned char>(bytes[at])];
      const uint64_t length = at - start + 1;
      if ((hash >> (length <= 1048576 ? 42 : 46)) == 0) {
        end = at + 1;
        break;
      }
    }
    ends.push_back(end);
    start = end;
  }
  return ends;
}

std::vector<ChunkEntry> Chunk(const std::string& bytes, size_t piece) {
  ChunkHasher hasher;
  for (size_t at = 0; at < bytes.size(); at += piece) hasher.Update(bytes.data() + at, std::min(piece, bytes.size() - at));
  hasher.Finish();
  return hasher.TakeChunks();
}

std::string Sha(const std::string& bytes) {
  Hasher hasher(kHashSha256);
  hasher.Update(bytes.data(), bytes.size());
  return hasher.FinishHex();
}

TEST(Chunking, SplitMixIsTheKnownSequence) {
  uint64_t state = 0;
  EXPECT_EQ(SplitMix64(state), 0xe220a8397b1dcdafull);
  EXPECT_EQ(SplitMix64(state), 0x6e789e6aa1b965f4ull);
}

TEST(Chunking, CutsFollowTheWrittenRuleWhateverThePieces) {
  std::string bytes = Noise(12 << 20, 1) + std::string(9 << 20, '\0') + Noise(2 << 20, 2);
  const std::vector<uint64_t> reference = ReferenceCuts(bytes);
  for (size_t piece : {size_t(1) << 20, size_t(65537), size_t(4194304 * 3)}) {
    const std::vector<ChunkEntry> chunks = Chunk(bytes, piece);
    ASSERT_EQ(chunks.size(), reference.size()) << piece;
    uint64_t offset = 0;
    for (size_t i = 0; i < chunks.size(); ++i) {
      EXPECT_EQ(chunks[i].offset, offset);
      EXPECT_EQ(chunks[i].offset + chunks[i].size, reference[i]);
      offset += chunks[i].size;
    }
  }
  const std::vector<ChunkEntry> chunks = Chunk(bytes, 1 << 20);
  EXPECT_EQ(chunks[3].sha256, Sha(bytes.substr(chunks[3].offset, chunks[3].size)));
  size_t noiseChunks = 0;
  for (const ChunkEntry& chunk : chunks) {
    EXPECT_GT(chunk.size, chunk.offset + chunk.size == bytes.size() ? 0u : kChunkMin);
    EXPECT_LE(chunk.size, kChunkMax);
    noiseChunks += chunk.offset + chunk.size <= (12u << 20);
  }
  // About one chunk per MiB of varied content.
  EXPECT_GE(noiseChunks, 6u);
  EXPECT_LE(noiseChunks, 18u);
}

TEST(Chunking, ALocalChangeMovesOnlyTheChunksAroundIt) {
  const std::string before = Noise(24 << 20, 3);
  std::string after = before;
  for (size_t place : {size_t(2) << 20, size_t(11) << 20, size_t(19) << 20}) after.replace(place, 4096, Noise(4096, place));
  after.insert(7 << 20, "inserted bytes shift all that follows");
  std::set<std::string> old;
  for (const ChunkEntry& chunk : Chunk(before, 1 << 20)) old.insert(chunk.sha256);
  uint64_t newBytes = 0;
  for (const ChunkEntry& chunk : Chunk(after, 1 << 20)) newBytes += old.count(chunk.sha256) ? 0 : chunk.size;
  EXPECT_GT(newBytes, 0u);
  EXPECT_LE(newBytes, 4u * 2 * kChunkAvg * 2);
}

std::string ListText(const std::string& chunks, const std::string& size = "300000",
                     const std::string& chunker = "{\"name\":\"fastcdc\",\"min\":262144,\"avg\":1048576,\"max\":4194304}",
                     const std::string& head = "\"format\":\"talvoreen-chunks-v1\"") {
  return "{" + head + ",\"size\":" + size + ",\"sha256\":\"" + std::string(64, 'a') + "\",\"chunker\":" + chunker +
         ",\"chunks\":[" + chunks + "]}";
}
std::string ChunkText(uint64_t offset, uint64_t size, const std::string& sha = std::string(64, 'b')) {
  return "{\"offset\":" + std::to_string(offset) + ",\"size\":" + std::to_string(size) + ",\"sha256\":\"" + sha + "\"}";
}

TEST(ChunkList, WrittenListsReadBackAndPathsAreByHash) {
  const std::string bytes = Noise(9 << 20, 4);
  ChunkList list;
  list.size = bytes.size();
  list.sha256 = Sha(bytes);
  list.chunks = Chunk(bytes, 1 << 20);
  ChunkList read;
  std::wstring error = L"old";
  ASSERT_TRUE(ParseChunkList(WriteChunkList(list), read, error));
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(WriteChunkList(read), WriteChunkList(list));
  EXPECT_EQ(read.chunks.size(), list.chunks.size());
  EXPECT_EQ(read.sha256, list.sha256);
  ASSERT_TRUE(ParseChunkList(" {\"chunks\":[" + ChunkText(0, 100000) + " , " + ChunkText(100000, 200000) +
                                 "],\"size\":300000,\"sha256\":\"" + std::string(64, 'a') +
                                 "\",\"chunker\":{\"max\":4194304,\"avg\":1048576,\"min\":262144,\"name\":\"fastcdc\"},"
                                 "\"format\":\"talvoreen-chunks-v1\"}\n",
                             read, error));
  EXPECT_EQ(read.size, 300000u);
  ASSERT_EQ(read.chunks.size(), 2u);
  EXPECT_EQ(read.chunks[1].offset, 100000u);
  EXPECT_EQ(ChunkListPath(list.sha256), "game/chunks/" + list.sha256.substr(0, 2) + "/" + list.sha256 + ".json");
  EXPECT_EQ(ChunkObjectPath("ab" + std::string(62, 'c')), "game/objects/ab/ab" + std::string(62, 'c') + ".gz");
}

TEST(ChunkList, RefusesEveryListItCannotTrust) {
  const std::string two = ChunkText(0, 100000) + "," + ChunkText(100000, 200000);
  std::string many;
  for (int i = 0; i < 3; ++i) many += (i ? "," : "") + ChunkText(i, 1);
  std::string pastCap;
  for (size_t i = 0; i <= kMaxChunkListChunks; ++i) pastCap += (i ? "," : "") + ChunkText(i, 1);
  const std::string cases[] = {
      ListText(two, "300000", "{\"name\":\"fastcdc\",\"min\":262144,\"avg\":1048576,\"max\":4194304}",
               "\"format\":\"talvoreen-chunks-v2\""),
      ListText(two, "300000", "{\"name\":\"fastcdc\",\"min\":262144,\"avg\":524288,\"max\":4194304}"),
      ListText(two, "300000", "{\"name\":\"rabin\",\"min\":262144,\"avg\":1048576,\"max\":4194304}"),
      ListText(two, "300000", "{\"name\":\"fastcdc\",\"min\":262144,\"avg\":1048576}"),
      ListText(ChunkText(0, 100001) + "," + ChunkText(100000, 200000)),                       // overlap
      ListText(ChunkText(0, 100000) + "," + ChunkText(100001, 199999)),                       // gap
      ListText(ChunkText(0, 100000) + "," + ChunkText(100000, 200001)),                       // past the file
      ListText(ChunkText(0, 100000)),                                                // short of it
      ListText(ChunkText(0, 0) + "," + ChunkText(0, 300000)),                       // empty chunk
      ListText(ChunkText(0, 4194305), "4194305"),                                 // over the maximum
      ListText(ChunkText(0, 100000) + "," + ChunkText(100000, 200000, std::string(63, 'b'))),    // short hash
      ListText(ChunkText(0, 100000) + "," + ChunkText(100000, 200000, std::string(64, 'B'))),    // upper case
      ListText(many, "3"),                                                         // more than size/min + 1
      ListText(pastCap, std::to_string(kMaxChunkListChunks + 1)),                 // more than the cap
      ListText(two, "300000.0"),
      ListText(two, "-300000"),
      ListText(two) + " x",
      ListText(two).substr(1),
      ListText(two, "300000,\"size\":300000"),                                                // a key twice
      ListText(two, "300000,\"note\":1"),                                                // an unknown key
      ListText(ChunkText(0, 100000) + ",[]," + ChunkText(100000, 200000)),
      ListText("{\"offset\":0,\"size\":300000}"),
      ListText(two) + std::string(kMaxChunkListBytes, ' '),
  };
  for (const std::string& text : cases) {
    ChunkList kept;
    kept.size = 99;
    std::wstring error;
    EXPECT_FALSE(ParseChunkList(text, kept, error)) << text.substr(0, 400);
    EXPECT_EQ(error, kChunkListUnreadableText);
    EXPECT_EQ(kept.size, 99u);
  }
  ChunkList read;
  std::wstring error;
  EXPECT_TRUE(ParseChunkList(ListText(two), read, error));
}

}  // namespace
