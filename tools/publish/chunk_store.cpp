#include "tools/publish/chunk_store.h"

#include <fstream>
#include <system_error>
#include <vector>

#include "manifest/chunking.h"
#include "manifest/hashing.h"
#include "tools/publish/fileio.h"
#include "tools/publish/objects.h"

namespace fs = std::filesystem;

namespace publish {

namespace {

constexpr size_t kReadSize = 1048576;

// An object already in the store that holds size bytes with this hash.
bool HoldsContent(const fs::path& object, bool trustExisting, const std::string& sha256, uint64_t size) {
  std::error_code ec;
  if (!fs::is_regular_file(object, ec)) return false;
  if (trustExisting) return true;
  std::string existingHash, error;
  uint64_t existingSize = 0;
  return InflateObject(object, existingHash, existingSize, error) && existingHash == sha256 && existingSize == size;
}

bool ReuseList(const fs::path& cdnRoot, bool trustExisting, const std::string& sha256, uint64_t size,
               ChunkedFile& result) {
  std::string text, error;
  const fs::path list = cdnRoot / PathFromUtf8(ChunkListPath(sha256));
  std::error_code ec;
  if (!fs::is_regular_file(list, ec) || !ReadFileBytes(list, text, error)) return false;
  ChunkList parsed;
  std::wstring parseError;
  if (!ParseChunkList(text, parsed, parseError) || parsed.sha256 != sha256 || parsed.size != size ||
      text != WriteChunkList(parsed)) {
    return false;
  }
  for (const ChunkEntry& chunk : parsed.chunks) {
    if (!HoldsContent(cdnRoot / PathFromUtf8(ChunkObjectPath(chunk.sha256)), trustExisting, chunk.sha256, chunk.size)) {
      return false;
    }
  }
  result.chunks = parsed.chunks.size();
  return true;
}

}  // namespace

bool StoreChunks(const fs::path& file, const fs::path& cdnRoot, bool trustExisting, const std::string& sha256,
                 uint64_t size, ObjectClaims& claims, ChunkedFile& result, std::string& error) {
  result = ChunkedFile();
  if (ReuseList(cdnRoot, trustExisting, sha256, size, result)) return true;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = "cannot open " + Utf8FromPath(file);
    return false;
  }
  ChunkList list;
  list.size = size;
  list.sha256 = sha256;
  Hasher whole(kHashSha256);
  ChunkCutter cutter;
  std::string chunk;
  chunk.reserve(kChunkMax);
  uint64_t offset = 0;
  const auto endChunk = [&] {
    Hasher hash(kHashSha256);
    hash.Update(chunk.data(), chunk.size());
    ChunkEntry entry{offset, static_cast<uint32_t>(chunk.size()), hash.FinishHex()};
    const fs::path object = cdnRoot / PathFromUtf8(ChunkObjectPath(entry.sha256));
    // A hash another thread claimed is written by it; so is a whole file's object.
    if (claims.Claim(entry.sha256) && !HoldsContent(object, trustExisting, entry.sha256, entry.size)) {
      uint64_t zsize = 0;
      if (!WriteGzipBytes(chunk, object, zsize, error)) return false;
      ++result.newObjects;
      result.newBytes += zsize;
    }
    offset += chunk.size();
    list.chunks.push_back(std::move(entry));
    chunk.clear();
    return true;
  };
  std::vector<char> buffer(kReadSize);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    if (got == 0) break;
    whole.Update(buffer.data(), got);
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    for (size_t at = 0; at < got;) {
      bool cut = false;
      const size_t taken = cutter.Scan(bytes + at, got - at, cut);
      chunk.append(buffer.data() + at, taken);
      at += taken;
      if (cut && !endChunk()) return false;
    }
  }
  if (in.bad()) {
    error = "cannot read " + Utf8FromPath(file);
    return false;
  }
  if (!chunk.empty() && !endChunk()) return false;
  if (offset != size || whole.FinishHex() != sha256) {
    error = Utf8FromPath(file) + " changed while it was published; publish again";
    return false;
  }
  result.chunks = list.chunks.size();
  // After every chunk object it names, so that a listed chunk is always there.
  return WriteFileAtomically(cdnRoot / PathFromUtf8(ChunkListPath(sha256)), WriteChunkList(list), error);
}

}  // namespace publish
