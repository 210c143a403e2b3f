// The HTTP client's decisions and texts as plain functions, tested without a network.
#pragma once

#include <cstdint>
#include <string>

#include "base/version.h"

inline constexpr uint32_t kReadBufferBytes = 262144;
inline constexpr const wchar_t* kUserAgent = L"TalvoreenLauncher/" TALVOREEN_VERSION_TEXT;

// Digits after "max=" in a Keep-Alive header ("timeout=5, max=100" gives 100); 0 when the
// text is shorter than 4 characters or has no "max=".
uint32_t ParseKeepAliveMax(const std::wstring& header);

// Leading decimal digits as an unsigned 64-bit number (a Content-Length text).
uint64_t ParseUnsignedDecimal(const std::wstring& text);

// Largest size a response header may announce: far beyond any real download, and far enough
// below 2^64 that no sum with an offset or the space reserve can wrap.
inline constexpr uint64_t kMaxAnnouncedBytes = 1ull << 50;

// The decimal number at text[pos] (pos moves past it); false when there is none or it is
// above kMaxAnnouncedBytes.
bool ReadAnnouncedSize(const std::wstring& text, size_t& pos, uint64_t& value);
// A Content-Length text: one such number, nothing else but spaces around it.
bool ParseContentLength(const std::wstring& text, uint64_t& value);
// Whether every number in a Content-Range text is within kMaxAnnouncedBytes.
bool ContentRangeNumbersInRange(const std::wstring& text);

// "a.b.c.d:port" and "[x:x:x:x:x:x:x:x]:port" (every group, lower-case hex, no compression).
std::wstring FormatIPv4Endpoint(const uint8_t address[4], uint16_t port);
std::wstring FormatIPv6Endpoint(const uint8_t address[16], uint16_t port);

// url + ("?" or "&") + "nocache=" + stamp.
std::wstring AppendNoCacheStamp(const std::wstring& url, uint64_t fileTime);

// A failed first attempt is tried once more with the conservative session only when the
// server was never reached, the client is not conservative already, nobody cancelled and the
// attempt had a helper at all (a refusal would only be refused again). After a call was left
// behind, the retry needs a helper of its own: only while fewer than the cap are left behind.
bool ShouldRetryInCompatibilityMode(bool reached, bool compatibilityMode, bool cancelled, bool helperRefused,
                                    bool callLeftBehind, bool leftBehindCapReached);

// The current user's browser proxy settings (Internet Options).
struct BrowserProxySettings {
  bool autoDetect = false;
  std::wstring autoConfigUrl;
  std::wstring proxy;   // "host:port" or "http=host:port;https=host:port"
  std::wstring bypass;
};
struct ProxyChoice {
  bool named = false;  // false: the session's own route (direct)
  std::wstring proxy;
  std::wstring bypass;
};
// Whether the automatic configuration (detection or a script) is to be asked for a URL.
bool AsksAutomaticProxy(const BrowserProxySettings& settings);
// What the settings choose: the automatic configuration's answer when it gave one (empty
// proxy: direct), else the manual proxy, else direct.
ProxyChoice ChooseBrowserProxy(const BrowserProxySettings& settings, bool automaticAnswered,
                               const std::wstring& automaticProxy, const std::wstring& automaticBypass);

std::wstring UnexpectedResponseText(uint32_t status);  // "Sunucu beklenmeyen yanıt verdi (HTTP n)"
std::wstring ServerErrorText(uint32_t status);         // 404 has its own text
std::wstring IncompleteBodyText(uint64_t received, uint64_t declared);  // "Yanıt yarım geldi (1 / 2 KB)"

inline constexpr const wchar_t* kSessionFailedText = L"Ağ bileşeni başlatılamadı";
inline constexpr const wchar_t* kInvalidAddressText = L"Geçersiz adres";
inline constexpr const wchar_t* kDownloadStoppedText = L"İndirme durduruldu";
inline constexpr const wchar_t* kEarlierCallsWaitingText =
    L"Önceki bağlantılar hâlâ yanıt bekliyor, biraz sonra tekrar dene";
inline constexpr const wchar_t* kProxyPasswordText = L"Ağdaki proxy sunucusu kullanıcı adı ve parola istiyor (HTTP 407)";
inline constexpr const wchar_t* kResponseTooLargeText = L"Sunucudan gelen yanıt çok büyük";
