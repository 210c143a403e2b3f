// libFuzzer target: a player-count answer. The verdict is online with a count in range, or
// offline, whatever the body holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/player_count_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  uint64_t now = 0;
  if (size >= sizeof now) std::memcpy(&now, data, sizeof now);
  const PlayerCountEntry entry = ParsePlayerCount(body, now);
  if (entry.state == kPlayerCountOnline) {
    if (entry.count > kMaxPlayerCount) std::abort();
  } else if (entry.state != kPlayerCountOffline || entry.count != 0) {
    std::abort();
  }
  ParseLastUpdateStamp(body);
  return 0;
}
