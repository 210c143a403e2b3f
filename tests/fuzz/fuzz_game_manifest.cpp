// libFuzzer target: the game manifest document, after the envelope. Every
// accepted record must satisfy the rules the later stages rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "manifest/manifest.h"
#include "manifest/rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Manifest out;
  out.build = "untouched";
  std::wstring error;
  if (!ParseGameManifestDocument(text, out, error)) {
    if (out.build != "untouched" || error.empty()) std::abort();
  } else {
    if (out.build.empty() || !error.empty()) std::abort();
    uint64_t total = 0;
    std::set<std::string> seen;
    for (const ManifestFile& file : out.files) {
      if (!IsSafeRelativePath(file.path) || !IsLowerHex64(file.hash)) std::abort();
      if (file.size > kMaxGameFileSize || file.zsize > kMaxGameFileSize) std::abort();
      if (!seen.insert(PathIdentity(file.path)).second) std::abort();
      total += file.size;
    }
    if (total != out.totalSize) std::abort();
  }
  // The full path through an envelope must never accept unsigned input.
  Manifest viaEnvelope;
  if (ParseGameManifest(text, viaEnvelope, error) && text.find("talvoreen-signed-v1") == std::string::npos)
    std::abort();
  return 0;
}
