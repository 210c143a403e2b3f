#include "net/network_error_text.h"

#include <atomic>

#include "base/text.h"
#include "net/watchdog_rules.h"

std::wstring NetworkErrorText(uint32_t code) {
  switch (code) {
    case 12002:
    case 10060:  // WSAETIMEDOUT: some WinHTTP implementations (Wine's) pass the socket's time-out through
      return L"Sunucu zamanında yanıt vermedi";
    case 12007: return L"Sunucu bulunamadı, internet bağlantını kontrol et";
    case 12029: return L"Sunucuya bağlanılamadı";
    case 12030:
    case 12152: return L"Bağlantı koptu";
    case 12175: return L"Güvenli bağlantı kurulamadı (sistem saatini kontrol et)";
    default: return L"Ağ hatası " + DecimalText(static_cast<unsigned long long>(code));
  }
}

namespace {
std::atomic<bool> g_tls12Unavailable{false};
}  // namespace

std::wstring NetworkErrorTextFor(uint32_t code, bool tls12Unavailable) {
  std::wstring text = NetworkErrorText(code);
  if (tls12Unavailable && text == kSecureChannelText) text = kTls12MissingText;
  return text;
}

void NoteTls12Unavailable() { g_tls12Unavailable = true; }
bool Tls12Unavailable() { return g_tls12Unavailable.load(); }

std::wstring InactivityTimeoutText() {
  return L"Sunucu " + DecimalText(static_cast<long long>(kInactivityTimeoutMs / 1000)) + L" saniye boyunca yanıt vermedi";
}
