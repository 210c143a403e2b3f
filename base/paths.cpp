#include "base/paths.h"

#include <vector>

#include "base/text.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

size_t LastSeparator(const std::wstring& path) { return path.find_last_of(L"\\/"); }

}  // namespace

std::wstring JoinPath(const std::wstring& base, const std::wstring& relative) {
  std::wstring result = base;
  if (!result.empty() && !IsSeparator(result.back())) result += L'\\';
  for (wchar_t c : relative) result += (c == L'/') ? L'\\' : c;
  return result;
}

std::wstring ParentPath(const std::wstring& path) {
  size_t pos = LastSeparator(path);
  return pos == std::wstring::npos ? std::wstring() : path.substr(0, pos);
}

std::wstring FileNamePart(const std::wstring& path) {
  size_t pos = LastSeparator(path);
  return pos == std::wstring::npos ? path : path.substr(pos + 1);
}

std::wstring NormalizeSeparatorsAndDots(const std::wstring& fullPath) {
  std::wstring path = fullPath;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  // The root is kept verbatim: "C:\", "C:", "\\server\share\", "\\?\C:\" or a lone "\".
  size_t rootEnd = 0;
  auto driveRootAt = [&path](size_t at) -> size_t {
    if (path.size() < at + 2 || path[at + 1] != L':') return 0;
    return (path.size() >= at + 3 && path[at + 2] == L'\\') ? 3 : 2;
  };
  if (path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0) {
    rootEnd = 4 + driveRootAt(4);
  } else if (path.compare(0, 2, L"\\\\") == 0) {
    size_t server = path.find(L'\\', 2);
    size_t share = server == std::wstring::npos ? std::wstring::npos : path.find(L'\\', server + 1);
    rootEnd = share == std::wstring::npos ? path.size() : share + 1;
  } else if ((rootEnd = driveRootAt(0)) == 0 && !path.empty() && path[0] == L'\\') {
    rootEnd = 1;
  }
  std::wstring root = path.substr(0, rootEnd);
  std::vector<std::wstring> segments;
  size_t pos = rootEnd;
  while (pos <= path.size()) {
    size_t next = path.find(L'\\', pos);
    if (next == std::wstring::npos) next = path.size();
    std::wstring segment = path.substr(pos, next - pos);
    if (segment.empty() || segment == L".") {
      // dropped
    } else if (segment == L"..") {
      if (!segments.empty() && segments.back() != L"..") {
        segments.pop_back();
      } else if (root.empty()) {
        segments.push_back(segment);  // a relative path keeps what it cannot resolve
      }
    } else {
      segments.push_back(segment);
    }
    pos = next + 1;
  }
  std::wstring result = root;
  for (size_t i = 0; i < segments.size(); ++i) {
    if (i > 0) result += L'\\';
    result += segments[i];
  }
  // A trailing separator of the input survives so that the caller's trimming rule decides.
  if (!segments.empty() && !fullPath.empty() && IsSeparator(fullPath.back())) result += L'\\';
  return result;
}

bool IsRootOrDriveRelativeFolder(const std::wstring& path) {
  if (path.empty()) return true;
  std::wstring rest = path;
  // "\\?\C:\..." and "\\.\C:\..." name the same places as the path after the prefix.
  if (rest.size() > 4 && IsSeparator(rest[0]) && IsSeparator(rest[1]) && (rest[2] == L'?' || rest[2] == L'.') &&
      IsSeparator(rest[3])) {
    rest = rest.substr(4);
    if (rest.size() >= 4 && EqualsIgnoreCase(rest.substr(0, 4), L"UNC\\")) rest = L"\\\\" + rest.substr(4);
  }
  const bool drive = rest.size() >= 2 && rest[1] == L':';
  if (drive && (rest.size() == 2 || !IsSeparator(rest[2]))) return true;
  const bool unc = rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1]);
  if (!drive && !unc && !rest.empty() && IsSeparator(rest[0])) return true;
  const std::wstring normal = TrimTrailingSeparators(NormalizeSeparatorsAndDots(rest));
  if (drive) return normal.size() <= 3;
  if (!unc) return false;
  const size_t server = normal.find(L'\\', 2);
  const size_t share = server == std::wstring::npos ? std::wstring::npos : normal.find(L'\\', server + 1);
  return share == std::wstring::npos || share + 1 >= normal.size();
}

std::wstring TrimTrailingSeparators(std::wstring path) {
  while (path.size() > 3 && IsSeparator(path.back())) path.pop_back();
  return path;
}

std::wstring DevelopmentTreeRoot(const std::wstring& exePath) {
  std::wstring folder = ParentPath(exePath);
  std::wstring tree = ParentPath(ParentPath(folder));
  if (tree.empty()) return std::wstring();
  return EqualsIgnoreCase(folder, JoinPath(tree, L"Bin\\launcher")) ? tree : std::wstring();
}

bool IsLinkEntry(uint32_t attributes, uint32_t reparseTag) {
  constexpr uint32_t kReparsePointAttribute = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
  constexpr uint32_t kNameSurrogateBit = 0x20000000;  // what IsReparseTagNameSurrogate tests
  if (!(attributes & kReparsePointAttribute)) return false;
  return reparseTag == 0 || (reparseTag & kNameSurrogateBit) != 0;
}
