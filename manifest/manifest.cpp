#include "manifest/manifest.h"

#include <json-c/json.h>


#include "manifest/envelope.h"
#include "manifest/json.h"
#include "manifest/rules.h"

namespace {

bool HasIntegerValue(json_object* obj, const char* key, int64_t expected) {
  json_object* value = JsonGetMember(obj, key, json_type_int);
  return value && json_object_get_int64(value) == expected;
}

bool HasStringValue(json_object* obj, const char* key, const char* expected) {
  std::string value;
  return JsonGetString(obj, key, value) && value == expected;
}

bool ReadSizeInRange(json_object* obj, const char* key, uint64_t low, uint64_t high, uint64_t& out) {
  return JsonGetUInt64(obj, key, out) && out >= low && out <= high;
}

bool ReadGameFile(json_object* element, ManifestFile& file) {
  if (!JsonIsObject(element)) return false;
  if (!JsonGetString(element, "path", file.path) || !IsSafeRelativePath(file.path)) return false;
  if (!ReadSizeInRange(element, "size", 0, kMaxGameFileSize, file.size)) return false;
  if (!JsonGetString(element, "sha256", file.hash) || !IsLowerHex64(file.hash)) return false;
  if (!ReadSizeInRange(element, "zsize", 0, kMaxGameFileSize, file.zsize)) return false;
  file.keep = false;
  JsonGetBool(element, "keep", file.keep);
  return true;
}

}  // namespace

bool ParseGameManifest(const std::string& envelope, Manifest& out, std::wstring& error) {
  std::string payload;
  if (!VerifyEnvelope(envelope, payload, error)) return false;
  return ParseGameManifestDocument(payload, out, error);
}

bool ParseGameManifestDocument(const std::string& document, Manifest& out, std::wstring& error) {
  error = kManifestUnreadableText;
  JsonPtr root = ParseJson(document);
  if (!JsonIsObject(root.get()) || !HasIntegerValue(root.get(), "schema", 1) ||
      !HasStringValue(root.get(), "product", kGameProduct)) {
    error = kManifestIncompatibleText;
    return false;
  }
  Manifest manifest;
  JsonGetString(root.get(), "channel", manifest.channel);
  JsonGetString(root.get(), "created", manifest.created);
  JsonGetString(root.get(), "minLauncherVersion", manifest.minLauncherVersion);
  JsonGetBool(root.get(), "required", manifest.required);

  json_object* files = JsonGetMember(root.get(), "files", json_type_array);
  if (!files || !JsonGetString(root.get(), "build", manifest.build) || manifest.build.empty()) return false;

  const size_t count = json_object_array_length(files);
  manifest.files.reserve(count);
  PathSet seen;
  for (size_t i = 0; i < count; ++i) {
    ManifestFile file;
    if (!ReadGameFile(json_object_array_get_idx(files, i), file)) return false;
    if (!seen.Insert(file.path)) return false;
    manifest.totalSize += file.size;
    manifest.files.push_back(std::move(file));
  }
  out = std::move(manifest);
  error.clear();
  return true;
}

bool ParseLauncherManifest(const std::string& envelope, LauncherManifest& out, std::wstring& error) {
  std::string payload;
  if (!VerifyEnvelope(envelope, payload, error)) return false;
  return ParseLauncherManifestDocument(payload, out, error);
}

bool ParseLauncherManifestDocument(const std::string& document, LauncherManifest& out, std::wstring& error) {
  error = kLauncherManifestUnreadableText;
  JsonPtr root = ParseJson(document);
  LauncherManifest manifest;
  json_object* file = JsonGetMember(root.get(), "file", json_type_object);
  if (!JsonIsObject(root.get()) || !HasIntegerValue(root.get(), "schema", 1) ||
      !HasStringValue(root.get(), "product", kLauncherProduct) ||
      !JsonGetString(root.get(), "version", manifest.version) || manifest.version.empty() || !file ||
      !JsonGetString(file, "path", manifest.file.path) ||
      !ReadSizeInRange(file, "size", 1, kMaxLauncherFileSize, manifest.file.size) ||
      !JsonGetString(file, "sha256", manifest.file.hash) || !IsLowerHex64(manifest.file.hash) ||
      !JsonGetUInt64(file, "zsize", manifest.file.zsize)) {
    return false;
  }
  out = std::move(manifest);
  error.clear();
  return true;
}
