#include <windows.h>

#include "base/files.h"
#include "manifest/installed_state.h"

std::optional<InstalledState> ReadInstalledState(const std::wstring& path) {
  {
    // Refuse an oversized file before reading it whole.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size > kMaxStateFileBytes) return std::nullopt;
  }
  std::string text;
  if (!ReadWholeFile(path, text)) return std::nullopt;
  return ParseInstalledState(text);
}

bool WriteInstalledState(const std::wstring& path, const InstalledState& state, bool* tooLarge) {
  const std::string text = SerializeInstalledState(state);
  if (tooLarge) *tooLarge = text.size() > kMaxStateFileBytes;
  return text.size() <= kMaxStateFileBytes && WriteFileAtomic(path, text);
}
