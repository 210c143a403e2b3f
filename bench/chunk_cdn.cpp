// Adds chunk lists and chunk objects for files to a published CDN tree, as a publisher that
// chunks would write them (docs/chunking.md): the benchmarks' CDNs with chunks.
//   chunk_cdn CDN_ROOT FILE...
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "manifest/chunking.h"
#include "manifest/hashing.h"

namespace fs = std::filesystem;

namespace {

std::string Gzip(const char* data, size_t size) {
  z_stream s{};
  deflateInit2(&s, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(compressBound(static_cast<uLong>(size)) + 64, '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  s.avail_in = static_cast<uInt>(size);
  s.next_out = reinterpret_cast<Bytef*>(&out[0]);
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

bool Put(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: chunk_cdn CDN_ROOT FILE...\n");
    return 2;
  }
  const fs::path root = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ChunkHasher chunker;
    chunker.Update(bytes.data(), bytes.size());
    chunker.Finish();
    Hasher whole(kHashSha256);
    whole.Update(bytes.data(), bytes.size());
    ChunkList list;
    list.size = bytes.size();
    list.sha256 = whole.FinishHex();
    list.chunks = chunker.TakeChunks();
    for (const ChunkEntry& chunk : list.chunks) {
      const fs::path object = root / ChunkObjectPath(chunk.sha256);
      if (!fs::exists(object) && !Put(object, Gzip(bytes.data() + chunk.offset, chunk.size))) return 1;
    }
    if (!Put(root / ChunkListPath(list.sha256), WriteChunkList(list))) return 1;
    std::printf("%s: %zu chunks\n", argv[i], list.chunks.size());
  }
  return 0;
}
