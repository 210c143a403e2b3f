#include <windows.h>

#include <functional>

#include "base/files.h"
#include "base/handles.h"
#include "base/log.h"
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

bool ReadStateFileEntries(const std::wstring& path, const std::function<void(InstalledFile&&)>& onEntry,
                          StateFileStamp& stamp, StateTextFacts& facts, bool checkCanonical) {
  stamp = StampStateFile(path);
  // An oversized file is refused before it is read.
  if (!stamp.exists || stamp.size > kMaxStateFileBytes) return false;
  UniqueHandle file(CreateFileW(LongPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.Valid()) return false;
  bool failed = false;
  uint64_t total = 0;
  const std::function<size_t(char*, size_t)> pieces = [&](char* buffer, size_t size) -> size_t {
    DWORD got = 0;
    if (failed || !ReadFile(file.Get(), buffer, static_cast<DWORD>(size), &got, nullptr)) {
      failed = true;
      return 0;
    }
    total += got;
    return got;
  };
  const bool read = ReadInstalledStateEntries(pieces, onEntry, facts, checkCanonical) && !failed;
  // A file that changed size while it was read is not the version the stamp describes.
  facts.canonical = facts.canonical && total == stamp.size;
  return read;
}

StateFileRead ReadStateFile(const std::wstring& path, bool checkCanonical) {
  StateFileRead read;
  InstalledState state;
  StateTextFacts facts;
  const std::function<void(InstalledFile&&)> keep = [&state](InstalledFile&& entry) {
    state.files.push_back(std::move(entry));
  };
  if (!ReadStateFileEntries(path, keep, read.stamp, facts, checkCanonical)) {
    // Earlier builds read a record whose "files" member repeats with json-c, where the last
    // one counts. Such a file is rare, so it is read whole the same way rather than dropped
    // with the ownership of the files it lists.
    std::string text;
    if (facts.filesRepeated && ReadWholeFile(path, text)) read.state = ParseInstalledState(text);
    if (read.state) LogLine(L"state file " + path + L" repeats its \"files\" member; the last one is read");
    return read;
  }
  state.build = std::move(facts.build);
  state.complete = facts.complete;
  read.state = std::move(state);
  read.canonical = facts.canonical;
  return read;
}

std::optional<InstalledState> ReadInstalledState(const std::wstring& path) { return ReadStateFile(path, false).state; }

bool WriteInstalledState(const std::wstring& path, const InstalledState& state, bool* tooLarge, std::wstring* error) {
  return WriteInstalledStateEntries(
      path, state.build, state.complete,
      [&state](const EmitStateEntry& emit) {
        for (const InstalledFile& file : state.files) {
          if (!emit(file)) return false;
        }
        return true;
      },
      tooLarge, error);
}

bool WriteInstalledStateEntries(const std::wstring& path, const std::string& build, bool complete,
                                const std::function<bool(const EmitStateEntry& emit)>& produce, bool* tooLarge,
                                std::wstring* error) {
  // Written as it is made, through a buffer of a few hundred entries: the largest state is
  // tens of megabytes of text. A text over the limit is given up when it gets there, leaving the
  // previous file.
  constexpr size_t kBuffered = 262144;
  bool over = false;
  std::wstring failure;
  const bool written = WriteFileAtomicPieces(
      path,
      [&](const WritePiece& write) {
        std::string buffer;
        buffer.reserve(kBuffered + 4096);
        uint64_t total = 0;
        const bool emitted = EmitInstalledStateEntries(build, complete, produce, [&](const std::string& piece) {
          total += piece.size();
          if (total > kMaxStateFileBytes) {
            over = true;
            return false;
          }
          buffer += piece;
          if (buffer.size() < kBuffered) return true;
          const bool ok = write(buffer.data(), buffer.size());
          buffer.clear();
          return ok;
        });
        return emitted && write(buffer.data(), buffer.size());
      },
      failure);
  if (tooLarge) *tooLarge = over;
  if (error) *error = over ? std::wstring() : failure;
  return written;
}
