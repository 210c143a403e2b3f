#include "net/network_error_text.h"

#include <atomic>

#include "base/text.h"
#include "net/watchdog_rules.h"

namespace {

// Windows names the certificate's fault (12037 expired or not yet valid, 12038 another host
// name, 12045 unknown authority, 12169 invalid, 12179 wrong use, 12175 other) and a failed
// handshake (12157); Wine's WinHTTP reports every certificate fault as 12157 too.
bool IsSecureChannelError(uint32_t code) {
  switch (code) {
    case 12037:
    case 12038:
    case 12045:
    case 12157:
    case 12169:
    case 12175:
    case 12179: return true;
    default: return false;
  }
}

}  // namespace

std::wstring NetworkErrorText(uint32_t code) {
  if (IsSecureChannelError(code)) return kSecureChannelText;
  switch (code) {
    case 12002:
    case 10060:  // WSAETIMEDOUT: some WinHTTP implementations (Wine's) pass the socket's time-out through
      return L"Sunucu zamanında yanıt vermedi";
    case 12007: return L"Sunucu bulunamadı, internet bağlantını kontrol et";
    case 12029: return L"Sunucuya bağlanılamadı";
    case 12030:
    case 12152: return L"Bağlantı koptu";
    default: return L"Ağ hatası " + DecimalText(static_cast<unsigned long long>(code));
  }
}

namespace {
std::atomic<bool> g_tls12Unavailable{false};
}  // namespace

std::wstring NetworkErrorTextFor(uint32_t code, bool tls12Unavailable) {
  return tls12Unavailable && IsSecureChannelError(code) ? kTls12MissingText : NetworkErrorText(code);
}

void NoteTls12Unavailable() { g_tls12Unavailable = true; }
bool Tls12Unavailable() { return g_tls12Unavailable.load(); }

std::wstring InactivityTimeoutText() {
  return L"Sunucu " + DecimalText(static_cast<long long>(kInactivityTimeoutMs / 1000)) + L" saniye boyunca yanıt vermedi";
}
