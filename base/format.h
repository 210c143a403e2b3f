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

// The one form of every failure text that carries the system's reason: what failed, the place
// it concerns in parentheses when there is one, then the system's text after a colon
// ("Kurulum bilgisi kaydedilemedi (C:\...\installed.json): Disk dolu"). An empty system text
// leaves the colon out.
std::wstring WithSystemText(const std::wstring& what, const std::wstring& place, const std::wstring& systemText);
std::wstring WithSystemText(const std::wstring& what, const std::wstring& systemText);
std::wstring WithSystemError(const std::wstring& what, uint32_t code);  // WindowsErrorText of code
std::wstring WithSystemError(const std::wstring& what, const std::wstring& place, uint32_t code);
int CompareVersions(const std::string& a, const std::string& b);  // -1, 0, 1
