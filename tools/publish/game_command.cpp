// talvoreen-publish game: a source folder becomes a game build's objects and its signed manifest.
#include <json-c/json.h>

#include <map>
#include <system_error>

#include "base/text.h"
#include "manifest/chunking.h"
#include "manifest/envelope.h"
#include "manifest/json.h"
#include "manifest/manifest.h"
#include "manifest/rules.h"
#include "tools/publish/commands.h"
#include "tools/publish/fileio.h"
#include "tools/publish/objects.h"
#include "tools/publish/object_store.h"
#include "tools/publish/parallel.h"
#include "tools/publish/publish.h"

namespace fs = std::filesystem;

namespace publish {

namespace {

// Paths as a previous build's files and folders, by PathIdentity.
struct TreeShape {
  std::map<std::string, std::string> files;    // identity -> path
  std::map<std::string, std::string> folders;  // identity -> path
};

TreeShape ShapeOf(const std::vector<std::string>& paths) {
  TreeShape shape;
  for (const std::string& path : paths) {
    shape.files.emplace(PathIdentity(path), path);
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
      shape.folders.emplace(PathIdentity(path.substr(0, slash)), path.substr(0, slash));
    }
  }
  return shape;
}

// Launchers clear a path that changed shape when it is theirs, but a player's own files in the
// way stop their update: worth a warning before the build goes out.
void WarnAboutShapeChanges(const fs::path& previousManifest, const std::string& publicKey,
                           const std::vector<std::string>& paths, std::ostream& err) {
  std::string envelope, payload, error;
  std::wstring verifyError;
  Manifest previous;
  std::error_code ec;
  if (!fs::exists(previousManifest, ec) || !ReadFileBytes(previousManifest, envelope, error) ||
      !VerifyEnvelopeWithKey(envelope, publicKey, payload, verifyError) ||
      !ParseGameManifestDocument(payload, previous, verifyError)) {
    return;
  }
  std::vector<std::string> previousPaths;
  for (const ManifestFile& file : previous.files) previousPaths.push_back(file.path);
  const TreeShape before = ShapeOf(previousPaths), after = ShapeOf(paths);
  for (const auto& [identity, path] : after.folders) {
    auto it = before.files.find(identity);
    if (it != before.files.end()) {
      err << "talvoreen-publish: warning: " << it->second << " was a file in build " << previous.build
          << " and is a folder now\n";
    }
  }
  for (const auto& [identity, path] : after.files) {
    auto it = before.folders.find(identity);
    if (it != before.folders.end()) {
      err << "talvoreen-publish: warning: " << it->second << " was a folder in build " << previous.build
          << " and is a file now\n";
    }
  }
}


bool MatchFrom(const char* pattern, const char* path) {
  for (;;) {
    if (*pattern == '\0') return *path == '\0';
    if (pattern[0] == '*' && pattern[1] == '*') {
      const char* rest = pattern + 2;
      if (*rest == '/' && MatchFrom(rest + 1, path)) return true;
      for (const char* p = path;; ++p) {
        if (MatchFrom(rest, p)) return true;
        if (*p == '\0') return false;
      }
    }
    if (*pattern == '*') {
      for (const char* p = path;; ++p) {
        if (MatchFrom(pattern + 1, p)) return true;
        if (*p == '\0' || *p == '/') return false;
      }
    }
    if (*path == '\0') return false;
    if (*pattern == '?') {
      if (*path == '/') return false;
    } else {
      const char a = AsciiLower(std::string(1, *pattern))[0], b = AsciiLower(std::string(1, *path))[0];
      if (a != b) return false;
    }
    ++pattern, ++path;
  }
}

}  // namespace

bool MatchKeepPattern(const std::string& pattern, const std::string& path) {
  return MatchFrom(pattern.c_str(), path.c_str());
}

int GameCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CommandLine line =
      ParseCommandLine(args, 1, {"--out", "--key", "--build", "--min-launcher-version", "--keep", "--jobs", "--chunk-min-file"},
                       {"--optional", "--trust-existing", "--no-chunks"}, {"--out", "--key", "--build"}, {"--keep"});
  PhaseClock phases;
  const unsigned jobs = JobsOption(line);
  const bool trustExisting = line.flags.count("--trust-existing") > 0;
  ChunkOptions chunking;
  chunking.enabled = line.flags.count("--no-chunks") == 0;
  chunking.minFile = kChunkMinFileSize;
  if (line.Has("--chunk-min-file") &&
      !ParseNumber(line.Value("--chunk-min-file"), 1, kMaxGameFileSize, chunking.minFile)) {
    throw UsageError("--chunk-min-file must be a number of bytes from 1 to 8589934592");
  }
  const fs::path source = PathFromUtf8(line.positional[0]);
  const fs::path cdnRoot = PathFromUtf8(line.Value("--out"));
  const std::string build = line.Value("--build");
  const std::string minVersion = line.Value("--min-launcher-version");
  std::vector<std::string> keepPatterns;
  if (line.Has("--keep")) keepPatterns = line.values.at("--keep");

  std::error_code ec;
  if (!fs::is_directory(source, ec)) return Fail(err, "not a folder: " + line.positional[0]);
  if (build.empty() || !IsValidUtf8(build)) return Fail(err, "--build must be a non-empty UTF-8 text");
  if (line.Has("--min-launcher-version") && !IsVersionText(minVersion)) {
    return Fail(err, "--min-launcher-version must look like 0.4.21: " + minVersion);
  }
  if (IsInside(cdnRoot, source)) return Fail(err, "--out must not be inside the source folder");
  SigningKey key;
  std::string error;
  if (!LoadSigningKey(line.Value("--key"), key, error)) return Fail(err, error);

  std::vector<std::string> problems;
  const std::vector<std::string> paths = ListFiles(source, problems);
  CheckPaths(paths, problems);
  std::vector<bool> keep(paths.size(), false);
  for (const std::string& pattern : keepPatterns) {
    bool used = false;
    for (size_t i = 0; i < paths.size(); ++i) {
      if (MatchKeepPattern(pattern, paths[i])) keep[i] = used = true;
    }
    if (!used) problems.push_back("--keep " + pattern + " matches no file");
  }
  if (!problems.empty()) return ReportProblems(err, problems, "game " + line.positional[0]);
  WarnAboutShapeChanges(cdnRoot / PathFromUtf8(kGameManifestPath), EncodeBase64(key.publicKey), paths, err);

  phases.Lap("listing");
  std::vector<fs::path> sources;
  for (const std::string& path : paths) sources.push_back(source / PathFromUtf8(path));
  JsonPtr files(json_object_new_array());
  uint64_t totalBytes = 0, newObjectBytes = 0, newChunkBytes = 0;
  size_t newObjects = 0, chunkLists = 0, newChunks = 0;
  std::vector<PublishedFile> published;
  const auto report = [&](size_t i) {
    const uint64_t size = published[i].size;
    const StoredObject& object = published[i].object;
    if (size > kMaxGameFileSize || object.zsize > kMaxGameFileSize) {
      error = paths[i] + ": larger than the 8 GiB the launcher accepts";
      return false;
    }
    err << "[" << i + 1 << "/" << paths.size() << "] " << paths[i] << ": " << HumanSize(size)
        << (object.created ? ", new object of " + HumanSize(object.zsize) : ", object already published")
        << (published[i].chunked ? ", " + std::to_string(published[i].chunks.chunks) + " chunks" : "") << "\n";
    totalBytes += size;
    if (published[i].chunked) ++chunkLists, newChunks += published[i].chunks.newObjects;
    newChunkBytes += published[i].chunks.newBytes;
    if (object.created) ++newObjects, newObjectBytes += object.zsize;
    json_object* entry = json_object_new_object();
    json_object_object_add(entry, "path", JsonText(paths[i]));
    json_object_object_add(entry, "size", json_object_new_int64(static_cast<int64_t>(size)));
    json_object_object_add(entry, "sha256", JsonText(published[i].sha256));
    json_object_object_add(entry, "zsize", json_object_new_int64(static_cast<int64_t>(object.zsize)));
    if (keep[i]) json_object_object_add(entry, "keep", json_object_new_boolean(1));
    json_object_array_add(files.get(), entry);
    return true;
  };
  if (!PublishFiles(sources, paths, cdnRoot, trustExisting, chunking, jobs, published, report, error, err, phases)) {
    return Fail(err, error);
  }

  JsonPtr root(json_object_new_object());
  json_object_object_add(root.get(), "schema", json_object_new_int(1));
  json_object_object_add(root.get(), "product", JsonText(kGameProduct));
  json_object_object_add(root.get(), "channel", JsonText("stable"));
  json_object_object_add(root.get(), "build", JsonText(build));
  json_object_object_add(root.get(), "created", JsonText(UtcNow()));
  if (!minVersion.empty()) json_object_object_add(root.get(), "minLauncherVersion", JsonText(minVersion));
  json_object_object_add(root.get(), "required", json_object_new_boolean(line.flags.count("--optional") ? 0 : 1));
  json_object_object_add(root.get(), "files", json_object_get(files.get()));
  const std::string document = JsonDocument(root.get());

  Manifest check;
  std::wstring parseError;
  if (!ParseGameManifestDocument(document, check, parseError)) {
    return Fail(err, "the launcher would refuse this manifest: " + Narrow(parseError));
  }
  if (!WriteSignedManifest(key, document, cdnRoot / PathFromUtf8(kGameManifestPath), error)) return Fail(err, error);
  phases.Lap("manifest");
  err << phases.Text() << " (" << jobs << (jobs == 1 ? " thread" : " threads") << ")\n";
  out << "Published game build " << build << ": " << paths.size() << " files, " << totalBytes << " bytes ("
      << HumanSize(totalBytes) << "); " << newObjects << " new objects, " << newObjectBytes << " bytes compressed; "
      << paths.size() - newObjects << " already published.\n";
  if (chunking.enabled) {
    out << "Chunks: " << chunkLists << " chunk lists (files of " << HumanSize(chunking.minFile) << " or more); "
        << newChunks << " new chunk objects, " << newChunkBytes << " bytes compressed.\n";
  }
  out << "Manifest: " << Utf8FromPath((cdnRoot / PathFromUtf8(kGameManifestPath)).make_preferred()) << "\n";
  return 0;
}

}  // namespace publish
