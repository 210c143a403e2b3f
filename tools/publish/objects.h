// Content digests and gzip objects, with the launcher's own digest engine and zlib. Each call
// stands alone, so that several files can be published on several threads at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace publish {

enum class Digest { Sha256, Md5 };

// Receives the bytes done so far.
using ByteProgress = std::function<void(uint64_t done)>;

// Lower-case hex digest and size of a whole file, read in 1 MiB pieces.
bool DigestFile(const std::filesystem::path& path, Digest kind, std::string& hex, uint64_t& size, std::string& error,
                const ByteProgress& progress = nullptr);

// "game/objects/" + first two hex digits + "/" + sha256 + ".gz".
std::string ObjectPath(const std::string& sha256);

// Compresses source into a gzip object at target (written beside it, flushed to the disk and
// renamed into place) and checks on the way that the content still has the expected SHA-256.
// zsize receives the object's size.
bool WriteGzipObject(const std::filesystem::path& source, const std::filesystem::path& target,
                     const std::string& expectedSha256, uint64_t& zsize, std::string& error);

// Inflates a gzip object fed in pieces as the launcher does (gzip wrapper, window 15, bytes
// after the end of the stream ignored) and digests the content.
class ObjectInflater {
 public:
  ObjectInflater();
  ~ObjectInflater();
  ObjectInflater(const ObjectInflater&) = delete;
  ObjectInflater& operator=(const ObjectInflater&) = delete;

  // False once the stream is corrupt; pieces after the end of the stream are ignored.
  bool Feed(const char* data, size_t size);
  // False when the stream was corrupt or has not ended; else the content's digest and size.
  bool Finish(std::string& sha256, uint64_t& size);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Inflates a gzip object as the launcher does (gzip wrapper, window 15, bytes after the end
// of the stream ignored) and digests the content. False when the stream is corrupt or ends early.
bool InflateObject(const std::filesystem::path& object, std::string& sha256, uint64_t& size, std::string& error);

}  // namespace publish
