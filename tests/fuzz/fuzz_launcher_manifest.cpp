// libFuzzer target: the launcher manifest document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "manifest/manifest.h"
#include "manifest/rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  LauncherManifest out;
  out.version = "untouched";
  std::wstring error;
  if (!ParseLauncherManifestDocument(text, out, error)) {
    if (out.version != "untouched" || error != kLauncherManifestUnreadableText) std::abort();
  } else {
    if (out.version.empty() || !error.empty() || !IsLowerHex64(out.file.hash)) std::abort();
    if (out.file.size < 1 || out.file.size > kMaxLauncherFileSize) std::abort();
  }
  LauncherManifest viaEnvelope;
  ParseLauncherManifest(text, viaEnvelope, error);
  return 0;
}
