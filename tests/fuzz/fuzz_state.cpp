// libFuzzer target: the installed state file. Whatever is read must survive a write and a
// second read unchanged, be the same when read in pieces, and on strict JSON be exactly what
// json-c's tree parser reading the same text by the same rules gives.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include <json-c/json.h>

#include "manifest/installed_state.h"
#include "manifest/json.h"
#include "manifest/rules.h"
#include "tests/fuzz/strict_json.h"
#include "tests/support/pieces.h"

namespace {

// The rules over a json-c tree, the way the file was read before it was streamed.
std::optional<InstalledState> TreeParse(const std::string& text) {
  JsonPtr root = ParseJson(text);
  json_object* files = JsonGetMember(root.get(), "files", json_type_array);
  if (!files) return std::nullopt;
  InstalledState state;
  JsonGetString(root.get(), "build", state.build);
  JsonGetBool(root.get(), "complete", state.complete);
  for (size_t i = 0; i < json_object_array_length(files); ++i) {
    json_object* element = json_object_array_get_idx(files, i);
    InstalledFile file;
    std::string path, hash;
    if (!JsonIsObject(element) || !JsonGetString(element, "path", path) || !IsSafeRelativePath(path)) continue;
    if (!JsonGetString(element, "hash", hash)) JsonGetString(element, "sha256", hash);
    file.path = path;
    file.hash = hash;
    if (!JsonGetUInt64(element, "size", file.size)) file.size = 0;
    if (!JsonGetUInt64(element, "mtime", file.mtime)) file.mtime = 0;
    JsonGetBool(element, "keep", file.keep);
    JsonGetBool(element, "unavailable", file.unavailable);
    state.files.push_back(file);
  }
  return state;
}

// json-c saturates an integer beyond 64 bits to the largest value; the streaming reader sees
// a number that is not an integer and takes the member as missing (0). Either way the file is
// hashed again, so the two count as the same.
InstalledState ClampedLikeTheStream(InstalledState state) {
  for (InstalledFile& file : state.files) {
    if (file.size == UINT64_MAX) file.size = 0;
    if (file.mtime == UINT64_MAX) file.mtime = 0;
  }
  return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const auto state = ParseInstalledState(input);
  if (IsStrictJson(input)) {
    const auto tree = TreeParse(input);
    if (state.has_value() != tree.has_value()) std::abort();
    if (state && !(ClampedLikeTheStream(*state) == ClampedLikeTheStream(*tree))) std::abort();
  }
  // Read in pieces entry by entry (as the launcher reads its files), the same record, except
  // that a second "files" member fails there; canonical exactly when the text is the record's.
  InstalledState pieces;
  StateTextFacts facts;
  const bool piecesRead =
      ReadInstalledStateEntries(ReadInPieces(input, size ? data[0] % 7 + 1 : 1),
                                [&](InstalledFile&& entry) { pieces.files.push_back(std::move(entry)); }, facts);
  if (piecesRead) {
    pieces.build = facts.build;
    pieces.complete = facts.complete;
    if (!state || !(*state == pieces)) std::abort();
    if (facts.canonical != (input == SerializeInstalledState(*state))) std::abort();
  } else if (state && input.find("\"files\"") == input.rfind("\"files\"")) {
    std::abort();
  }
  if (!state) return 0;
  for (const InstalledFile& file : state->files) {
    if (!IsSafeRelativePath(file.path)) std::abort();
  }
  const std::string text = SerializeInstalledState(*state);
  const auto again = ParseInstalledState(text);
  if (!again || !(*state == *again) || SerializeInstalledState(*again) != text) std::abort();
  if (!SerializesTo(*state, text) || SerializesTo(*state, input) != (input == text)) std::abort();
  return 0;
}
