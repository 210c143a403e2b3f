#include "manifest/manifest.h"

#include <json-c/json.h>

#include <cstring>
#include <vector>

#include "manifest/envelope.h"
#include "manifest/json.h"
#include "manifest/json_stream.h"
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

// The game manifest is read as a stream of events, never as a tree: a json-c tree of a manifest
// of 10,000 files costs more than reading it, and a no-op check reads one on every start.
// Members follow JSON object rules (any order, the last of a repeated key wins), so each
// verdict waits for the end of its object; a bad entry stops the keeping, not the reading,
// because a later "files" may still replace the array, or a "schema" after it make the document
// incompatible rather than unreadable.
class GameManifestEvents {
 public:
  explicit GameManifestEvents(Manifest& manifest) : manifest_(manifest) {}

  bool Open(bool isObject) {
    const Place parent = stack_.empty() ? kTop : stack_.back();
    const Member key = key_;
    key_ = kOther;
    Place place = kIgnored;
    if (parent == kTop) {
      if (!isObject) return false;  // not an object: incompatible
      place = kRoot;
    } else if (parent == kRoot) {
      RootValue(key, nullptr);
      if (key == kFiles && !isObject) {
        filesIsArray_ = true;
        place = kFilesArray;
      }
    } else if (parent == kFilesArray) {
      entry_ = Entry();
      if (isObject) place = kEntry;
      if (!isObject) filesBad_ = true;
    } else if (parent == kEntry) {
      EntryValue(key, nullptr);
    }
    stack_.push_back(place);
    return true;
  }

  bool Close() {
    const Place place = stack_.back();
    stack_.pop_back();
    if (place == kEntry) EndEntry();
    key_ = kOther;
    return true;
  }

  bool Key(const char* text, size_t length) {
    key_ = kOther;
    const Place place = stack_.back();
    if (place == kRoot) {
      if (SameKey(text, length, "schema")) key_ = kSchema;
      else if (SameKey(text, length, "product")) key_ = kProduct;
      else if (SameKey(text, length, "channel")) key_ = kChannel;
      else if (SameKey(text, length, "created")) key_ = kCreated;
      else if (SameKey(text, length, "minLauncherVersion")) key_ = kMinLauncher;
      else if (SameKey(text, length, "required")) key_ = kRequired;
      else if (SameKey(text, length, "build")) key_ = kBuild;
      else if (SameKey(text, length, "files")) key_ = kFiles;
    } else if (place == kEntry) {
      if (SameKey(text, length, "path")) key_ = kPath;
      else if (SameKey(text, length, "size")) key_ = kSize;
      else if (SameKey(text, length, "sha256")) key_ = kSha256;
      else if (SameKey(text, length, "zsize")) key_ = kZsize;
      else if (SameKey(text, length, "keep")) key_ = kKeep;
    }
    return true;
  }

  bool Scalar(const JsonScalar& value) {
    if (stack_.empty()) return false;  // a bare value: incompatible
    const Member key = key_;
    key_ = kOther;
    switch (stack_.back()) {
      case kRoot: RootValue(key, &value); break;
      case kEntry: EntryValue(key, &value); break;
      case kFilesArray: filesBad_ = true; break;  // an element that is not an object
      default: break;
    }
    return true;
  }

  bool Compatible() const { return schemaIsOne_ && productMatches_; }
  bool Readable() const { return filesIsArray_ && !filesBad_ && hasBuild_ && !manifest_.build.empty(); }

 private:
  enum Place { kTop, kRoot, kFilesArray, kEntry, kIgnored };
  enum Member { kOther, kSchema, kProduct, kChannel, kCreated, kMinLauncher, kRequired, kBuild, kFiles,
             kPath, kSize, kSha256, kZsize, kKeep };
  struct Entry {
    ManifestFile file;
    bool path = false, size = false, sha256 = false, zsize = false;
  };

  static bool SameKey(const char* text, size_t length, const char* name) {
    return length == std::strlen(name) && std::memcmp(text, name, length) == 0;
  }

  static bool IsString(const JsonScalar* value) { return value && value->kind == JsonScalar::kString; }

  // A string member: its value when it is one, else as if absent.
  static void TakeString(const JsonScalar* value, std::string& out) {
    if (IsString(value)) {
      out.assign(value->text, value->length);
    } else {
      out.clear();
    }
  }
  static void TakeString(const JsonScalar* value, CompactString& out) {
    out = IsString(value) ? CompactString(std::string_view(value->text, value->length)) : CompactString();
  }

  // value is null for an object or array.
  void RootValue(Member key, const JsonScalar* value) {
    switch (key) {
      case kSchema: schemaIsOne_ = value && value->kind == JsonScalar::kInteger && value->integer == 1; break;
      case kProduct:
        productMatches_ = IsString(value) && value->length == std::strlen(kGameProduct) &&
                          std::memcmp(value->text, kGameProduct, value->length) == 0;
        break;
      case kChannel: TakeString(value, manifest_.channel); break;
      case kCreated: TakeString(value, manifest_.created); break;
      case kMinLauncher: TakeString(value, manifest_.minLauncherVersion); break;
      case kRequired:
        // Another type leaves the flag as it was before this member, i.e. true.
        manifest_.required = value && value->kind == JsonScalar::kBool ? value->boolean : true;
        break;
      case kBuild:
        hasBuild_ = IsString(value);
        TakeString(value, manifest_.build);
        break;
      case kFiles:
        // A repeated "files" replaces the earlier array and everything taken from it.
        manifest_.files.clear();
        manifest_.totalSize = 0;
        seen_ = PathSet();
        filesIsArray_ = false;
        filesBad_ = false;
        break;
      default: break;
    }
  }

  static bool IsSize(const JsonScalar* value) {
    return value && value->kind == JsonScalar::kInteger && value->integer <= kMaxGameFileSize;
  }

  void EntryValue(Member key, const JsonScalar* value) {
    switch (key) {
      case kPath:
        entry_.path = IsString(value);
        entry_.file.path = entry_.path ? folders_.Make(std::string_view(value->text, value->length)) : CompactString();
        break;
      case kSize:
        entry_.size = IsSize(value);
        if (entry_.size) entry_.file.size = value->integer;
        break;
      case kSha256:
        entry_.sha256 = IsString(value);
        TakeString(value, entry_.file.hash);
        break;
      case kZsize:
        entry_.zsize = IsSize(value);
        if (entry_.zsize) entry_.file.zsize = value->integer;
        break;
      case kKeep: entry_.file.keep = value && value->kind == JsonScalar::kBool && value->boolean; break;
      default: break;
    }
  }

  void EndEntry() {
    if (filesBad_) return;
    Entry& e = entry_;
    if (!e.path || !e.size || !e.sha256 || !e.zsize || !IsSafeRelativePath(e.file.path) ||
        !IsLowerHex64(e.file.hash) || !seen_.Insert(e.file.path)) {
      // Nothing of a refused manifest is kept.
      filesBad_ = true;
      manifest_.files.clear();
      manifest_.files.shrink_to_fit();
      seen_ = PathSet();
      return;
    }
    manifest_.totalSize += e.file.size;
    manifest_.files.push_back(std::move(e.file));
  }

  Manifest& manifest_;
  std::vector<Place> stack_;
  Member key_ = kOther;
  Entry entry_;
  FolderSharing folders_;
  bool schemaIsOne_ = false;
  bool productMatches_ = false;
  bool hasBuild_ = false;
  bool filesIsArray_ = false;
  bool filesBad_ = false;
  PathSet seen_;
};

}  // namespace

bool ParseGameManifest(const std::string& envelope, Manifest& out, std::wstring& error) {
  std::string payload;
  if (!VerifyEnvelope(envelope, payload, error)) return false;
  return ParseGameManifestDocument(payload, out, error);
}

bool ParseGameManifestDocument(const std::string& document, Manifest& out, std::wstring& error) {
  Manifest manifest;
  GameManifestEvents events(manifest);
  const bool read = ReadJsonEvents(document, events);
  if (!read || !events.Compatible()) {
    error = kManifestIncompatibleText;
    return false;
  }
  if (!events.Readable()) {
    error = kManifestUnreadableText;
    return false;
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
  std::string path, hash;
  json_object* file = JsonGetMember(root.get(), "file", json_type_object);
  if (!JsonIsObject(root.get()) || !HasIntegerValue(root.get(), "schema", 1) ||
      !HasStringValue(root.get(), "product", kLauncherProduct) ||
      !JsonGetString(root.get(), "version", manifest.version) || manifest.version.empty() || !file ||
      !JsonGetString(file, "path", path) || !ReadSizeInRange(file, "size", 1, kMaxLauncherFileSize, manifest.file.size) ||
      !JsonGetString(file, "sha256", hash) || !IsLowerHex64(hash) || !JsonGetUInt64(file, "zsize", manifest.file.zsize)) {
    return false;
  }
  manifest.file.path = path;
  manifest.file.hash = hash;
  out = std::move(manifest);
  error.clear();
  return true;
}
