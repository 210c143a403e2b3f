#include "sync/state.h"

#include <json-c/json.h>

#include "manifest/json.h"
#include "manifest/rules.h"

namespace {

json_object* NewString(const std::string& text) {
  return json_object_new_string_len(text.data(), static_cast<int>(text.size()));
}

json_object* FileObject(const InstalledFile& file) {
  json_object* entry = json_object_new_object();
  json_object_object_add(entry, "path", NewString(file.path));
  json_object_object_add(entry, "hash", NewString(file.hash));
  json_object_object_add(entry, "size", json_object_new_uint64(file.size));
  json_object_object_add(entry, "mtime", json_object_new_uint64(file.mtime));
  if (file.keep) json_object_object_add(entry, "keep", json_object_new_boolean(1));
  if (file.unavailable) json_object_object_add(entry, "unavailable", json_object_new_boolean(1));
  return entry;
}

std::optional<InstalledFile> ReadFileEntry(json_object* element) {
  InstalledFile file;
  if (!JsonIsObject(element) || !JsonGetString(element, "path", file.path) || !IsSafeRelativePath(file.path)) {
    return std::nullopt;
  }
  if (!JsonGetString(element, "hash", file.hash)) JsonGetString(element, "sha256", file.hash);
  if (!JsonGetUInt64(element, "size", file.size)) file.size = 0;
  if (!JsonGetUInt64(element, "mtime", file.mtime)) file.mtime = 0;
  JsonGetBool(element, "keep", file.keep);
  JsonGetBool(element, "unavailable", file.unavailable);
  return file;
}

}  // namespace

std::string SerializeInstalledState(const InstalledState& state) {
  JsonPtr root(json_object_new_object());
  json_object_object_add(root.get(), "version", json_object_new_int(1));
  json_object_object_add(root.get(), "build", NewString(state.build));
  json_object_object_add(root.get(), "complete", json_object_new_boolean(state.complete ? 1 : 0));
  json_object* files = json_object_new_array();
  for (const InstalledFile& file : state.files) json_object_array_add(files, FileObject(file));
  json_object_object_add(root.get(), "files", files);
  size_t length = 0;
  const char* text =
      json_object_to_json_string_length(root.get(), JSON_C_TO_STRING_PLAIN | JSON_C_TO_STRING_NOSLASHESCAPE, &length);
  return std::string(text, length);
}

std::optional<InstalledState> ParseInstalledState(const std::string& text) {
  if (text.size() > kMaxStateFileBytes) return std::nullopt;
  JsonPtr root = ParseJson(text);
  json_object* files = JsonGetMember(root.get(), "files", json_type_array);
  if (!files) return std::nullopt;
  InstalledState state;
  JsonGetString(root.get(), "build", state.build);
  JsonGetBool(root.get(), "complete", state.complete);
  const size_t count = json_object_array_length(files);
  for (size_t i = 0; i < count; ++i) {
    if (auto file = ReadFileEntry(json_object_array_get_idx(files, i))) state.files.push_back(std::move(*file));
  }
  return state;
}
