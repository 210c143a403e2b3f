#include "net/http_rules.h"

#include <cstdio>

#include "base/text.h"

uint64_t ParseUnsignedDecimal(const std::wstring& text) {
  uint64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') break;
    const uint64_t digit = static_cast<uint64_t>(c - L'0');
    if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;  // a wrapped length could match by chance
    value = value * 10 + digit;
  }
  return value;
}

bool ReadAnnouncedSize(const std::wstring& text, size_t& pos, uint64_t& value) {
  const size_t start = pos;
  value = 0;
  for (; pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9'; ++pos) {
    value = value * 10 + static_cast<uint64_t>(text[pos] - L'0');
    if (value > kMaxAnnouncedBytes) return false;  // checked per digit, so nothing wraps
  }
  return pos > start;
}

bool ParseContentLength(const std::wstring& text, uint64_t& value) {
  size_t pos = text.find_first_not_of(L" \t");
  if (pos == std::wstring::npos || !ReadAnnouncedSize(text, pos, value)) return false;
  return text.find_first_not_of(L" \t", pos) == std::wstring::npos;
}

bool ContentRangeNumbersInRange(const std::wstring& text) {
  for (size_t pos = 0; pos < text.size();) {
    uint64_t value = 0;
    if (text[pos] < L'0' || text[pos] > L'9') {
      ++pos;
    } else if (!ReadAnnouncedSize(text, pos, value)) {
      return false;
    }
  }
  return true;
}

uint32_t ParseKeepAliveMax(const std::wstring& header) {
  if (header.size() < 4) return 0;
  const size_t pos = header.find(L"max=");
  if (pos == std::wstring::npos) return 0;
  return static_cast<uint32_t>(ParseUnsignedDecimal(header.substr(pos + 4)));
}

std::wstring FormatIPv4Endpoint(const uint8_t a[4], uint16_t port) {
  char text[96];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u:%u", a[0], a[1], a[2], a[3], static_cast<unsigned>(port));
  return WideFromUtf8(text);
}

std::wstring FormatIPv6Endpoint(const uint8_t a[16], uint16_t port) {
  unsigned g[8];
  for (int i = 0; i < 8; ++i) g[i] = (static_cast<unsigned>(a[2 * i]) << 8) | a[2 * i + 1];
  char text[96];
  std::snprintf(text, sizeof(text), "[%x:%x:%x:%x:%x:%x:%x:%x]:%u", g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7],
                static_cast<unsigned>(port));
  return WideFromUtf8(text);
}

std::wstring AppendNoCacheStamp(const std::wstring& url, uint64_t fileTime) {
  return url + (url.find(L'?') == std::wstring::npos ? L"?" : L"&") + L"nocache=" +
         DecimalText(static_cast<unsigned long long>(fileTime));
}

bool ShouldRetryInCompatibilityMode(bool reached, bool compatibilityMode, bool cancelled, bool helperRefused,
                                    bool callLeftBehind, bool leftBehindCapReached) {
  return !reached && !compatibilityMode && !cancelled && !helperRefused && !(callLeftBehind && leftBehindCapReached);
}

bool AsksAutomaticProxy(const BrowserProxySettings& settings) {
  return settings.autoDetect || !settings.autoConfigUrl.empty();
}

ProxyChoice ChooseBrowserProxy(const BrowserProxySettings& settings, bool automaticAnswered,
                               const std::wstring& automaticProxy, const std::wstring& automaticBypass) {
  ProxyChoice choice;
  if (AsksAutomaticProxy(settings) && automaticAnswered) {
    choice.named = !automaticProxy.empty();
    if (choice.named) {
      choice.proxy = automaticProxy;
      choice.bypass = automaticBypass;
    }
    return choice;
  }
  choice.named = !settings.proxy.empty();
  if (choice.named) {
    choice.proxy = settings.proxy;
    choice.bypass = settings.bypass;
  }
  return choice;
}

std::wstring UnexpectedResponseText(uint32_t status) {
  return L"Sunucu beklenmeyen yanıt verdi (HTTP " + DecimalText(static_cast<unsigned long long>(status)) + L")";
}

std::wstring ServerErrorText(uint32_t status) {
  if (status == 404) return L"Dosya sunucuda bulunamadı (HTTP 404)";
  return L"Sunucu hata döndürdü (HTTP " + DecimalText(static_cast<unsigned long long>(status)) + L")";
}

std::wstring IncompleteBodyText(uint64_t received, uint64_t declared) {
  return L"Yanıt yarım geldi (" + DecimalText(static_cast<unsigned long long>(received / 1024)) + L" / " +
         DecimalText(static_cast<unsigned long long>(declared / 1024)) + L" KB)";
}
