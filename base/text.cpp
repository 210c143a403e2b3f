#include "base/text.h"

#include <climits>
#include <cstdint>
#include <cwchar>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendWide(std::wstring& out, char32_t cp) {
  if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (cp >> 10));
    out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<wchar_t>(cp);
  }
}

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

std::string Utf8FromWide(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(static_cast<std::make_unsigned<wchar_t>::type>(text[i]));
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      char32_t low = static_cast<char16_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (IsSurrogate(c) || c > 0x10FFFF) c = kReplacement;
    AppendUtf8(out, c);
  }
  return out;
}

std::wstring WideFromUtf8(const char* data, size_t size) {
  std::wstring out;
  out.reserve(size);
  const auto* s = reinterpret_cast<const unsigned char*>(data);
  size_t i = 0;
  while (i < size) {
    unsigned char b = s[i];
    if (b < 0x80) {
      out += static_cast<wchar_t>(b);
      ++i;
      continue;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b & 0xE0) == 0xC0) { extra = 1; cp = b & 0x1F; min = 0x80; }
    else if ((b & 0xF0) == 0xE0) { extra = 2; cp = b & 0x0F; min = 0x800; }
    else if ((b & 0xF8) == 0xF0) { extra = 3; cp = b & 0x07; min = 0x10000; }
    else { AppendWide(out, kReplacement); ++i; continue; }
    size_t j = 1;
    for (; j <= static_cast<size_t>(extra); ++j) {
      if (i + j >= size || (s[i + j] & 0xC0) != 0x80) break;
      cp = (cp << 6) | (s[i + j] & 0x3F);
    }
    if (j <= static_cast<size_t>(extra)) {  // truncated sequence: replace what was read
      AppendWide(out, kReplacement);
      i += j;
      continue;
    }
    if (cp < min || cp > 0x10FFFF || IsSurrogate(cp)) cp = kReplacement;
    AppendWide(out, cp);
    i += j;
  }
  return out;
}

std::wstring WideFromUtf8(const std::string& text) { return WideFromUtf8(text.data(), text.size()); }

bool EqualsIgnoreCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
#ifdef _WIN32
  if (a.empty()) return true;
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                              TRUE) == CSTR_EQUAL;
#else
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'a' && x <= L'z') x = static_cast<wchar_t>(x - 32);
    if (y >= L'a' && y <= L'z') y = static_cast<wchar_t>(y - 32);
    if (x != y) return false;
  }
  return true;
#endif
}

std::wstring DecimalText(long long value) { return std::to_wstring(value); }
std::wstring DecimalText(unsigned long long value) { return std::to_wstring(value); }

int ParseIntLikeWtoi(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::wstring EscapeControlCharacters(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (const wchar_t c : text) {
    const unsigned long code = static_cast<unsigned long>(c);
    if (c == L'\r') {
      out += L"\\r";
    } else if (c == L'\n') {
      out += L"\\n";
    } else if (c == L'\t') {
      out += L"\\t";
    } else if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
      wchar_t escaped[8];
      std::swprintf(escaped, 8, L"\\x%02lX", code);
      out += escaped;
    } else if (code == 0x2028 || code == 0x2029) {
      wchar_t escaped[8];
      std::swprintf(escaped, 8, L"\\u%04lX", code);
      out += escaped;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::wstring JoinReason(const std::wstring& prefix, const std::wstring& reason) {
  const std::wstring a = prefix.substr(0, prefix.find(L' '));
  const std::wstring b = reason.substr(0, reason.find(L' '));
  const std::wstring& shorter = a.size() <= b.size() ? a : b;
  const std::wstring& longer = a.size() <= b.size() ? b : a;
  constexpr size_t kShortestStem = 4;  // below this a shared start is a coincidence, not a repeat
  if (shorter.size() >= kShortestStem && longer.compare(0, shorter.size(), shorter) == 0) return reason;
  return prefix + L": " + reason;
}
