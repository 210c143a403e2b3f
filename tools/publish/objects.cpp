#include "tools/publish/objects.h"

#include <zlib.h>

#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

#include "manifest/hashing.h"
#include "tools/publish/fileio.h"

namespace fs = std::filesystem;

namespace publish {

namespace {

constexpr size_t kReadSize = 1048576;
constexpr size_t kZlibBuffer = 262144;

}  // namespace

bool DigestFile(const fs::path& path, Digest kind, std::string& hex, uint64_t& size, std::string& error,
                const ByteProgress& progress) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + Utf8FromPath(path);
    return false;
  }
  Hasher hash(kind == Digest::Md5 ? kHashMd5 : kHashSha256);
  std::vector<char> buffer(kReadSize);
  size = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    if (got == 0) break;
    hash.Update(buffer.data(), got);
    size += got;
    if (progress) progress(size);
  }
  if (in.bad()) {
    error = "cannot read " + Utf8FromPath(path);
    return false;
  }
  hex = hash.FinishHex();
  return true;
}

std::string ObjectPath(const std::string& sha256) {
  return "game/objects/" + sha256.substr(0, 2) + "/" + sha256 + ".gz";
}

bool WriteGzipObject(const fs::path& source, const fs::path& target, const std::string& expectedSha256, uint64_t& zsize,
                     std::string& error) {
  std::ifstream in(source, std::ios::binary);
  if (!in) {
    error = "cannot open " + Utf8FromPath(source);
    return false;
  }
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  const fs::path temp = TemporaryNameFor(target);
  std::ofstream out(temp, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = "cannot create " + Utf8FromPath(temp);
    return false;
  }
  z_stream stream{};
  // Window 15 with the gzip wrapper (15 + 16), which is what the launcher inflates.
  if (deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    error = "cannot start zlib";
    return false;
  }
  Hasher hash(kHashSha256);
  std::vector<char> input(kReadSize), output(kZlibBuffer);
  bool ok = true;
  int flush = Z_NO_FLUSH;
  while (ok && flush != Z_FINISH) {
    in.read(input.data(), static_cast<std::streamsize>(input.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    if (in.bad()) {
      error = "cannot read " + Utf8FromPath(source);
      ok = false;
      break;
    }
    hash.Update(input.data(), got);
    flush = got < input.size() ? Z_FINISH : Z_NO_FLUSH;
    stream.next_in = reinterpret_cast<Bytef*>(input.data());
    stream.avail_in = static_cast<uInt>(got);
    do {
      stream.next_out = reinterpret_cast<Bytef*>(output.data());
      stream.avail_out = static_cast<uInt>(output.size());
      deflate(&stream, flush);
      out.write(output.data(), static_cast<std::streamsize>(output.size() - stream.avail_out));
    } while (stream.avail_out == 0);
    if (!out) {
      error = "cannot write " + Utf8FromPath(temp);
      ok = false;
    }
  }
  deflateEnd(&stream);
  out.close();
  if (ok && out.fail()) {
    error = "cannot write " + Utf8FromPath(temp);
    ok = false;
  }
  if (ok && hash.FinishHex() != expectedSha256) {
    error = Utf8FromPath(source) + " changed while it was published; publish again";
    ok = false;
  }
  if (ok) zsize = static_cast<uint64_t>(fs::file_size(temp, ec));
  if (ok && ec) {
    error = "cannot read the size of " + Utf8FromPath(temp);
    ok = false;
  }
  // Durable before it has its name: a manifest written after it may list it.
  if (ok && !FlushFileToDisk(temp, error)) ok = false;
  if (!ok) {
    fs::remove(temp, ec);
    return false;
  }
  return RenameInto(temp, target, error);
}

bool InflateObject(const fs::path& object, std::string& sha256, uint64_t& size, std::string& error) {
  std::ifstream in(object, std::ios::binary);
  if (!in) {
    error = "missing object " + Utf8FromPath(object);
    return false;
  }
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) {
    error = "cannot start zlib";
    return false;
  }
  Hasher hash(kHashSha256);
  std::vector<char> input(kReadSize), output(kZlibBuffer);
  size = 0;
  bool ended = false, ok = true;
  while (ok && !ended && in) {
    in.read(input.data(), static_cast<std::streamsize>(input.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    if (got == 0) break;
    stream.next_in = reinterpret_cast<Bytef*>(input.data());
    stream.avail_in = static_cast<uInt>(got);
    while (ok && !ended && (stream.avail_in > 0 || stream.avail_out == 0)) {
      stream.next_out = reinterpret_cast<Bytef*>(output.data());
      stream.avail_out = static_cast<uInt>(output.size());
      const int result = inflate(&stream, Z_NO_FLUSH);
      const size_t produced = output.size() - stream.avail_out;
      hash.Update(output.data(), produced);
      size += produced;
      if (result == Z_STREAM_END) {
        ended = true;
      } else if (result != Z_OK && result != Z_BUF_ERROR) {
        ok = false;
      } else if (result == Z_BUF_ERROR && stream.avail_in == 0) {
        break;
      }
    }
  }
  inflateEnd(&stream);
  if (in.bad()) {
    error = "cannot read " + Utf8FromPath(object);
    return false;
  }
  if (!ok || !ended) {
    error = "corrupt or cut-off gzip object " + Utf8FromPath(object);
    return false;
  }
  sha256 = hash.FinishHex();
  return true;
}

}  // namespace publish
