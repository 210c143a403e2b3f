#pragma once

#include <cstdint>
#include <string>

// Turkish text of a WinHTTP or system network error code.
std::wstring NetworkErrorText(uint32_t code);

// NetworkErrorText, except that on a system where WinHTTP could not enable TLS 1.2 (Windows 7
// or 8.0 without its update) a failed secure channel names the missing update, not the clock.
std::wstring NetworkErrorTextFor(uint32_t code, bool tls12Unavailable);
// Whether this process's sessions could not enable TLS 1.2; set once, never cleared.
void NoteTls12Unavailable();
bool Tls12Unavailable();

// "Sunucu 40 saniye boyunca yanıt vermedi"
std::wstring InactivityTimeoutText();

inline constexpr const wchar_t* kCancelledText = L"İptal edildi";
inline constexpr const wchar_t* kSecureChannelText = L"Güvenli bağlantı kurulamadı (sistem saatini kontrol et)";
inline constexpr const wchar_t* kTls12MissingText =
    L"Güvenli bağlantı kurulamadı (Windows'un TLS 1.2 güncellemesi eksik, Windows Update'i çalıştır)";
