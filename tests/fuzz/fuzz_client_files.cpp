// libFuzzer target: a game server's client-files list. Whatever is accepted must hold only
// safe, unique paths, lower-case MD5 texts and settings within their ranges, and must be
// exactly what a tree parser (json-c) reading the same document would give: the streaming
// reader may refuse only texts outside strict JSON and the hand-written forms json-c read too.
#include <json-c/json.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <unordered_set>

#include "manifest/json.h"
#include "manifest/rules.h"
#include "sync/client_files.h"
#include "tests/fuzz/strict_json.h"
#include "tests/support/pieces.h"

namespace {

// The same rules over a json-c tree, the way the list was read before it was streamed.
bool TreeParse(const std::string& body, Manifest& list) {
  JsonPtr root = ParseJson(body);
  json_object* schema = JsonGetMember(root.get(), "schema", json_type_int);
  json_object* resources = JsonGetMember(root.get(), "resources", json_type_array);
  if (!schema || json_object_get_int64(schema) != 1 || !resources) return false;
  std::string url;
  if (JsonGetString(root.get(), "httpDownloadUrl", url)) AcceptHttpDownloadUrl(url, list.httpDownloadUrl);
  uint64_t value = 0;
  if (JsonGetUInt64(root.get(), "httpThreads", value) && value <= kMaxHttpThreads) list.httpThreads = value;
  if (JsonGetUInt64(root.get(), "httpDosThreshold", value) && value <= kMaxHttpDosThreshold) list.httpDosThreshold = value;
  PathSet seen;
  for (size_t r = 0; r < json_object_array_length(resources); ++r) {
    json_object* resource = json_object_array_get_idx(resources, r);
    std::string name;
    json_object* files = JsonGetMember(resource, "files", json_type_array);
    if (!JsonGetString(resource, "name", name) || name.empty() || name.find('/') != std::string::npos || !files) continue;
    for (size_t f = 0; f < json_object_array_length(files); ++f) {
      json_object* element = json_object_array_get_idx(files, f);
      ManifestFile file;
      std::string path, md5;
      if (!JsonIsObject(element) || !JsonGetString(element, "path", path) ||
          !JsonGetUInt64(element, "size", file.size) || file.size > kMaxGameFileSize ||
          !JsonGetString(element, "md5", md5) || md5.size() != 32 ||
          md5.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        continue;
      }
      file.path = "resources/" + name + "/" + path;
      if (!IsSafeRelativePath(ServerUrlPath(file)) || !IsSafeRelativePath(file.path)) continue;
      file.serverFile = true;
      if (!seen.Insert(file.path)) continue;
      file.hash = AsciiLower(md5);
      list.files.push_back(file);
    }
  }
  return list.files.size() <= kMaxClientFiles;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  Manifest list;
  std::wstring error;
  Manifest tree;
  const bool treeAccepted = TreeParse(body, tree);
  // json-c reads some texts the hand-written rules take otherwise or not at all (a comment
  // closing the text without a line end): those are compared only when json-c reads them.
  const bool comparable = IsStrictJson(body) || (IsHandWrittenJson(body) && ParseJson(body));
  // Read in pieces as from the file a list is downloaded to: the same answer.
  Manifest pieces;
  std::wstring piecesError;
  const bool piecesRead = ParseClientFiles(ReadInPieces(body, size ? data[size - 1] % 5 + 1 : 1), pieces, piecesError);
  if (!ParseClientFiles(body, list, error)) {
    if (piecesRead) std::abort();
    if (error != kClientFilesUnreadableText || !list.files.empty()) std::abort();
    if (treeAccepted && comparable) std::abort();
    return 0;
  }
  if (comparable && (!treeAccepted || !SameClientList(tree, list))) std::abort();
  if (!piecesRead || !SameClientList(pieces, list)) std::abort();
  if (!error.empty() || list.build != kServerBuild || list.files.size() > kMaxClientFiles) std::abort();
  if (list.httpThreads > kMaxHttpThreads || list.httpDosThreshold > kMaxHttpDosThreshold) std::abort();
  if (!list.httpDownloadUrl.empty()) {
    std::string again;
    if (!AcceptHttpDownloadUrl(list.httpDownloadUrl, again) || again != list.httpDownloadUrl) std::abort();
  }
  std::set<std::string> seen;
  uint64_t total = 0;
  for (const ManifestFile& file : list.files) {
    if (!IsSafeRelativePath(file.path) || !IsSafeRelativePath(ServerUrlPath(file)) || !file.serverFile) std::abort();
    if (file.path != "resources/" + ServerUrlPath(file) || file.size != file.zsize || file.size > kMaxGameFileSize) {
      std::abort();
    }
    if (file.hash.size() != 32 || file.hash.str().find_first_not_of("0123456789abcdef") != std::string::npos) std::abort();
    if (file.keep || !seen.insert(PathIdentity(file.path)).second) std::abort();
    total += file.size;
  }
  if (total != list.totalSize) std::abort();
  return 0;
}
