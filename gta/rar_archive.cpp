#include "gta/rar_archive.h"

#include <memory>
#include <vector>

#include <unrar/dll.hpp>

#include "base/files.h"

int RarArchive::Open(const std::wstring& path, Mode mode, Progress progress) {
  Close();
  progress_ = std::move(progress);
  // When the library cannot open the archive it makes further calls of its own (a second try
  // under the long name, its clean-up) before returning, and the system error of the failed
  // open is lost. So the archive is opened here first, as the library opens it (reading,
  // sharing reading and writing), and a failure is taken from that call. The handle stays
  // open beside the library's: no program can then take the file for itself in between.
  archiveFile_.Reset(CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!archiveFile_.Valid()) {
    systemError_ = GetLastError();
    return ERAR_EOPEN;
  }
  RAROpenArchiveDataEx data{};
  std::wstring name = path;
  data.ArcNameW = &name[0];
  data.OpenMode = mode == Mode::List ? RAR_OM_LIST : RAR_OM_EXTRACT;
  data.Callback = &RarArchive::Callback;
  data.UserData = reinterpret_cast<LPARAM>(this);
  SetLastError(0);
  handle_ = RAROpenArchiveEx(&data);
  systemError_ = !handle_ || data.OpenResult != 0 ? GetLastError() : 0;
  flags_ = data.Flags;
  if (!handle_) {
    archiveFile_.Reset();
    return data.OpenResult != 0 ? static_cast<int>(data.OpenResult) : ERAR_EOPEN;
  }
  if (data.OpenResult != 0) {
    Close();
    return static_cast<int>(data.OpenResult);
  }
  return 0;
}

void RarArchive::Close() {
  if (handle_) RARCloseArchive(handle_);
  handle_ = nullptr;
  archiveFile_.Reset();
}

bool RarArchive::IsMultiVolume() const { return flags_ & ROADF_VOLUME; }
bool RarArchive::HasEncryptedHeaders() const { return flags_ & ROADF_ENCHEADERS; }

int RarArchive::ReadHeader(RarEntry& entry) {
  // The header record is large (over 8 KiB); keep it off the worker's stack.
  auto header = std::make_unique<RARHeaderDataEx>();
  SetLastError(0);
  const int code = RARReadHeaderEx(handle_, header.get());
  systemError_ = code != 0 ? GetLastError() : 0;
  if (code != 0) return code;
  header->FileNameW[sizeof(header->FileNameW) / sizeof(wchar_t) - 1] = L'\0';
  entry.name = header->FileNameW;
  entry.unpackedSize = (static_cast<uint64_t>(header->UnpSizeHigh) << 32) | header->UnpSize;
  entry.isFolder = header->Flags & RHDF_DIRECTORY;
  entry.isLink = header->RedirType != 0;
  entry.isEncrypted = header->Flags & RHDF_ENCRYPTED;
  return 0;
}

int RarArchive::Skip() {
  SetLastError(0);
  const int code = RARProcessFileW(handle_, RAR_SKIP, nullptr, nullptr);
  systemError_ = code != 0 ? GetLastError() : 0;
  return code;
}

int RarArchive::ExtractInto(const std::wstring& folder) {
  std::wstring destination = folder;
  SetLastError(0);
  const int code = RARProcessFileW(handle_, RAR_EXTRACT, &destination[0], nullptr);
  systemError_ = code != 0 ? GetLastError() : 0;
  return code;
}

int CALLBACK RarArchive::Callback(UINT message, LPARAM user, LPARAM, LPARAM p2) {
  // The library calls back in C: nothing may throw through here.
  auto* self = reinterpret_cast<RarArchive*>(user);
  switch (message) {
    case UCM_PROCESSDATA:
      try {
        return !self->progress_ || self->progress_(static_cast<uint64_t>(static_cast<unsigned long>(p2))) ? 1 : -1;
      } catch (...) {
        return -1;
      }
    default:
      // Volume changes, passwords and anything a newer library may ask are refused.
      return -1;
  }
}
