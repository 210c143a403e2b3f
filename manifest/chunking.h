// Content-defined chunks of large game files and the chunk list that names them.
//
// A file at or above kChunkMinFileSize is cut where the content says, not at fixed offsets, so
// that a few changed bytes move only the chunks around them: the publisher stores every chunk
// as an ordinary content-addressed gzip object and writes a chunk list addressed by the file's
// SHA-256; the launcher cuts the player's current copy with the same rule, keeps every chunk
// whose hash the list names and fetches the rest. The signed manifest still holds only the
// whole file's hash, which decides whether an assembled file is moved in.
//
// The cutter (FastCDC with normalised chunking, see docs/chunking.md):
//   - gear table: gear[i] is the (i + 1)-th output of splitmix64 started from state
//     kChunkGearSeed (state += 0x9E3779B97F4A7C15; z = state;
//     z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9; z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
//     output z ^ (z >> 31));
//   - rolling hash, reset to 0 at every chunk start: h = (h << 1) + gear[byte] (mod 2^64);
//   - the first kChunkMin bytes of a chunk are not hashed; from byte kChunkMin on, each byte is
//     hashed and the chunk ends after it when the hash's top 22 bits are zero while the chunk
//     is at most kChunkAvg bytes long, its top 18 bits after that, or when it reaches kChunkMax
//     bytes; the file's end ends the last chunk.
// Pure code, for the launcher, the publisher and the host tests alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Hasher;

inline constexpr char kChunkListFormat[] = "talvoreen-chunks-v1";
inline constexpr char kChunkerName[] = "fastcdc";
inline constexpr uint32_t kChunkMin = 262144;    // 256 KiB
inline constexpr uint32_t kChunkAvg = 1048576;   // 1 MiB
inline constexpr uint32_t kChunkMax = 4194304;   // 4 MiB
inline constexpr uint64_t kChunkMinFileSize = 4194304;  // files from 4 MiB on have a list
inline constexpr uint64_t kChunkGearSeed = 0x54414c564f524545ull;  // "TALVOREE"
inline constexpr int kChunkBitsBeforeAvg = 22;
inline constexpr int kChunkBitsAfterAvg = 18;
// An 8 GiB file cut into chunks of the minimum size, and the document that lists them: a
// compact entry is about 110 bytes, so 8 MiB leaves room for spacing.
inline constexpr size_t kMaxChunkListChunks = 32769;
inline constexpr size_t kMaxChunkListBytes = 8388608;
inline constexpr wchar_t kChunkListUnreadableText[] = L"Parça listesi okunamadı";

// One output of splitmix64 for the given state, advancing it.
uint64_t SplitMix64(uint64_t& state);
// The 256 gear values derived as above.
const uint64_t* ChunkGearTable();

// Finds cut points in a stream fed in buffers of any size: the same cuts whatever the buffers.
class ChunkCutter {
 public:
  // How many bytes of data, from its start, belong to the current chunk. When cut is set, the
  // chunk ends after them and the rest of data starts the next one; otherwise all of data was
  // taken and the chunk goes on.
  size_t Scan(const unsigned char* data, size_t length, bool& cut);
  // Bytes of the current, unfinished chunk.
  uint64_t Pending() const { return length_; }

 private:
  uint64_t hash_ = 0;
  uint64_t length_ = 0;
};

struct ChunkEntry {
  uint64_t offset = 0;
  uint32_t size = 0;
  std::string sha256;  // lower-case hex of the chunk's raw bytes
};

struct ChunkList {
  uint64_t size = 0;   // the whole file's
  std::string sha256;  // the whole file's, lower-case hex
  std::vector<ChunkEntry> chunks;
};

// Cuts a stream and digests each chunk as it goes: the entries a chunk list would hold.
class ChunkHasher {
 public:
  ChunkHasher();
  ~ChunkHasher();
  ChunkHasher(const ChunkHasher&) = delete;
  ChunkHasher& operator=(const ChunkHasher&) = delete;

  void Update(const void* data, size_t length);
  // Ends the last chunk; the object takes no more data afterwards.
  void Finish();
  const std::vector<ChunkEntry>& Chunks() const { return chunks_; }
  std::vector<ChunkEntry> TakeChunks() { return std::move(chunks_); }
  uint64_t Size() const { return offset_ + cutter_.Pending(); }

 private:
  void EndChunk();

  ChunkCutter cutter_;
  std::unique_ptr<Hasher> hasher_;
  uint64_t offset_ = 0;  // where the current chunk starts
  std::vector<ChunkEntry> chunks_;
};

// "game/chunks/<2 hex>/<sha256>.json" and "game/objects/<2 hex>/<sha256>.gz" for a lower-case
// hash; the launcher's URL paths and the publisher's file paths.
std::string ChunkListPath(const std::string& fileSha256);
std::string ChunkObjectPath(const std::string& chunkSha256);

// The list as compact JSON in the one shape the parser takes, chunks in offset order.
std::string WriteChunkList(const ChunkList& list);

// Takes only the exact shape WriteChunkList writes (any key order and spacing): the format
// tag, the supported chunker and parameters, hashes of 64 lower-case hex, chunks that follow
// one another from offset 0 without gap or overlap, each of 1 to kChunkMax bytes, adding up to
// the file's size, at most size / kChunkMin + 1 of them and at most kMaxChunkListChunks, in a
// document of at most kMaxChunkListBytes. Memory and time stay bounded by those caps. On
// failure out is untouched and error holds kChunkListUnreadableText.
bool ParseChunkList(const std::string& text, ChunkList& out, std::wstring& error);
