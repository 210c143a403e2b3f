#include "net/player_count_parse.h"

#include <json-c/json.h>

#include <cmath>
#include <cstdio>
#include <memory>

namespace {

struct JsonDeleter {
  void operator()(json_object* object) const { json_object_put(object); }
};

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Days from 1601-01-01 to the given date (proleptic Gregorian).
int64_t DaysSince1601(int year, int month, int day) {
  const int64_t y = year - 1601;
  int64_t days = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  return days + (day - 1);
}

}  // namespace

bool CalendarToFileTime(int year, int month, int day, int hour, int minute, int second, int millisecond,
                        uint64_t& fileTime) {
  if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
      millisecond > 999) {
    return false;
  }
  const int64_t seconds = ((DaysSince1601(year, month, day) * 24 + hour) * 60 + minute) * 60 + second;
  fileTime = static_cast<uint64_t>(seconds) * 10000000ull + static_cast<uint64_t>(millisecond) * 10000ull;
  return true;
}

uint64_t ParseLastUpdateStamp(const std::string& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  double seconds = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%lf", &year, &month, &day, &hour, &minute, &seconds) < 6) {
    return 0;
  }
  // sscanf also reads "nan" and "inf"; such seconds carry no time just as out-of-range ones.
  if (!std::isfinite(seconds) || seconds < 0 || seconds >= 61) return 0;
  const double whole = std::floor(seconds);
  const int millisecond = static_cast<int>((seconds - whole) * 1000);
  uint64_t stamp = 0;
  if (!CalendarToFileTime(year, month, day, hour, minute, static_cast<int>(whole), millisecond, stamp)) return 0;

  if (text.size() > 19) {
    const size_t pos = text.find_first_of("Z+-", 19);
    if (pos != std::string::npos && text[pos] != 'Z') {
      int hours = 0, minutes = 0;
      if (std::sscanf(text.c_str() + pos + 1, "%2d:%2d", &hours, &minutes) == 2) {
        const int64_t offset = (static_cast<int64_t>(hours) * 60 + minutes) * 600000000ll;
        int64_t adjusted = static_cast<int64_t>(stamp) + (text[pos] == '+' ? -offset : offset);
        stamp = adjusted > 0 ? static_cast<uint64_t>(adjusted) : 0;
      }
    }
  }
  return stamp;
}

PlayerCountEntry ParsePlayerCount(const std::string& body, uint64_t now) {
  PlayerCountEntry offline;
  offline.state = kPlayerCountOffline;
  if (body.size() > kMaxPlayerCountBodyBytes) return offline;

  json_tokener* tokener = json_tokener_new();
  if (!tokener) return offline;
  std::unique_ptr<json_object, JsonDeleter> root(
      json_tokener_parse_ex(tokener, body.data(), static_cast<int>(body.size())));
  const bool complete = json_tokener_get_error(tokener) == json_tokener_success;
  json_tokener_free(tokener);
  if (!root || !complete) return offline;

  json_object* error = nullptr;
  if (json_object_object_get_ex(root.get(), "error", &error) && json_object_get_boolean(error)) return offline;
  json_object* data = nullptr;
  if (!json_object_object_get_ex(root.get(), "data", &data) || !json_object_is_type(data, json_type_object)) {
    return offline;
  }
  json_object* count = nullptr;
  if (!json_object_object_get_ex(data, "playerCount", &count) || !json_object_is_type(count, json_type_int)) {
    return offline;
  }
  const int64_t value = json_object_get_int64(count);
  if (value < 0 || value > kMaxPlayerCount) return offline;

  json_object* lastUpdate = nullptr;
  if (json_object_object_get_ex(data, "lastUpdate", &lastUpdate) && json_object_is_type(lastUpdate, json_type_string)) {
    const uint64_t stamp = ParseLastUpdateStamp(json_object_get_string(lastUpdate));
    if (stamp != 0 && now > stamp && now - stamp > kMaxPlayerCountAge) return offline;
  }
  PlayerCountEntry online;
  online.state = kPlayerCountOnline;
  online.count = static_cast<uint32_t>(value);
  return online;
}

void ApplyPlayerCountResult(PlayerCountEntry& entry, uint64_t& lastGood, const FetchResult& result,
                                     uint64_t now) {
  if (result.state == kPlayerCountOnline) {
    entry.state = kPlayerCountOnline;
    entry.count = result.count;
    lastGood = now;
  } else if (result.ok) {
    entry = PlayerCountEntry{kPlayerCountOffline, 0};  // answered, but unusable or stale
  } else if (!(entry.state == kPlayerCountOnline && now >= lastGood && now - lastGood <= kPlayerCountGrace)) {
    entry = PlayerCountEntry{kPlayerCountOffline, 0};
  }
}
