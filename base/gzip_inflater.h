// Streaming inflate of a gzip member, piece by piece as the network delivers it, handing
// each run of output to a sink. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class GzipInflater {
 public:
  static constexpr size_t kOutputBytes = 262144;
  // Receives inflated bytes; false stops inflating.
  using Sink = std::function<bool(const uint8_t* data, size_t length)>;

  GzipInflater();
  ~GzipInflater();
  GzipInflater(const GzipInflater&) = delete;
  GzipInflater& operator=(const GzipInflater&) = delete;

  // False on a decoder error or when the sink refused. Input after the end of the stream
  // is ignored.
  bool Feed(const uint8_t* data, size_t length, const Sink& sink);
  bool Ready() const { return ready_; }
  bool Finished() const { return finished_; }

 private:
  void* stream_ = nullptr;  // z_stream, kept out of the header
  bool ready_ = false;
  bool finished_ = false;
  std::vector<uint8_t> output_;
};
