// Judging a player-count answer. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum PlayerCountState : int32_t { kPlayerCountUnknown = 0, kPlayerCountOnline = 1, kPlayerCountOffline = 2 };

struct PlayerCountEntry {
  int32_t state = kPlayerCountUnknown;
  uint32_t count = 0;  // meaningful in state online only
};

inline constexpr uint32_t kMaxPlayerCount = 99999;
inline constexpr size_t kMaxPlayerCountBodyBytes = 65536;  // longer answers are not parsed
inline constexpr uint64_t kMaxPlayerCountAge = 6000000000ull;  // 600 s in FILETIME units

// State online with the count, or offline, for the JSON body of an answer (offline when it is
// longer than kMaxPlayerCountBodyBytes, which bounds the parser's memory). now is the
// server's Date (or the local clock) as FILETIME; "lastUpdate" older than 10 minutes is stale.
PlayerCountEntry ParsePlayerCount(const std::string& body, uint64_t now);

struct FetchResult {
  bool ok = false;  // the request succeeded (2xx, at most 64 KiB)
  int32_t state = kPlayerCountOffline;
  uint32_t count = 0;
};

inline constexpr uint64_t kPlayerCountGrace = 1800000000ull;  // 180 s: a failing server keeps its count

// How a slot moves after a poll at time now: a valid count is taken; an answer that is
// unusable turns the slot offline at once; a failed request keeps a count for the grace period.
void ApplyPlayerCountResult(PlayerCountEntry& entry, uint64_t& lastGood, const FetchResult& result, uint64_t now);

// Calendar time (UTC) to FILETIME with the platform's validity rules; false when invalid.
bool CalendarToFileTime(int year, int month, int day, int hour, int minute, int second, int millisecond,
                        uint64_t& fileTime);

// The "lastUpdate" text as FILETIME (UTC); 0 when it carries no usable time stamp.
uint64_t ParseLastUpdateStamp(const std::string& text);
