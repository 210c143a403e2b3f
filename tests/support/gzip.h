// A gzip member of some bytes, made with zlib, for tests that serve or inflate objects.
#pragma once

#include <zlib.h>

#include <string>

namespace testing_support {

inline std::string Gzip(const std::string& data) {
  z_stream s{};
  deflateInit2(&s, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(compressBound(static_cast<uLong>(data.size())) + 64, '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(&out[0]);
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

}  // namespace testing_support
