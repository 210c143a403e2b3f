#pragma once

#include <cstdint>
#include <string>

// Turkish text of a WinHTTP or system network error code.
std::wstring NetworkErrorText(uint32_t code);

// "Sunucu 40 saniye boyunca yanıt vermedi"
std::wstring InactivityTimeoutText();

inline constexpr const wchar_t* kCancelledText = L"İptal edildi";
