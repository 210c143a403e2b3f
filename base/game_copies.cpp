#include "base/game_copies.h"

#include "base/text.h"

std::wstring GameInstanceMutexName(int copy) {
  std::wstring name = kGameInstanceMutexBase;
  if (copy >= 2) name += L"-" + DecimalText(static_cast<long long>(copy));
  return name;
}

std::wstring LaunchPermissionEventName(int copy, const std::string& tokenDigestHex) {
  return kLaunchPermissionEventBase + DecimalText(static_cast<long long>(copy)) + L"-" + WideFromUtf8(tokenDigestHex);
}

bool IsWellFormedLaunchToken(const std::wstring& token) {
  if (token.size() != kLaunchPermissionTokenLength) return false;
  for (wchar_t c : token) {
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
  }
  return true;
}

int GameCopyFromVariable(const wchar_t* value) {
  if (value == nullptr) return 1;
  const std::wstring text = value;
  if (text.empty() || text.size() > 2 || text[0] == L'0') return 0;
  int copy = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return 0;
    copy = copy * 10 + (c - L'0');
  }
  return copy <= kGameCopyLimit ? copy : 0;
}

std::wstring QuoteCommandArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  return QuotedCommandArgument(argument);
}

std::wstring QuotedCommandArgument(const std::wstring& argument) {
  // Backslashes are literal except in front of a quote, where each one must be doubled.
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}
