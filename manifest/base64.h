// The platform's plain base64 decoding: the standard alphabet with "=" padding,
// no header lines; blanks and line breaks are skipped, any other foreign byte fails.
// Windows: CryptStringToBinaryA with CRYPT_STRING_BASE64 (base64_windows.cpp).
// Host build: the same rules in front of Crypto++'s decoder (base64_host.cpp).
#pragma once

#include <string>

bool DecodeBase64(const std::string& text, std::string& bytes);
