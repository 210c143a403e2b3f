#include "base/format.h"

#include <cmath>
#include <cstdio>

#include "base/text.h"

std::wstring FormatNumber(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), value < 100 ? "%.1f" : "%.0f", value);
  std::wstring text;
  for (const char* p = buffer; *p; ++p) text += (*p == '.') ? L',' : static_cast<wchar_t>(*p);
  return text;
}

std::wstring FormatSize(uint64_t bytes) {
  const double x = static_cast<double>(bytes);
  if (x < 1024.0) return DecimalText(static_cast<unsigned long long>(bytes)) + L" B";
  if (x < 1048576.0) return FormatNumber(x / 1024.0) + L" KB";
  if (x < 1073741824.0) return FormatNumber(x / 1048576.0) + L" MB";
  return FormatNumber(x / 1073741824.0) + L" GB";
}

std::wstring FormatSpeed(double bytesPerSecond) {
  // Negative, NaN and huge rates would be undefined in the conversion; they are clamped.
  uint64_t bytes = 0;
  if (bytesPerSecond >= 18446744073709549568.0) {
    bytes = UINT64_MAX;
  } else if (bytesPerSecond >= 1.0) {
    bytes = static_cast<uint64_t>(bytesPerSecond);
  }
  return FormatSize(bytes) + L"/sn";
}

std::wstring FormatDuration(double seconds) {
  long long s = 1;
  double rounded = seconds + 0.5;
  if (rounded >= 9.2e18) {
    s = 9200000000000000000LL;
  } else if (rounded >= 1.0) {
    s = static_cast<long long>(rounded);
  }
  if (s < 60) return DecimalText(s) + L" sn";
  if (s < 3600) return DecimalText(s / 60) + L" dk " + DecimalText(s % 60) + L" sn";
  return DecimalText(s / 3600) + L" sa " + DecimalText((s % 3600) / 60) + L" dk";
}

std::wstring FormatPercent(double fraction) {
  if (!(fraction > 0)) fraction = 0;  // NaN counts as nothing done
  if (fraction > 1) fraction = 1;
  int percent = static_cast<int>(fraction * 100.0);
  return L"%" + DecimalText(static_cast<long long>(percent));
}

int CompareVersions(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  auto readNumber = [](const std::string& s, size_t& pos) {
    unsigned long long value = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
      if (value <= (UINT64_MAX - 9) / 10) value = value * 10 + static_cast<unsigned>(s[pos] - '0');
      ++pos;
    }
    if (pos < s.size()) ++pos;  // one separator
    return value;
  };
  while (i < a.size() || j < b.size()) {
    unsigned long long x = readNumber(a, i);
    unsigned long long y = readNumber(b, j);
    if (x < y) return -1;
    if (x > y) return 1;
  }
  return 0;
}

std::wstring WithSystemText(const std::wstring& what, const std::wstring& place, const std::wstring& systemText) {
  std::wstring text = place.empty() ? what : what + L" (" + place + L")";
  if (!systemText.empty()) text += L": " + systemText;
  return text;
}

std::wstring WithSystemText(const std::wstring& what, const std::wstring& systemText) {
  return WithSystemText(what, std::wstring(), systemText);
}
