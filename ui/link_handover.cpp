#include "ui/link_handover.h"

bool ReadForwardedLink(const COPYDATASTRUCT* data, std::wstring& link) {
  if (!data || data->dwData != kLinkCopyDataMagic || !data->lpData) return false;
  if (data->cbData == 0 || data->cbData > kMaxForwardedLinkBytes || data->cbData % sizeof(wchar_t) != 0) return false;
  // Never trust the sender's terminator: read at most cbData bytes and stop at a NUL.
  const size_t chars = data->cbData / sizeof(wchar_t);
  const auto* text = static_cast<const wchar_t*>(data->lpData);
  size_t length = 0;
  while (length < chars && text[length] != L'\0') ++length;
  link.assign(text, length);
  return true;
}
