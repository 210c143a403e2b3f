// libFuzzer target: the installed state file. Whatever is read must survive a
// write and a second read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "manifest/rules.h"
#include "sync/state.h"

namespace {

bool Same(const InstalledState& a, const InstalledState& b) {
  if (a.build != b.build || a.complete != b.complete || a.files.size() != b.files.size()) return false;
  for (size_t i = 0; i < a.files.size(); ++i) {
    const InstalledFile &x = a.files[i], &y = b.files[i];
    if (x.path != y.path || x.hash != y.hash || x.size != y.size || x.mtime != y.mtime || x.keep != y.keep ||
        x.unavailable != y.unavailable) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto state = ParseInstalledState(std::string(reinterpret_cast<const char*>(data), size));
  if (!state) return 0;
  for (const InstalledFile& file : state->files) {
    if (!IsSafeRelativePath(file.path)) std::abort();
  }
  const std::string text = SerializeInstalledState(*state);
  const auto again = ParseInstalledState(text);
  if (!again || !Same(*state, *again) || SerializeInstalledState(*again) != text) std::abort();
  return 0;
}
