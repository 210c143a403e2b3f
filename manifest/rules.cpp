#include "manifest/rules.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "base/file_name_case.h"

namespace {

constexpr size_t kMaxPathBytes = kMaxSafePathBytes;

bool IsReservedDeviceStem(const std::string& lowerStem) {
  static const char* const kNames[] = {"con", "prn", "aux", "nul"};
  for (const char* name : kNames) {
    if (lowerStem == name) return true;
  }
  if (lowerStem.size() == 4 && (lowerStem.compare(0, 3, "com") == 0 || lowerStem.compare(0, 3, "lpt") == 0)) {
    return lowerStem[3] >= '1' && lowerStem[3] <= '9';
  }
  return false;
}

bool IsForbiddenByte(unsigned char c) { return c <= 0x1F || std::strchr("\"*:<>?\\|", c) != nullptr; }

bool IsSafeSegment(const std::string& segment) {
  if (segment.empty() || segment == "." || segment == "..") return false;
  const char last = segment.back();
  if (last == '.' || last == ' ') return false;
  for (unsigned char c : segment) {
    if (IsForbiddenByte(c)) return false;
  }
  return !IsReservedDeviceStem(AsciiLower(segment.substr(0, segment.find('.'))));
}

}  // namespace

bool IsSafeRelativePath(const char* text, size_t length) {
  if (length == 0 || length > kMaxPathBytes || text[0] == '/' || !IsValidUtf8(text, length)) return false;
  size_t start = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i < length && text[i] != '/') continue;
    const std::string segment(text + start, i - start);
    if (!IsSafeSegment(segment)) return false;
    if (start == 0 && AsciiLower(segment) == ".talvoreen") return false;
    start = i + 1;
  }
  return true;
}

bool IsLowerHex64(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string PathIdentity(const std::string& path) {
  std::string key;
  return FileNameKey(path, key) ? key : path;
}

bool PathSet::Insert(const std::string& path) {
  const std::string identity = PathIdentity(path);
  std::pmr::string& key = tree_->key;
  const auto childKey = [&key](uint32_t parent, std::string_view name) {
    key.assign(reinterpret_cast<const char*>(&parent), sizeof(parent));
    key.append(name);
  };
  // Identities keep every "/" where it was, so the components of the key are the path's.
  std::vector<std::string_view> parts;
  for (size_t start = 0;;) {
    const size_t slash = identity.find('/', start);
    const size_t length = slash == std::string::npos ? std::string::npos : slash - start;
    parts.push_back(std::string_view(identity).substr(start, length));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  // Looked up first and added only when the path is accepted: a refused path leaves nothing.
  uint32_t parent = 0;
  size_t known = 0;
  for (; known < parts.size(); ++known) {
    childKey(parent, parts[known]);
    const auto found = tree_->entries.find(key);
    if (found == tree_->entries.end()) break;
    // The path itself, or one of its folders, is a file already; or the path is a folder.
    if (found->second.isFile || known + 1 == parts.size()) return false;
    parent = found->second.id;
  }
  for (size_t i = known; i < parts.size(); ++i) {
    const uint32_t id = nextId_++;
    childKey(parent, parts[i]);
    tree_->entries.emplace(key, Entry{id, i + 1 == parts.size()});
    parent = id;
  }
  return true;
}

std::string LowerHex(const unsigned char* bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    hex.push_back(kDigits[bytes[i] >> 4]);
    hex.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return hex;
}
