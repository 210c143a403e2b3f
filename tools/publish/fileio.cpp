#include "tools/publish/fileio.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#include <process.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace publish {

namespace {

std::string SystemErrorText(int code) { return std::error_code(code, std::system_category()).message(); }

#ifdef _WIN32
std::string LastErrorText() { return SystemErrorText(static_cast<int>(GetLastError())); }

// Writes bytes to a handle and flushes them to the disk.
bool WriteAllAndFlush(HANDLE file, const std::string& bytes) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - offset, 1u << 24));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + offset, chunk, &written, nullptr) || written != chunk) return false;
    offset += written;
  }
  return FlushFileBuffers(file) != 0;
}
#else
std::string LastErrorText() { return SystemErrorText(errno); }

bool WriteAllAndFlush(int fd, const std::string& bytes) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + offset, bytes.size() - offset);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    offset += static_cast<size_t>(written);
  }
  return ::fsync(fd) == 0;
}
#endif

int ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<int>(::getpid());
#endif
}

}  // namespace

fs::path PathFromUtf8(const std::string& text) { return fs::u8path(text); }

std::string Utf8FromPath(const fs::path& path) { return path.u8string(); }

bool IsValidUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t extra = 0;
    uint32_t code = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1, code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, code = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const unsigned char d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      code = (code << 6) | (d & 0x3F);
    }
    static const uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (code < kMinimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

bool ReadFileBytes(const fs::path& path, std::string& bytes, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + Utf8FromPath(path);
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "cannot read " + Utf8FromPath(path);
    return false;
  }
  return true;
}

fs::path TemporaryNameFor(const fs::path& path) {
  fs::path temp = path;
  temp += PathFromUtf8(".tmp-" + std::to_string(ProcessId()));
  return temp;
}

bool FlushFileToDisk(const fs::path& path, std::string& error) {
#ifdef _WIN32
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  const bool flushed = file != INVALID_HANDLE_VALUE && FlushFileBuffers(file);
  if (!flushed) error = "cannot flush " + Utf8FromPath(path) + ": " + LastErrorText();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool flushed = fd >= 0 && ::fsync(fd) == 0;
  if (!flushed) error = "cannot flush " + Utf8FromPath(path) + ": " + LastErrorText();
  if (fd >= 0) ::close(fd);
#endif
  return flushed;
}

bool RenameInto(const fs::path& temp, const fs::path& target, std::string& error) {
#ifdef _WIN32
  const bool moved = MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!moved) error = "cannot move into place " + Utf8FromPath(target) + ": " + LastErrorText();
#else
  const bool moved = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!moved) error = "cannot move into place " + Utf8FromPath(target) + ": " + LastErrorText();
  if (moved) {
    // The new name is an entry of the folder: flushing the folder makes the rename durable.
    const fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const int folder = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
      ::fsync(folder);
      ::close(folder);
    }
  }
#endif
  std::error_code ignored;
  if (!moved) fs::remove(temp, ignored);
  return moved;
}

bool WriteFileAtomically(const fs::path& path, const std::string& bytes, std::string& error) {
  std::error_code ec;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  const fs::path temp = TemporaryNameFor(path);
  bool written = false;
#ifdef _WIN32
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    written = WriteAllAndFlush(file, bytes);
    CloseHandle(file);
  }
#else
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) {
    written = WriteAllAndFlush(fd, bytes);
    written = (::close(fd) == 0) && written;
  }
#endif
  if (!written) {
    error = "cannot write " + Utf8FromPath(temp) + ": " + LastErrorText();
    fs::remove(temp, ec);
    return false;
  }
  return RenameInto(temp, path, error);
}

bool CreateOwnerOnlyFile(const fs::path& path, const std::string& bytes, std::string& error) {
#ifdef _WIN32
  // Owner rights only, not inherited from the folder.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;OW)", SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    error = "cannot build an owner-only access list: " + LastErrorText();
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD createError = GetLastError();
  LocalFree(descriptor);
  if (file == INVALID_HANDLE_VALUE) {
    error = createError == ERROR_FILE_EXISTS
                ? Utf8FromPath(path) + " already exists; it is not overwritten"
                : "cannot create " + Utf8FromPath(path) + ": " + SystemErrorText(createError);
    return false;
  }
  const bool written = WriteAllAndFlush(file, bytes);
  CloseHandle(file);
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = errno == EEXIST ? Utf8FromPath(path) + " already exists; it is not overwritten"
                            : "cannot create " + Utf8FromPath(path) + ": " + LastErrorText();
    return false;
  }
  bool written = ::fchmod(fd, 0600) == 0 && WriteAllAndFlush(fd, bytes);
  written = (::close(fd) == 0) && written;
#endif
  if (!written) {
    error = "cannot write " + Utf8FromPath(path) + ": " + LastErrorText();
    std::error_code ignored;
    fs::remove(path, ignored);
    return false;
  }
  return true;
}

}  // namespace publish
