#include "sync/client_files.h"

#include <json-c/json.h>


#include "manifest/json.h"
#include "manifest/rules.h"

namespace {

bool IsHex32(const std::string& text) {
  if (text.size() != 32) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// A value out of range counts as absent: the server's wish is ignored, not the list.
uint32_t ReadLimit(json_object* root, const char* key, uint32_t highest) {
  uint64_t value = 0;
  if (!JsonGetUInt64(root, key, value) || value > highest) return 0;
  return static_cast<uint32_t>(value);
}

bool ReadFile(json_object* element, const std::string& resource, ManifestFile& file) {
  std::string path, md5;
  uint64_t size = 0;
  if (!JsonIsObject(element) || !JsonGetString(element, "path", path)) return false;
  if (!JsonGetUInt64(element, "size", size) || size > kMaxGameFileSize) return false;
  if (!JsonGetString(element, "md5", md5) || !IsHex32(md5)) return false;
  file.urlPath = resource + "/" + path;
  file.path = "resources/" + file.urlPath;
  if (!IsSafeRelativePath(file.urlPath) || !IsSafeRelativePath(file.path)) return false;
  file.size = size;
  file.zsize = size;
  file.hash = AsciiLower(md5);
  file.keep = false;
  return true;
}

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

bool ParseClientFiles(const std::string& body, Manifest& out, std::wstring& error) {
  error = kClientFilesUnreadableText;
  JsonPtr root = ParseJson(body);
  json_object* schema = JsonGetMember(root.get(), "schema", json_type_int);
  json_object* resources = JsonGetMember(root.get(), "resources", json_type_array);
  if (!schema || json_object_get_int64(schema) != 1 || !resources) return false;

  Manifest list;
  list.build = kServerBuild;
  list.required = false;
  std::string url;
  if (JsonGetString(root.get(), "httpDownloadUrl", url)) AcceptHttpDownloadUrl(url, list.httpDownloadUrl);
  list.httpThreads = ReadLimit(root.get(), "httpThreads", kMaxHttpThreads);
  list.httpDosThreshold = ReadLimit(root.get(), "httpDosThreshold", kMaxHttpDosThreshold);

  PathSet seen;
  const size_t resourceCount = json_object_array_length(resources);
  for (size_t r = 0; r < resourceCount; ++r) {
    json_object* resource = json_object_array_get_idx(resources, r);
    std::string name;
    json_object* files = JsonGetMember(resource, "files", json_type_array);
    if (!JsonGetString(resource, "name", name) || name.empty() || name.find('/') != std::string::npos || !files) {
      continue;
    }
    const size_t fileCount = json_object_array_length(files);
    for (size_t f = 0; f < fileCount; ++f) {
      ManifestFile file;
      if (!ReadFile(json_object_array_get_idx(files, f), name, file)) continue;
      if (!seen.Insert(file.path)) continue;
      list.totalSize += file.size;
      list.files.push_back(std::move(file));
      // The count only grows, so failing inside a resource gives the same answer as failing
      // after it, without holding a huge list first.
      if (list.files.size() > kMaxClientFiles) return false;
    }
  }
  out = std::move(list);
  error.clear();
  return true;
}
