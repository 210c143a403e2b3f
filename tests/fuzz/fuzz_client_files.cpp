// libFuzzer target: a game server's client-files list. Whatever is accepted must hold only
// safe, unique paths, lower-case MD5 texts and settings within their ranges.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "manifest/rules.h"
#include "sync/client_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Manifest list;
  std::wstring error;
  if (!ParseClientFiles(std::string(reinterpret_cast<const char*>(data), size), list, error)) {
    if (error != kClientFilesUnreadableText || !list.files.empty()) std::abort();
    return 0;
  }
  if (!error.empty() || list.build != kServerBuild || list.files.size() > kMaxClientFiles) std::abort();
  if (list.httpThreads > kMaxHttpThreads || list.httpDosThreshold > kMaxHttpDosThreshold) std::abort();
  if (!list.httpDownloadUrl.empty()) {
    std::string again;
    if (!AcceptHttpDownloadUrl(list.httpDownloadUrl, again) || again != list.httpDownloadUrl) std::abort();
  }
  std::set<std::string> seen;
  uint64_t total = 0;
  for (const ManifestFile& file : list.files) {
    if (!IsSafeRelativePath(file.path) || !IsSafeRelativePath(file.urlPath)) std::abort();
    if (file.path != "resources/" + file.urlPath || file.size != file.zsize || file.size > kMaxGameFileSize) {
      std::abort();
    }
    if (file.hash.size() != 32 || file.hash.find_first_not_of("0123456789abcdef") != std::string::npos) std::abort();
    if (file.keep || !seen.insert(PathIdentity(file.path)).second) std::abort();
    total += file.size;
  }
  if (total != list.totalSize) std::abort();
  return 0;
}
