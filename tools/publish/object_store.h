// The objects of a build: each file digested, its gzip object stored once per content, on
// several threads, with what is reported in list order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/publish/chunk_store.h"
#include "tools/publish/parallel.h"

namespace publish {

// "123 bytes" below 1 MiB, "4.5 MiB" from there on.
std::string HumanSize(uint64_t bytes);

struct StoredObject {
  uint64_t zsize = 0;
  bool created = false;
};

// SHA-256 and size of one file, with a line to err for every 256 MiB of a large one.
bool DigestContent(const std::filesystem::path& file, const std::string& label, std::string& sha256, uint64_t& size,
                   std::string& error, std::ostream& err);

// Stores the gzip object of a file already digested, unless one with that content exists. An
// existing object is reused only when it inflates to the file's size and hash (an earlier run
// may have been cut off while writing it), unless trustExisting skips that check.
bool StoreObject(const std::filesystem::path& file, const std::filesystem::path& cdnRoot, const std::string& label,
                 bool trustExisting, const std::string& sha256, uint64_t size, StoredObject& object,
                 std::string& error, std::ostream& err);

struct PublishedFile {
  std::string sha256;
  uint64_t size = 0;
  StoredObject object;
  bool chunked = false;  // has a chunk list
  ChunkedFile chunks;
};

// Stores the whole object (as StoreObject does, but written from the chunks' compressed data),
// the chunk objects and the chunk list of a file already digested.
bool StoreChunkedFile(const std::filesystem::path& file, const std::filesystem::path& cdnRoot,
                      const std::string& label, bool trustExisting, unsigned helpers, ObjectClaims& claims,
                      PublishedFile& published, std::string& error, std::ostream& err);

// Files from minFile bytes on get chunk objects and a chunk list besides their whole object.
struct ChunkOptions {
  bool enabled = false;
  uint64_t minFile = 0;
};

// The digest and the object of each file, on `jobs` threads. Files with the same content
// share one object, stored for the first of them, so that no two threads write one object and
// the report names the same file as a run on one thread does. report(i) runs in list order as
// soon as file i is settled, and stops the work when it returns false. False with error when a
// file fails; later files may have their objects by then, which a later run checks and reuses.
// The phases "digests" and "objects" are timed on phases. A file's chunks are stored with its
// object; a copy of a chunked file reports the first one's chunks as its own.
bool PublishFiles(const std::vector<std::filesystem::path>& files, const std::vector<std::string>& labels,
                  const std::filesystem::path& cdnRoot, bool trustExisting, const ChunkOptions& chunking, unsigned jobs,
                  std::vector<PublishedFile>& published, const std::function<bool(size_t)>& report,
                  std::string& error, std::ostream& err, PhaseClock& phases);

}  // namespace publish
