#include <windows.h>

#include "base/files.h"
#include "manifest/installed_state.h"

namespace {

uint64_t Ticks(const FILETIME& time) { return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

}  // namespace

StateFileStamp StampStateFile(const std::wstring& path) {
  StateFileStamp stamp;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return stamp;
  }
  stamp.exists = true;
  stamp.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp.created = Ticks(data.ftCreationTime);
  stamp.written = Ticks(data.ftLastWriteTime);
  return stamp;
}

StateFileRead ReadStateFile(const std::wstring& path, bool checkCanonical) {
  StateFileRead read;
  read.stamp = StampStateFile(path);
  // An oversized file is refused before it is read whole.
  if (!read.stamp.exists || read.stamp.size > kMaxStateFileBytes) return read;
  std::string text;
  if (!ReadWholeFile(path, text)) return read;
  read.state = ParseInstalledState(text);
  read.canonical = checkCanonical && read.state && text.size() == read.stamp.size && SerializesTo(*read.state, text);
  return read;
}

std::optional<InstalledState> ReadInstalledState(const std::wstring& path) { return ReadStateFile(path, false).state; }

bool WriteInstalledState(const std::wstring& path, const InstalledState& state, bool* tooLarge, std::wstring* error) {
  const std::string text = SerializeInstalledState(state);
  if (tooLarge) *tooLarge = text.size() > kMaxStateFileBytes;
  if (text.size() > kMaxStateFileBytes) {
    if (error) error->clear();
    return false;
  }
  std::wstring failure;
  const bool written = WriteFileAtomic(path, text, failure);
  if (error) *error = failure;
  return written;
}
