// Large files in content-defined chunks (manifest/chunking.h): each chunk stored as an ordinary
// gzip object beside the whole-file objects, and the file's chunk list written after them, so
// that a launcher fetches only the chunks a player's copy lacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <set>
#include <string>

namespace publish {

// The objects one run writes, by hash, so that a chunk shared by several files, or equal to a
// whole file, is written by one thread only.
class ObjectClaims {
 public:
  // True the first time a hash is claimed.
  bool Claim(const std::string& sha256) {
    std::lock_guard<std::mutex> lock(mutex_);
    return claimed_.insert(sha256).second;
  }

 private:
  std::mutex mutex_;
  std::set<std::string> claimed_;
};

struct ChunkedFile {
  size_t chunks = 0;
  size_t newObjects = 0;    // chunk objects this run wrote
  uint64_t newBytes = 0;    // their compressed bytes
};

// Writes the chunk objects and the chunk list of a file already digested. A list already
// published for this content is reused when it parses and every chunk object it names holds
// its chunk (trustExisting: is present), and so is each chunk object that does.
//
// With wholeObject set, the file's whole object is written there too, from the same
// compressed data, so that each byte is compressed once: each chunk is deflated on its own and
// ends on a byte boundary (a sync flush), so that a chunk's gzip object is a gzip header, its
// deflate data, an empty final block and the chunk's CRC-32 and size, and the whole object is
// the same with every chunk's deflate data in turn. wholeZsize receives the whole object's size.
// Chunks are digested and compressed on `helpers` threads.
bool StoreChunks(const std::filesystem::path& file, const std::filesystem::path& cdnRoot, bool trustExisting,
                 const std::string& sha256, uint64_t size, ObjectClaims& claims, ChunkedFile& result,
                 std::string& error, unsigned helpers = 1, const std::filesystem::path* wholeObject = nullptr,
                 uint64_t* wholeZsize = nullptr);

}  // namespace publish
