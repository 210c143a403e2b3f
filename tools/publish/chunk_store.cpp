#include "tools/publish/chunk_store.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

#include "manifest/chunking.h"
#include "manifest/hashing.h"
#include "tools/publish/fileio.h"
#include "tools/publish/objects.h"
#include "tools/publish/parallel.h"

namespace fs = std::filesystem;

namespace publish {

namespace {

constexpr size_t kReadSize = 1048576;
// Deflate, no name, no time, maximum compression, unknown system: the same bytes on every system.
constexpr char kGzipHeader[10] = {'\x1f', '\x8b', 8, 0, 0, 0, 0, 0, 2, '\xff'};
// A final fixed-Huffman block holding only its end code, after data that ends on a byte boundary.
constexpr char kFinalEmptyBlock[2] = {3, 0};

void AppendLittleEndian32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

// Raw deflate of one chunk, on its own (no dictionary from the chunk before), ending with a sync
// flush so that more deflate data may follow it.
class ChunkDeflater {
 public:
  ChunkDeflater() { ok_ = deflateInit2(&stream_, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
  ~ChunkDeflater() {
    if (ok_) deflateEnd(&stream_);
  }
  ChunkDeflater(const ChunkDeflater&) = delete;
  ChunkDeflater& operator=(const ChunkDeflater&) = delete;

  bool Deflate(const std::string& chunk, std::string& out) {
    if (!ok_ || deflateReset(&stream_) != Z_OK) return false;
    out.resize(deflateBound(&stream_, static_cast<uLong>(chunk.size())) + 16);
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.data()));
    stream_.avail_in = static_cast<uInt>(chunk.size());
    stream_.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream_.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream_, Z_SYNC_FLUSH);
    if (result != Z_OK || stream_.avail_in != 0 || stream_.avail_out == 0) return false;
    out.resize(out.size() - stream_.avail_out);
    return true;
  }

 private:
  z_stream stream_{};
  bool ok_ = false;
};

// Appends to a temporary file beside the whole object, which it becomes once complete.
class WholeObjectWriter {
 public:
  explicit WholeObjectWriter(fs::path target) : target_(std::move(target)), temp_(TemporaryNameFor(target_)) {}
  ~WholeObjectWriter() {
    if (out_.is_open()) out_.close();
    std::error_code ec;
    if (!done_) fs::remove(temp_, ec);
  }

  bool Start(std::string& error) {
    std::error_code ec;
    fs::create_directories(target_.parent_path(), ec);
    out_.open(temp_, std::ios::binary | std::ios::trunc);
    return Append(kGzipHeader, sizeof(kGzipHeader), error);
  }
  bool Append(const char* data, size_t size, std::string& error) {
    out_.write(data, static_cast<std::streamsize>(size));
    zsize_ += size;
    if (out_) return true;
    error = "cannot write " + Utf8FromPath(temp_);
    return false;
  }
  bool Finish(uint32_t crc, uint64_t size, uint64_t& zsize, std::string& error) {
    std::string tail(kFinalEmptyBlock, sizeof(kFinalEmptyBlock));
    AppendLittleEndian32(tail, crc);
    AppendLittleEndian32(tail, static_cast<uint32_t>(size));
    if (!Append(tail.data(), tail.size(), error)) return false;
    out_.close();
    if (out_.fail()) {
      error = "cannot write " + Utf8FromPath(temp_);
      return false;
    }
    // Durable before it has its name: a manifest written after it may list it.
    if (!FlushFileToDisk(temp_, error)) return false;
    done_ = true;
    zsize = zsize_;
    return RenameInto(temp_, target_, error);
  }

 private:
  fs::path target_, temp_;
  std::ofstream out_;
  uint64_t zsize_ = 0;
  bool done_ = false;
};

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
                 uint64_t size, ObjectClaims& claims, ChunkedFile& result, std::string& error, unsigned helpers,
                 const fs::path* wholeObject, uint64_t* wholeZsize) {
  result = ChunkedFile();
  if (!wholeObject && ReuseList(cdnRoot, trustExisting, sha256, size, result)) return true;
  std::unique_ptr<WholeObjectWriter> whole;
  if (wholeObject) {
    whole = std::make_unique<WholeObjectWriter>(*wholeObject);
    if (!whole->Start(error)) return false;
  }
  uLong crc = crc32(0, nullptr, 0);
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = "cannot open " + Utf8FromPath(file);
    return false;
  }
  ChunkList list;
  list.size = size;
  list.sha256 = sha256;
  Hasher digest(kHashSha256);
  ChunkCutter cutter;
  std::string chunk;
  chunk.reserve(kChunkMax);
  uint64_t offset = 0;
  // Chunks are digested and deflated on `helpers` threads a window at a time, and taken in
  // order, so that memory stays within a window's chunks and the output is the same bytes
  // whatever the number of threads.
  struct Pending {
    uint64_t offset = 0;
    std::string bytes, sha256, deflated, error;
    uint64_t written = 0;  // compressed bytes of a chunk object this run wrote
  };
  std::vector<Pending> window;
  const size_t windowSize = std::max<size_t>(2, size_t{helpers} * 4);
  const auto work = [&](size_t i) {
    Pending& p = window[i];
    Hasher hash(kHashSha256);
    hash.Update(p.bytes.data(), p.bytes.size());
    p.sha256 = hash.FinishHex();
    const fs::path target = cdnRoot / PathFromUtf8(ChunkObjectPath(p.sha256));
    // A hash another thread claimed is written by it; so is a whole file's object.
    const bool write =
        claims.Claim(p.sha256) && !HoldsContent(target, trustExisting, p.sha256, p.bytes.size());
    if (!write && !whole) return;
    ChunkDeflater deflater;
    if (!deflater.Deflate(p.bytes, p.deflated)) {
      p.error = "cannot compress " + Utf8FromPath(file);
      return;
    }
    if (!write) return;
    std::string object(kGzipHeader, sizeof(kGzipHeader));
    object += p.deflated;
    object.append(kFinalEmptyBlock, sizeof(kFinalEmptyBlock));
    AppendLittleEndian32(object, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(p.bytes.data()),
                                                             static_cast<uInt>(p.bytes.size()))));
    AppendLittleEndian32(object, static_cast<uint32_t>(p.bytes.size()));
    // Flushed before the rename: the list written after it names it.
    if (WriteFileAtomically(target, object, p.error)) p.written = object.size();
  };
  const auto settle = [&](size_t i) {
    Pending& p = window[i];
    if (!p.error.empty()) {
      error = p.error;
      return false;
    }
    if (whole && !whole->Append(p.deflated.data(), p.deflated.size(), error)) return false;
    if (p.written) ++result.newObjects, result.newBytes += p.written;
    list.chunks.push_back(ChunkEntry{p.offset, static_cast<uint32_t>(p.bytes.size()), std::move(p.sha256)});
    p = Pending();
    return true;
  };
  const auto flushWindow = [&] {
    const bool settled = ForEachInOrder(window.size(), helpers, work, settle);
    window.clear();
    return settled;
  };
  const auto endChunk = [&] {
    window.emplace_back();
    window.back().offset = offset;
    window.back().bytes.swap(chunk);
    offset += window.back().bytes.size();
    chunk.clear();
    chunk.reserve(kChunkMax);
    return window.size() < windowSize || flushWindow();
  };
  std::vector<char> buffer(kReadSize);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    if (got == 0) break;
    digest.Update(buffer.data(), got);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(got));
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
  if (!window.empty() && !flushWindow()) return false;
  if (offset != size || digest.FinishHex() != sha256) {
    error = Utf8FromPath(file) + " changed while it was published; publish again";
    return false;
  }
  if (whole && !whole->Finish(static_cast<uint32_t>(crc), size, *wholeZsize, error)) return false;
  result.chunks = list.chunks.size();
  // After every chunk object it names, so that a listed chunk is always there.
  return WriteFileAtomically(cdnRoot / PathFromUtf8(ChunkListPath(sha256)), WriteChunkList(list), error);
}

}  // namespace publish
