#include "tools/publish/objects.h"

#include <zlib.h>

#include <algorithm>
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

struct ObjectInflater::State {
  z_stream stream{};
  bool started = false, ended = false, corrupt = false;
  Hasher hash{kHashSha256};
  uint64_t size = 0;
  std::vector<char> output = std::vector<char>(kZlibBuffer);
};

ObjectInflater::ObjectInflater() : state_(std::make_unique<State>()) {
  state_->started = inflateInit2(&state_->stream, 15 + 16) == Z_OK;
  state_->corrupt = !state_->started;
}

ObjectInflater::~ObjectInflater() {
  if (state_->started) inflateEnd(&state_->stream);
}

bool ObjectInflater::Feed(const char* data, size_t size) {
  State& s = *state_;
  z_stream& stream = s.stream;
  while (size > 0 && !s.ended && !s.corrupt) {
    const size_t piece = std::min<size_t>(size, 1u << 30);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream.avail_in = static_cast<uInt>(piece);
    data += piece;
    size -= piece;
    while (!s.ended && !s.corrupt && (stream.avail_in > 0 || stream.avail_out == 0)) {
      stream.next_out = reinterpret_cast<Bytef*>(s.output.data());
      stream.avail_out = static_cast<uInt>(s.output.size());
      const int result = inflate(&stream, Z_NO_FLUSH);
      const size_t produced = s.output.size() - stream.avail_out;
      s.hash.Update(s.output.data(), produced);
      s.size += produced;
      if (result == Z_STREAM_END) {
        s.ended = true;
      } else if (result != Z_OK && result != Z_BUF_ERROR) {
        s.corrupt = true;
      } else if (result == Z_BUF_ERROR && stream.avail_in == 0) {
        break;
      }
    }
  }
  return !s.corrupt;
}

bool ObjectInflater::Finish(std::string& sha256, uint64_t& size) {
  if (state_->corrupt || !state_->ended) return false;
  sha256 = state_->hash.FinishHex();
  size = state_->size;
  return true;
}

bool InflateObject(const fs::path& object, std::string& sha256, uint64_t& size, std::string& error) {
  std::ifstream in(object, std::ios::binary);
  if (!in) {
    error = "missing object " + Utf8FromPath(object);
    return false;
  }
  ObjectInflater inflater;
  std::vector<char> input(kReadSize);
  while (in) {
    in.read(input.data(), static_cast<std::streamsize>(input.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    if (got == 0 || !inflater.Feed(input.data(), got)) break;
  }
  if (in.bad()) {
    error = "cannot read " + Utf8FromPath(object);
    return false;
  }
  if (!inflater.Finish(sha256, size)) {
    error = "corrupt or cut-off gzip object " + Utf8FromPath(object);
    return false;
  }
  return true;
}

}  // namespace publish
