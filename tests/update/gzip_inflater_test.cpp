#include <gtest/gtest.h>


#include "base/gzip_inflater.h"
#include "tests/support/gzip.h"

using testing_support::Gzip;

namespace {


std::string Inflate(const std::string& gz, size_t piece, bool& ok, bool& finished) {
  GzipInflater inflater;
  std::string out;
  ok = true;
  for (size_t i = 0; i < gz.size() && ok; i += piece) {
    ok = inflater.Feed(reinterpret_cast<const uint8_t*>(gz.data()) + i, std::min(piece, gz.size() - i),
                       [&](const uint8_t* d, size_t n) {
                         out.append(reinterpret_cast<const char*>(d), n);
                         return true;
                       });
  }
  finished = inflater.Finished();
  return out;
}

TEST(GzipInflater, AnyPieceSizeGivesTheSameOutput) {
  std::string data;
  for (int i = 0; i < 700000; ++i) data += static_cast<char>((i * 31) % 251);  // more than one output buffer
  const std::string gz = Gzip(data);
  for (size_t piece : {size_t(1), size_t(7), size_t(4096), gz.size()}) {
    bool ok = false, finished = false;
    EXPECT_EQ(Inflate(gz, piece, ok, finished), data) << piece;
    EXPECT_TRUE(ok);
    EXPECT_TRUE(finished);
  }
}

TEST(GzipInflater, TrailingBytesAreIgnoredAndTruncationIsUnfinished) {
  bool ok = false, finished = false;
  EXPECT_EQ(Inflate(Gzip("hello") + "garbage after the end", 3, ok, finished), "hello");
  EXPECT_TRUE(ok && finished);
  const std::string gz = Gzip(std::string(5000, 'x'));
  Inflate(gz.substr(0, gz.size() - 6), 100, ok, finished);
  EXPECT_TRUE(ok);
  EXPECT_FALSE(finished);  // the caller sees an incomplete object
}

TEST(GzipInflater, CorruptDataAndARefusingSinkStop) {
  bool ok = true, finished = false;
  Inflate("this is not gzip at all", 5, ok, finished);
  EXPECT_FALSE(ok);
  std::string noise(100000, '\0');
  unsigned seed = 7;
  for (char& c : noise) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
  std::string gz = Gzip(noise);  // stored blocks: a flipped byte changes the content, the CRC catches it
  gz[gz.size() / 2] ^= 0x55;
  Inflate(gz, 1000, ok, finished);
  EXPECT_FALSE(ok && finished);

  GzipInflater inflater;
  const std::string good = Gzip("abc");
  EXPECT_FALSE(inflater.Feed(reinterpret_cast<const uint8_t*>(good.data()), good.size(),
                             [](const uint8_t*, size_t) { return false; }));
}

}  // namespace
