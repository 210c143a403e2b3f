#include "sync/client_files.h"

#include <cstring>
#include <unordered_set>
#include <vector>

#include "manifest/json_stream.h"
#include "manifest/rules.h"

namespace {

bool IsHex32(const std::string& text) {
  if (text.size() != 32) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// Paths and names longer than this can never make a usable local path (the longest Windows
// path), so a hostile megabyte-long string is not copied.
constexpr size_t kMaxKeptTextBytes = 32768;

bool SameKey(const char* text, size_t length, const char* name) {
  return length == std::strlen(name) && std::memcmp(text, name, length) == 0;
}

// The list is read as a stream of events, never as a tree: a hostile list costs the memory of
// what is accepted, not hundreds of bytes per input byte. Members follow JSON object rules
// (any order, the last of a repeated key wins), which forces one buffer: a resource's files
// may come before its name, so they wait in `pending_` (packed, smaller than their text)
// until the resource ends.
class ClientFilesEvents {
 public:
  explicit ClientFilesEvents(Manifest& list) : list_(list) {}

  bool Open(bool isObject) {
    const Place parent = stack_.empty() ? kTop : stack_.back();
    Place place = kIgnored;
    if (parent == kTop) {
      if (!isObject) return false;
      place = kRoot;
    } else if (parent == kRoot && key_ == kKeyResources) {
      resourcesIsArray_ = !isObject;
      place = isObject ? kIgnored : kResources;
    } else if (parent == kResources && isObject) {
      StartResource();
      place = kResource;
    } else if (parent == kResource && key_ == kKeyName) {
      nameValid_ = false;
    } else if (parent == kResource && key_ == kKeyFiles) {
      pending_.clear();
      filesIsArray_ = !isObject;
      place = isObject ? kIgnored : kFiles;
    } else if (parent == kFiles && isObject) {
      file_ = FileState{};
      place = kFile;
    } else if (parent == kFile) {
      ClearFileMember();
    } else if (parent == kRoot) {
      ClearRootMember();
    }
    stack_.push_back(place);
    key_ = kKeyOther;
    return true;
  }

  bool Close() {
    const Place place = stack_.back();
    stack_.pop_back();
    if (place == kFile) EndFile();
    if (place == kResource) EndResource();
    key_ = kKeyOther;
    return true;
  }

  bool Key(const char* text, size_t length) {
    key_ = kKeyOther;
    switch (stack_.back()) {
      case kRoot:
        if (SameKey(text, length, "schema")) key_ = kKeySchema;
        if (SameKey(text, length, "resources")) {
          key_ = kKeyResources;
          // A repeated "resources" replaces the earlier array and everything taken from it.
          list_.files.clear();
          list_.totalSize = 0;
          seen_ = PathSet();
          overLimit_ = false;
          resourcesIsArray_ = false;
        }
        if (SameKey(text, length, "httpDownloadUrl")) key_ = kKeyUrl;
        if (SameKey(text, length, "httpThreads")) key_ = kKeyThreads;
        if (SameKey(text, length, "httpDosThreshold")) key_ = kKeyDosThreshold;
        break;
      case kResource:
        if (SameKey(text, length, "name")) key_ = kKeyName;
        if (SameKey(text, length, "files")) key_ = kKeyFiles;
        break;
      case kFile:
        if (SameKey(text, length, "path")) key_ = kKeyPath;
        if (SameKey(text, length, "size")) key_ = kKeySize;
        if (SameKey(text, length, "md5")) key_ = kKeyMd5;
        break;
      default:
        break;
    }
    return true;
  }

  bool Scalar(const JsonScalar& value) {
    if (stack_.empty()) return false;  // the document is not an object
    const Place place = stack_.back();
    if (place == kRoot) {
      RootMember(value);
    } else if (place == kResource) {
      if (key_ == kKeyName) {
        nameValid_ = value.kind == JsonScalar::kString && value.length > 0 && value.length <= kMaxKeptTextBytes &&
                     std::memchr(value.text, '/', value.length) == nullptr;
        if (nameValid_) name_.assign(value.text, value.length);
      } else if (key_ == kKeyFiles) {
        pending_.clear();
        filesIsArray_ = false;
      }
    } else if (place == kFile) {
      FileMember(value);
    }
    return true;
  }

  // The verdict once the reading has succeeded.
  bool Accepted() const { return schemaIsOne_ && resourcesIsArray_ && !overLimit_; }

 private:
  enum Place { kTop, kRoot, kResources, kResource, kFiles, kFile, kIgnored };
  enum KeyId {
    kKeyOther, kKeySchema, kKeyResources, kKeyUrl, kKeyThreads, kKeyDosThreshold,
    kKeyName, kKeyFiles, kKeyPath, kKeySize, kKeyMd5
  };
  struct FileState {
    bool path = false, size = false, md5 = false;
    std::string pathText, md5Text;
    uint64_t sizeValue = 0;
  };

  // A value out of range counts as absent: the server's wish is ignored, not the list.
  static uint32_t Limit(const JsonScalar& value, uint32_t highest) {
    return value.kind == JsonScalar::kInteger && value.integer <= highest ? static_cast<uint32_t>(value.integer) : 0;
  }

  void RootMember(const JsonScalar& value) {
    switch (key_) {
      case kKeySchema: schemaIsOne_ = value.kind == JsonScalar::kInteger && value.integer == 1; break;
      case kKeyResources: resourcesIsArray_ = false; break;
      case kKeyUrl:
        list_.httpDownloadUrl.clear();
        if (value.kind == JsonScalar::kString && value.length < kMaxDownloadUrlBytes) {
          AcceptHttpDownloadUrl(std::string(value.text, value.length), list_.httpDownloadUrl);
        }
        break;
      case kKeyThreads: list_.httpThreads = Limit(value, kMaxHttpThreads); break;
      case kKeyDosThreshold: list_.httpDosThreshold = Limit(value, kMaxHttpDosThreshold); break;
      default: break;
    }
  }

  // A root member whose value is an object or an array.
  void ClearRootMember() {
    if (key_ == kKeySchema) schemaIsOne_ = false;
    if (key_ == kKeyUrl) list_.httpDownloadUrl.clear();
    if (key_ == kKeyThreads) list_.httpThreads = 0;
    if (key_ == kKeyDosThreshold) list_.httpDosThreshold = 0;
  }

  void FileMember(const JsonScalar& value) {
    const bool isString = value.kind == JsonScalar::kString;
    switch (key_) {
      case kKeyPath:
        file_.path = isString && value.length <= kMaxKeptTextBytes;
        if (file_.path) file_.pathText.assign(value.text, value.length);
        break;
      case kKeySize:
        file_.size = value.kind == JsonScalar::kInteger;
        file_.sizeValue = value.integer;
        break;
      case kKeyMd5:
        file_.md5 = isString && value.length == 32;
        if (file_.md5) file_.md5Text.assign(value.text, value.length);
        break;
      default:
        break;
    }
  }

  void ClearFileMember() {
    if (key_ == kKeyPath) file_.path = false;
    if (key_ == kKeySize) file_.size = false;
    if (key_ == kKeyMd5) file_.md5 = false;
  }

  void StartResource() {
    nameValid_ = false;
    filesIsArray_ = false;
    pending_.clear();
  }

  // Packed as: 4 bytes path length, the path, 8 bytes size, 32 bytes MD5 text.
  void EndFile() {
    if (!file_.path || !file_.size || !file_.md5 || file_.sizeValue > kMaxGameFileSize || !IsHex32(file_.md5Text)) {
      return;
    }
    const uint32_t length = static_cast<uint32_t>(file_.pathText.size());
    pending_.append(reinterpret_cast<const char*>(&length), sizeof length);
    pending_.append(file_.pathText);
    pending_.append(reinterpret_cast<const char*>(&file_.sizeValue), sizeof file_.sizeValue);
    pending_.append(file_.md5Text);
  }

  void EndResource() {
    if (nameValid_ && filesIsArray_ && !overLimit_) {
      size_t at = 0;
      while (at < pending_.size()) {
        uint32_t length = 0;
        std::memcpy(&length, pending_.data() + at, sizeof length);
        at += sizeof length;
        ManifestFile file;
        path_.assign(kServerFilesFolder).append(name_).append(1, '/').append(pending_, at, length);
        at += length;
        std::memcpy(&file.size, pending_.data() + at, sizeof file.size);
        at += sizeof file.size;
        file.hash = AsciiLower(pending_.substr(at, 32));
        at += 32;
        Accept(std::move(file));
        // The count only grows, so stopping inside a resource gives the same answer as
        // stopping after it, without holding a huge list first.
        if (list_.files.size() > kMaxClientFiles) {
          overLimit_ = true;
          list_.files.clear();
          seen_ = PathSet();
          break;
        }
      }
    }
    pending_.clear();
  }

  // file with its path in path_.
  void Accept(ManifestFile file) {
    // The path below "resources/" is what the server is asked for, so it must be safe too.
    if (!IsSafeRelativePath(path_.substr(sizeof kServerFilesFolder - 1)) || !IsSafeRelativePath(path_)) return;
    file.serverFile = true;
    file.zsize = file.size;
    file.keep = false;
    // One file as Windows names files; a path that is also another's folder is skipped too.
    if (!seen_.Insert(path_)) return;
    file.path = folders_.Make(path_);
    list_.files.push_back(std::move(file));
    list_.totalSize += list_.files.back().size;
  }

  Manifest& list_;
  std::vector<Place> stack_;
  KeyId key_ = kKeyOther;
  bool schemaIsOne_ = false;
  bool resourcesIsArray_ = false;
  bool overLimit_ = false;
  bool nameValid_ = false;
  bool filesIsArray_ = false;
  std::string name_;
  std::string pending_;
  FileState file_;
  PathSet seen_;
  std::string path_;
  FolderSharing folders_;
};

}  // namespace

bool AcceptHttpDownloadUrl(const std::string& url, std::string& accepted) {
  if (url.size() >= kMaxDownloadUrlBytes) return false;
  size_t host = 0;
  if (url.compare(0, 7, "http://") == 0) {
    host = 7;
  } else if (url.compare(0, 8, "https://") == 0) {
    host = 8;
  } else {
    return false;
  }
  // "http:///x" has no host, and trimming "http:////" would leave "http:".
  if (url.size() == host || url[host] == '/') return false;
  if (url.find_first_of(std::string(" \t\r\n\"<>\\?#")) != std::string::npos) return false;
  std::string trimmed = url;
  while (!trimmed.empty() && trimmed.back() == '/') trimmed.pop_back();
  accepted = std::move(trimmed);
  return true;
}

namespace {

template <class Text>
bool ParseClientFilesText(const Text& text, Manifest& out, std::wstring& error) {
  error = kClientFilesUnreadableText;
  Manifest list;
  list.build = kServerBuild;
  list.required = false;
  {
    ClientFilesEvents events(list);
    if (!ReadHandWrittenJsonEvents(text, events) || !events.Accepted()) return false;
  }
  // Once the reader's own memory is gone: the list grew by doubling, and its spare quarter is
  // megabytes that the check's peak would carry.
  list.files.shrink_to_fit();
  out = std::move(list);
  error.clear();
  return true;
}

}  // namespace

bool ParseClientFiles(const std::string& body, Manifest& out, std::wstring& error) {
  return ParseClientFilesText(body, out, error);
}

bool ParseClientFiles(const std::function<size_t(char*, size_t)>& read, Manifest& out, std::wstring& error) {
  return ParseClientFilesText(read, out, error);
}
