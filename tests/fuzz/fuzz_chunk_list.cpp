// libFuzzer target: a chunk list as a CDN serves it. Whatever is accepted must describe chunks
// that follow one another from offset 0 to the file's size, each of 1 to the maximum size, with
// lower-case hashes, within the caps; and must read back the same once written again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "manifest/chunking.h"
#include "manifest/rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ChunkList list;
  list.size = 7;
  std::wstring error;
  if (!ParseChunkList(text, list, error)) {
    if (error != kChunkListUnreadableText || list.size != 7 || !list.chunks.empty()) std::abort();
    return 0;
  }
  if (!error.empty() || !IsLowerHex64(list.sha256)) std::abort();
  if (list.chunks.size() > kMaxChunkListChunks || list.chunks.size() > list.size / kChunkMin + 1) std::abort();
  uint64_t offset = 0;
  for (const ChunkEntry& chunk : list.chunks) {
    if (chunk.offset != offset || chunk.size < 1 || chunk.size > kChunkMax || !IsLowerHex64(chunk.sha256)) std::abort();
    offset += chunk.size;
  }
  if (offset != list.size) std::abort();
  ChunkList again;
  if (!ParseChunkList(WriteChunkList(list), again, error) || WriteChunkList(again) != WriteChunkList(list)) std::abort();
  return 0;
}
