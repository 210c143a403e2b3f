// Text conversion and comparison shared by every layer. Portable: on Windows wchar_t holds
// UTF-16, elsewhere UTF-32; both are handled so that parsers can be tested on the host.
#pragma once

#include <string>

// Invalid input becomes U+FFFD, as the system converters do without strict flags.
std::string Utf8FromWide(const std::wstring& text);
std::wstring WideFromUtf8(const std::string& text);
std::wstring WideFromUtf8(const char* data, size_t size);

// Ordinal, case-insensitive (ASCII letters fold; on Windows the system's ordinal table).
bool EqualsIgnoreCase(const std::wstring& a, const std::wstring& b);

// Plain decimal without grouping, the way every count is shown.
std::wstring DecimalText(long long value);
std::wstring DecimalText(unsigned long long value);

// The text with every control character written visibly, so that text from outside (a link,
// a server's error text, a file name, a header value) cannot start a line of its own: CR, LF
// and tab as \r, \n and \t, the other C0 and C1 controls, DEL and the Unicode line and
// paragraph separators as \xHH or \uHHHH. Everything else, backslashes included, stays.
std::wstring EscapeControlCharacters(const std::wstring& text);

// Leading-digit parse in the manner of _wtoi: optional blanks and sign, then digits;
// nothing parsable gives 0, values beyond the int range saturate.
int ParseIntLikeWtoi(const std::wstring& text);

// "prefix: reason", or the reason alone when its first word names what the prefix's first
// word names (the same word, or it with a Turkish case ending: "Sunucu", "Sunucuya"), so that
// "Sunucuya ulaşılamadı" is not followed by "Sunucuya bağlanılamadı".
std::wstring JoinReason(const std::wstring& prefix, const std::wstring& reason);
