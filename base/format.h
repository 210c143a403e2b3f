// Turkish texts for sizes, speeds, durations and percentages, Windows error texts and
// version comparison. Stateless; safe from any thread. All but WindowsErrorText are portable.
#pragma once

#include <cstdint>
#include <string>

std::wstring FormatNumber(double value);          // "1,5", "99,9", "100,0", "150"
std::wstring FormatSize(uint64_t bytes);          // "512 B", "1,5 KB", "88,3 MB", "4,4 GB"
std::wstring FormatSpeed(double bytesPerSecond);  // FormatSize + "/sn"
std::wstring FormatDuration(double seconds);      // "45 sn", "4 dk 7 sn", "2 sa 5 dk"
std::wstring FormatPercent(double fraction);      // "%42"
std::wstring WindowsErrorText(uint32_t code);     // system message, or "Hata " + code
int CompareVersions(const std::string& a, const std::string& b);  // -1, 0, 1
