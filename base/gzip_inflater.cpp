#include "base/gzip_inflater.h"

#include <zlib.h>

GzipInflater::GzipInflater() : output_(kOutputBytes) {
  auto* stream = new z_stream();
  stream_ = stream;
  ready_ = inflateInit2(stream, 15 + 16) == Z_OK;  // window 15, gzip wrapper
}

GzipInflater::~GzipInflater() {
  auto* stream = static_cast<z_stream*>(stream_);
  if (ready_) inflateEnd(stream);
  delete stream;
}

bool GzipInflater::Feed(const uint8_t* data, size_t length, const Sink& sink) {
  if (!ready_) return false;
  if (finished_) return true;
  auto* stream = static_cast<z_stream*>(stream_);
  stream->next_in = const_cast<Bytef*>(data);
  stream->avail_in = static_cast<uInt>(length);
  do {
    stream->next_out = output_.data();
    stream->avail_out = static_cast<uInt>(output_.size());
    const int result = inflate(stream, Z_NO_FLUSH);
    // Z_BUF_ERROR only says that no progress was possible with what is here; more comes.
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) return false;
    const size_t produced = output_.size() - stream->avail_out;
    if (produced > 0 && !sink(output_.data(), produced)) return false;
    if (result == Z_STREAM_END) {
      finished_ = true;
      return true;
    }
    if (result == Z_BUF_ERROR) break;
  } while (stream->avail_in > 0 || stream->avail_out == 0);
  return true;
}
