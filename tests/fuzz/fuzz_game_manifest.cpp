// libFuzzer target: the game manifest document, after the envelope. Every accepted record must
// satisfy the rules the later stages rely on, and on strict JSON the verdict, the text and the
// record must be exactly what json-c's tree parser reading the same text by the same rules gives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include <json-c/json.h>

#include "manifest/json.h"
#include "manifest/manifest.h"
#include "manifest/rules.h"
#include "tests/fuzz/strict_json.h"

namespace {

bool ReadSize(json_object* obj, const char* key, uint64_t& out) {
  return JsonGetUInt64(obj, key, out) && out <= kMaxGameFileSize;
}

// The rules over a json-c tree, the way the manifest was read before it was streamed.
bool TreeParse(const std::string& text, Manifest& out, std::wstring& error) {
  JsonPtr root = ParseJson(text);
  json_object* schema = JsonGetMember(root.get(), "schema", json_type_int);
  std::string product;
  if (!JsonIsObject(root.get()) || !schema || json_object_get_int64(schema) != 1 ||
      !JsonGetString(root.get(), "product", product) || product != kGameProduct) {
    error = kManifestIncompatibleText;
    return false;
  }
  error = kManifestUnreadableText;
  Manifest manifest;
  JsonGetString(root.get(), "channel", manifest.channel);
  JsonGetString(root.get(), "created", manifest.created);
  JsonGetString(root.get(), "minLauncherVersion", manifest.minLauncherVersion);
  JsonGetBool(root.get(), "required", manifest.required);
  json_object* files = JsonGetMember(root.get(), "files", json_type_array);
  if (!files || !JsonGetString(root.get(), "build", manifest.build) || manifest.build.empty()) return false;
  PathSet seen;
  for (size_t i = 0; i < json_object_array_length(files); ++i) {
    json_object* element = json_object_array_get_idx(files, i);
    ManifestFile file;
    std::string path, hash;
    if (!JsonIsObject(element) || !JsonGetString(element, "path", path) || !IsSafeRelativePath(path) ||
        !ReadSize(element, "size", file.size) || !JsonGetString(element, "sha256", hash) || !IsLowerHex64(hash) ||
        !ReadSize(element, "zsize", file.zsize) || !seen.Insert(path)) {
      return false;
    }
    file.path = path;
    file.hash = hash;
    JsonGetBool(element, "keep", file.keep);
    manifest.totalSize += file.size;
    manifest.files.push_back(file);
  }
  out = manifest;
  error.clear();
  return true;
}

bool Same(const Manifest& a, const Manifest& b) {
  if (a.channel != b.channel || a.build != b.build || a.created != b.created ||
      a.minLauncherVersion != b.minLauncherVersion || a.required != b.required || a.totalSize != b.totalSize ||
      a.files.size() != b.files.size()) {
    return false;
  }
  for (size_t i = 0; i < a.files.size(); ++i) {
    const ManifestFile &x = a.files[i], &y = b.files[i];
    if (x.path != y.path || x.size != y.size || x.hash != y.hash || x.zsize != y.zsize || x.keep != y.keep) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Manifest out;
  out.build = "untouched";
  std::wstring error;
  const bool accepted = ParseGameManifestDocument(text, out, error);
  if (!accepted) {
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
  if (IsStrictJson(text)) {
    Manifest tree;
    std::wstring treeError;
    const bool treeAccepted = TreeParse(text, tree, treeError);
    if (treeAccepted != accepted || treeError != error || (accepted && !Same(out, tree))) std::abort();
  }
  // The full path through an envelope must never accept unsigned input.
  Manifest viaEnvelope;
  if (ParseGameManifest(text, viaEnvelope, error) && text.find("talvoreen-signed-v1") == std::string::npos)
    std::abort();
  return 0;
}
