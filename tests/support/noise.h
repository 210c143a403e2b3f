// Bytes that do not compress and that content-defined chunking cuts as it cuts a packed
// archive, the same for the same seed.
#pragma once

#include <cstdint>
#include <string>

#include "manifest/chunking.h"

namespace testing_support {

inline std::string Noise(size_t size, uint64_t seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; i += 8) {
    const uint64_t value = SplitMix64(seed);
    for (size_t b = 0; b < 8 && i + b < size; ++b) bytes[i + b] = static_cast<char>(value >> (8 * b));
  }
  return bytes;
}

}  // namespace testing_support
