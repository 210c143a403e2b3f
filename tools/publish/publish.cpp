// talvoreen-publish commands. Sections: command line, shared steps, keygen, game, launcher,
// client-files, verify, dispatch.
#include "tools/publish/publish.h"

#include <json-c/json.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include "base/text.h"
#include "manifest/envelope.h"
#include "manifest/json.h"
#include "manifest/manifest.h"
#include "manifest/rules.h"
#include "sync/client_files.h"
#include "tools/publish/fileio.h"
#include "tools/publish/keys.h"
#include "tools/publish/object_store.h"
#include "tools/publish/objects.h"
#include "tools/publish/parallel.h"

namespace fs = std::filesystem;

namespace publish {

namespace {

constexpr char kUsage[] =
    "usage:\n"
    "  talvoreen-publish keygen KEYFILE\n"
    "  talvoreen-publish game SOURCE_FOLDER --out CDN_ROOT --key KEYFILE --build ID\n"
    "                    [--min-launcher-version V] [--optional] [--keep PATTERN]... [--trust-existing]\n"
    "                    [--jobs N]\n"
    "  talvoreen-publish launcher EXE --out CDN_ROOT --key KEYFILE --version V [--trust-existing]\n"
    "  talvoreen-publish client-files RESOURCES_FOLDER --out FILE [--download-url URL]\n"
    "                    [--threads N] [--dos-threshold N] [--jobs N]\n"
    "  talvoreen-publish verify CDN_ROOT --public-key KEY\n";

constexpr char kGameManifestPath[] = "game/stable/manifest.json";
constexpr char kLauncherManifestPath[] = "launcher/stable/manifest.json";
constexpr size_t kMaxServerFiles = 200000;
constexpr uint64_t kMaxGameEnvelopeBytes = 33554432;  // what the launcher fetches at most
constexpr uint64_t kMaxClientFilesBytes = 67108864;

// ---- Command line --------------------------------------------------------------------

struct CommandLine {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> values;
  std::set<std::string> flags;

  std::string Value(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? std::string() : it->second.back();
  }
  bool Has(const std::string& name) const { return values.count(name) > 0; }
};

class UsageError {
 public:
  explicit UsageError(std::string text) : text_(std::move(text)) {}
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// Options with a value may repeat only when listed in `repeatable`.
CommandLine ParseCommandLine(const std::vector<std::string>& args, size_t positionalCount,
                             const std::set<std::string>& valueOptions, const std::set<std::string>& flagOptions,
                             const std::set<std::string>& required, const std::set<std::string>& repeatable = {}) {
  CommandLine line;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      if (flagOptions.count(arg)) {
        line.flags.insert(arg);
      } else if (valueOptions.count(arg)) {
        if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
        if (line.values.count(arg) && !repeatable.count(arg)) throw UsageError(arg + " is given twice");
        line.values[arg].push_back(args[++i]);
      } else {
        throw UsageError("unknown option " + arg + " for " + args[0]);
      }
    } else {
      line.positional.push_back(arg);
    }
  }
  if (line.positional.size() != positionalCount) {
    throw UsageError(args[0] + " takes " + std::to_string(positionalCount) + " argument(s) besides its options");
  }
  for (const std::string& name : required) {
    if (!line.Has(name)) throw UsageError(args[0] + " needs " + name);
  }
  return line;
}

// ---- Shared steps --------------------------------------------------------------------

int Fail(std::ostream& err, const std::string& text) {
  err << "talvoreen-publish: " << text << "\n";
  return 1;
}

std::string Narrow(const std::wstring& text) { return Utf8FromWide(text); }

bool IsVersionText(const std::string& text) {
  if (text.empty() || text.front() == '.' || text.back() == '.') return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '.' ? (i > 0 && text[i - 1] == '.') : !(text[i] >= '0' && text[i] <= '9')) return false;
  }
  return true;
}

// Strict decimal in [low, high].
bool ParseNumber(const std::string& text, uint64_t low, uint64_t high, uint64_t& value) {
  if (text.empty() || text.size() > 12) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value >= low && value <= high;
}

// SOURCE_DATE_EPOCH, when set to seconds since 1970, stands for the clock, so that publishing
// the same tree again writes the same bytes.
std::string UtcNow() {
  std::time_t now = std::time(nullptr);
  uint64_t fixed = 0;
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch && ParseNumber(epoch, 0, 253402300799ull, fixed)) now = static_cast<std::time_t>(fixed);
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &now);
#else
  gmtime_r(&now, &parts);
#endif
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

// --jobs: threads that digest and compress, one file at a time each; one per processor by default.
unsigned JobsOption(const CommandLine& line) {
  if (!line.Has("--jobs")) return DefaultJobs();
  uint64_t jobs = 0;
  if (!ParseNumber(line.Value("--jobs"), 1, 64, jobs)) throw UsageError("--jobs must be a number from 1 to 64");
  return static_cast<unsigned>(jobs);
}

json_object* JsonText(const std::string& text) {
  return json_object_new_string_len(text.data(), static_cast<int>(text.size()));
}

std::string JsonDocument(json_object* root) {
  const char* text = json_object_to_json_string_ext(
      root, JSON_C_TO_STRING_PRETTY | JSON_C_TO_STRING_SPACED | JSON_C_TO_STRING_NOSLASHESCAPE);
  return std::string(text) + "\n";
}

bool LoadSigningKey(const std::string& file, SigningKey& key, std::string& error) {
  std::string text;
  if (!ReadFileBytes(PathFromUtf8(file), text, error)) return false;
  if (!DecodePrivateKeyPem(text, key, error)) {
    error = file + ": " + error;
    return false;
  }
  return true;
}

// Relative UTF-8 path of every regular file under folder, sorted; problems are collected.
std::vector<std::string> ListFiles(const fs::path& folder, std::vector<std::string>& problems) {
  std::vector<std::string> files;
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, ec), end;
  if (ec) {
    problems.push_back("cannot list " + Utf8FromPath(folder) + ": " + ec.message());
    return files;
  }
  for (; it != end; it.increment(ec)) {
    if (ec) {
      problems.push_back("cannot list " + Utf8FromPath(folder) + ": " + ec.message());
      break;
    }
    const fs::path relative = it->path().lexically_relative(folder);
    const std::string text = relative.generic_u8string();
    std::error_code typeError;
    if (it->is_directory(typeError)) continue;
    if (!it->is_regular_file(typeError)) {
      problems.push_back(text + ": not a regular file (links to folders, devices and broken links are refused)");
      continue;
    }
    files.push_back(text);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Which part of IsSafeRelativePath a refused path breaks, for the message.
std::string UnsafePathReason(const std::string& path) {
  if (path.size() > 240) return "longer than 240 bytes";
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('/', start);
    const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (start == 0 && AsciiLower(part) == ".talvoreen") return "the top folder .talvoreen is the launcher's own";
    if (AsciiLower(part) != ".talvoreen" && !IsSafeRelativePath(part)) {
      return "the name \"" + part +
             "\" is not allowed (empty, \".\" or \"..\", ending in a dot or space, a device name such as con, nul, "
             "com1 or lpt1, or holding a control character or one of \" * : < > ? \\ |)";
    }
    if (slash == std::string::npos) return "not allowed";
    start = slash + 1;
  }
}

// The launcher's path rule and its case-insensitive uniqueness, with a reason for each refusal.
void CheckPaths(const std::vector<std::string>& paths, std::vector<std::string>& problems) {
  std::map<std::string, std::string> seen;
  for (const std::string& path : paths) {
    if (!IsValidUtf8(path)) {
      problems.push_back(path + ": the name is not UTF-8");
    } else if (!IsSafeRelativePath(path)) {
      problems.push_back(path + ": the launcher refuses this path: " + UnsafePathReason(path));
    }
    auto inserted = seen.emplace(PathIdentity(path), path);
    if (!inserted.second) {
      problems.push_back(path + ": differs from " + inserted.first->second + " only in letter case");
    }
  }
}

int ReportProblems(std::ostream& err, const std::vector<std::string>& problems, const std::string& what) {
  const size_t shown = std::min<size_t>(problems.size(), 50);
  for (size_t i = 0; i < shown; ++i) err << "talvoreen-publish: " << problems[i] << "\n";
  if (problems.size() > shown) err << "talvoreen-publish: ... and " << problems.size() - shown << " more\n";
  return Fail(err, what + ": " + std::to_string(problems.size()) + " problem(s); nothing was written");
}

bool IsInside(const fs::path& inner, const fs::path& outer) {
  std::error_code ec;
  const fs::path a = fs::weakly_canonical(inner, ec);
  const fs::path b = fs::weakly_canonical(outer, ec);
  auto ai = a.begin();
  for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
    if (bi->empty()) continue;
    if (ai == a.end() || *ai != *bi) return false;
  }
  return true;
}

// Signs the document, checks that the launcher's own verification accepts the envelope, and
// writes it last, atomically.
bool WriteSignedManifest(const SigningKey& key, const std::string& document, const fs::path& target,
                         std::string& error) {
  const std::string envelope = MakeEnvelope(key, document);
  if (envelope.size() > kMaxGameEnvelopeBytes) {
    error = "the signed manifest would be " + std::to_string(envelope.size()) +
            " bytes; the launcher reads at most 33554432 (too many files or paths too long)";
    return false;
  }
  std::string payload;
  std::wstring verifyError;
  if (!VerifyEnvelopeWithKey(envelope, EncodeBase64(key.publicKey), payload, verifyError) || payload != document) {
    error = "the signed envelope does not verify (" + Narrow(verifyError) + ")";
    return false;
  }
  return WriteFileAtomically(target, envelope, error);
}

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

// ---- keygen ----------------------------------------------------------------------------

int KeygenCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CommandLine line = ParseCommandLine(args, 1, {}, {}, {});
  SigningKey key;
  std::string error;
  if (!GenerateSigningKey(key, error)) return Fail(err, error);
  if (!CreateOwnerOnlyFile(PathFromUtf8(line.positional[0]), EncodePrivateKeyPem(key), error)) return Fail(err, error);
  out << "Private key written to " << line.positional[0] << " (readable by its owner only; keep it secret).\n";
  out << "Public key, for TALVOREEN_SIGNING_PUBLIC_KEY and verify --public-key:\n";
  out << EncodeBase64(key.publicKey) << "\n";
  return 0;
}

// ---- game ------------------------------------------------------------------------------

int GameCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CommandLine line =
      ParseCommandLine(args, 1, {"--out", "--key", "--build", "--min-launcher-version", "--keep", "--jobs"},
                       {"--optional", "--trust-existing"}, {"--out", "--key", "--build"}, {"--keep"});
  PhaseClock phases;
  const unsigned jobs = JobsOption(line);
  const bool trustExisting = line.flags.count("--trust-existing") > 0;
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
  uint64_t totalBytes = 0, newObjectBytes = 0;
  size_t newObjects = 0;
  std::vector<PublishedFile> published;
  const auto report = [&](size_t i) {
    const uint64_t size = published[i].size;
    const StoredObject& object = published[i].object;
    if (size > kMaxGameFileSize || object.zsize > kMaxGameFileSize) {
      error = paths[i] + ": larger than the 8 GiB the launcher accepts";
      return false;
    }
    err << "[" << i + 1 << "/" << paths.size() << "] " << paths[i] << ": " << HumanSize(size)
        << (object.created ? ", new object of " + HumanSize(object.zsize) : ", object already published") << "\n";
    totalBytes += size;
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
  if (!PublishFiles(sources, paths, cdnRoot, trustExisting, jobs, published, report, error, err, phases)) {
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
  out << "Manifest: " << Utf8FromPath((cdnRoot / PathFromUtf8(kGameManifestPath)).make_preferred()) << "\n";
  return 0;
}

// ---- launcher --------------------------------------------------------------------------

int LauncherCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CommandLine line =
      ParseCommandLine(args, 1, {"--out", "--key", "--version"}, {"--trust-existing"}, {"--out", "--key", "--version"});
  const fs::path exe = PathFromUtf8(line.positional[0]);
  const fs::path cdnRoot = PathFromUtf8(line.Value("--out"));
  const std::string version = line.Value("--version");
  std::error_code ec;
  if (!fs::is_regular_file(exe, ec)) return Fail(err, "not a file: " + line.positional[0]);
  if (!IsVersionText(version)) return Fail(err, "--version must look like 0.4.22: " + version);
  const uint64_t exeSize = fs::file_size(exe, ec);
  if (ec || exeSize == 0 || exeSize > kMaxLauncherFileSize) {
    return Fail(err, line.positional[0] + ": the launcher accepts 1 byte to 64 MiB, this is " + HumanSize(exeSize));
  }
  SigningKey key;
  std::string error;
  if (!LoadSigningKey(line.Value("--key"), key, error)) return Fail(err, error);

  std::string sha256;
  uint64_t size = 0;
  StoredObject object;
  const std::string name = Utf8FromPath(exe.filename());
  if (!DigestContent(exe, name, sha256, size, error, err) ||
      !StoreObject(exe, cdnRoot, name, line.flags.count("--trust-existing") > 0, sha256, size, object, error, err)) {
    return Fail(err, error);
  }

  JsonPtr root(json_object_new_object());
  json_object_object_add(root.get(), "schema", json_object_new_int(1));
  json_object_object_add(root.get(), "product", JsonText(kLauncherProduct));
  json_object_object_add(root.get(), "version", JsonText(version));
  json_object_object_add(root.get(), "created", JsonText(UtcNow()));
  json_object* file = json_object_new_object();
  json_object_object_add(file, "path", JsonText(name));
  json_object_object_add(file, "size", json_object_new_int64(static_cast<int64_t>(size)));
  json_object_object_add(file, "sha256", JsonText(sha256));
  json_object_object_add(file, "zsize", json_object_new_int64(static_cast<int64_t>(object.zsize)));
  json_object_object_add(root.get(), "file", file);
  const std::string document = JsonDocument(root.get());

  LauncherManifest check;
  std::wstring parseError;
  if (!ParseLauncherManifestDocument(document, check, parseError)) {
    return Fail(err, "the launcher would refuse this manifest: " + Narrow(parseError));
  }
  if (!WriteSignedManifest(key, document, cdnRoot / PathFromUtf8(kLauncherManifestPath), error)) {
    return Fail(err, error);
  }
  out << "Published launcher " << version << ": " << name << ", " << size << " bytes, "
      << (object.created ? "new object of " + std::to_string(object.zsize) + " bytes" : "object already published")
      << ".\n";
  out << "Manifest: " << Utf8FromPath((cdnRoot / PathFromUtf8(kLauncherManifestPath)).make_preferred()) << "\n";
  return 0;
}

// ---- client-files ----------------------------------------------------------------------

int ClientFilesCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CommandLine line =
      ParseCommandLine(args, 1, {"--out", "--download-url", "--threads", "--dos-threshold", "--jobs"}, {}, {"--out"});
  PhaseClock phases;
  const unsigned jobs = JobsOption(line);
  const fs::path resources = PathFromUtf8(line.positional[0]);
  std::error_code ec;
  if (!fs::is_directory(resources, ec)) return Fail(err, "not a folder: " + line.positional[0]);
  std::string downloadUrl;
  uint64_t threads = 0, dosThreshold = 0;
  if (line.Has("--download-url") && !AcceptHttpDownloadUrl(line.Value("--download-url"), downloadUrl)) {
    return Fail(err,
                "--download-url must be an http:// or https:// address with a host, under 2048 bytes, "
                "without spaces, quotes, <, >, \\, ? or #");
  }
  if (line.Has("--threads") && !ParseNumber(line.Value("--threads"), 0, 1000, threads)) {
    return Fail(err, "--threads must be a number from 0 to 1000");
  }
  if (line.Has("--dos-threshold") && !ParseNumber(line.Value("--dos-threshold"), 0, 100000, dosThreshold)) {
    return Fail(err, "--dos-threshold must be a number from 0 to 100000");
  }

  std::vector<std::string> problems, names;
  for (fs::directory_iterator it(resources, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = Utf8FromPath(it->path().filename());
    if (it->is_directory(ec)) {
      names.push_back(name);
    } else {
      problems.push_back(name + ": files must be inside a resource folder");
    }
  }
  if (ec) problems.push_back("cannot list " + line.positional[0] + ": " + ec.message());
  std::sort(names.begin(), names.end());

  struct Entry {
    std::string path;  // relative to the resource
    fs::path file;
  };
  std::vector<std::pair<std::string, std::vector<Entry>>> listed;
  std::vector<std::string> localPaths;
  size_t total = 0;
  for (const std::string& name : names) {
    std::vector<Entry> entries;
    for (const std::string& path : ListFiles(resources / PathFromUtf8(name), problems)) {
      entries.push_back({path, resources / PathFromUtf8(name) / PathFromUtf8(path)});
      localPaths.push_back("resources/" + name + "/" + path);
      if (!IsSafeRelativePath(name + "/" + path))
        problems.push_back(name + "/" + path + ": the launcher refuses this path");
    }
    total += entries.size();
    listed.emplace_back(name, std::move(entries));
  }
  CheckPaths(localPaths, problems);
  if (total > kMaxServerFiles) problems.push_back("more than 200000 files; the launcher refuses such a list");
  if (!problems.empty()) return ReportProblems(err, problems, "client-files " + line.positional[0]);

  JsonPtr root(json_object_new_object());
  json_object_object_add(root.get(), "schema", json_object_new_int(1));
  if (!downloadUrl.empty()) json_object_object_add(root.get(), "httpDownloadUrl", JsonText(downloadUrl));
  if (line.Has("--threads"))
    json_object_object_add(root.get(), "httpThreads", json_object_new_int64(static_cast<int64_t>(threads)));
  if (line.Has("--dos-threshold")) {
    json_object_object_add(root.get(), "httpDosThreshold", json_object_new_int64(static_cast<int64_t>(dosThreshold)));
  }
  phases.Lap("listing");
  struct Digested {
    const Entry* entry = nullptr;
    size_t resource = 0;
    std::string md5, error;
    uint64_t size = 0;
    bool ok = false;
  };
  std::vector<Digested> digests;
  json_object* resourceArray = json_object_new_array();
  json_object_object_add(root.get(), "resources", resourceArray);
  std::vector<json_object*> fileArrays;
  for (size_t r = 0; r < listed.size(); ++r) {
    for (const Entry& entry : listed[r].second) {
      digests.emplace_back();
      digests.back().entry = &entry;
      digests.back().resource = r;
    }
    json_object* object = json_object_new_object();
    json_object_object_add(object, "name", JsonText(listed[r].first));
    fileArrays.push_back(json_object_new_array());
    json_object_object_add(object, "files", fileArrays.back());
    json_object_array_add(resourceArray, object);
  }
  uint64_t totalBytes = 0;
  std::string error;
  const auto add = [&](size_t i) {
    Digested& digest = digests[i];
    if (!digest.ok) {
      error = digest.error;
      return false;
    }
    if (digest.size > kMaxGameFileSize) {
      error = listed[digest.resource].first + "/" + digest.entry->path + ": larger than 8 GiB";
      return false;
    }
    json_object* file = json_object_new_object();
    json_object_object_add(file, "path", JsonText(digest.entry->path));
    json_object_object_add(file, "size", json_object_new_int64(static_cast<int64_t>(digest.size)));
    json_object_object_add(file, "md5", JsonText(digest.md5));
    json_object_array_add(fileArrays[digest.resource], file);
    totalBytes += digest.size;
    if ((i + 1) % 1000 == 0) err << "[" << i + 1 << "/" << total << "] files hashed\n";
    digest.md5 = std::string();
    return true;
  };
  const bool digested = ForEachInOrder(
      digests.size(), jobs,
      [&](size_t i) {
        Digested& digest = digests[i];
        digest.ok = DigestFile(digest.entry->file, Digest::Md5, digest.md5, digest.size, digest.error);
      },
      add);
  if (!digested) return Fail(err, error);
  phases.Lap("digests");
  const std::string listText = JsonDocument(root.get());
  if (listText.size() > kMaxClientFilesBytes) {
    return Fail(err, "the list would be " + std::to_string(listText.size()) +
                         " bytes; the launcher reads at most 67108864 (too many files or paths too long)");
  }
  if (!WriteFileAtomically(PathFromUtf8(line.Value("--out")), listText, error)) return Fail(err, error);
  phases.Lap("list");
  err << phases.Text() << " (" << jobs << (jobs == 1 ? " thread" : " threads") << ")\n";
  out << "Listed " << listed.size() << " resources, " << total << " files, " << totalBytes << " bytes ("
      << HumanSize(totalBytes) << ") in " << line.Value("--out") << "\n";
  return 0;
}

// ---- verify ----------------------------------------------------------------------------

class TreeVerifier {
 public:
  TreeVerifier(fs::path root, std::string publicKey, std::ostream& out)
      : root_(std::move(root)), publicKey_(std::move(publicKey)), out_(out) {}

  // False when the file is missing; problems are counted either way.
  bool ReadManifest(const char* relative, std::string& document) {
    const fs::path path = root_ / PathFromUtf8(relative);
    std::error_code ec;
    if (!fs::exists(path, ec)) return false;
    std::string envelope, error;
    if (!ReadFileBytes(path, envelope, error)) return Problem(error);
    std::wstring verifyError;
    if (!VerifyEnvelopeWithKey(envelope, publicKey_, document, verifyError)) {
      Problem(std::string(relative) + ": " + Narrow(verifyError));
      document.clear();
    }
    return true;
  }

  void CheckObject(const ManifestFile& file, const std::string& what) {
    if (!checked_.insert(file.hash.str() + "/" + std::to_string(file.size) + "/" + std::to_string(file.zsize)).second) return;
    const std::string relative = ObjectPath(file.hash);
    const fs::path object = root_ / PathFromUtf8(relative);
    std::error_code ec;
    const uint64_t zsize = fs::file_size(object, ec);
    if (ec) {
      Problem(what + ": missing object " + relative);
      return;
    }
    if (zsize != file.zsize) {
      Problem(what + ": object " + relative + " has " + std::to_string(zsize) + " bytes, the manifest says " +
              std::to_string(file.zsize));
    }
    std::string sha256, error;
    uint64_t size = 0;
    if (!InflateObject(object, sha256, size, error)) {
      Problem(what + ": " + error);
    } else if (size != file.size || sha256 != file.hash) {
      Problem(what + ": object " + relative + " does not hold the listed content (" + std::to_string(size) +
              " bytes, SHA-256 " + sha256 + ")");
    }
  }

  bool Problem(const std::string& text) {
    out_ << "PROBLEM " << text << "\n";
    ++problems_;
    return true;
  }
  size_t Problems() const { return problems_; }

 private:
  fs::path root_;
  std::string publicKey_;
  std::ostream& out_;
  std::set<std::string> checked_;
  size_t problems_ = 0;
};

int VerifyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CommandLine line = ParseCommandLine(args, 1, {"--public-key"}, {}, {"--public-key"});
  std::string publicKey, error;
  if (!ReadPublicKeyArgument(line.Value("--public-key"), publicKey, error)) return Fail(err, error);
  TreeVerifier verifier(PathFromUtf8(line.positional[0]), publicKey, out);
  size_t manifests = 0;

  std::string document;
  if (verifier.ReadManifest(kGameManifestPath, document)) {
    ++manifests;
    Manifest manifest;
    std::wstring parseError;
    if (!document.empty() && !ParseGameManifestDocument(document, manifest, parseError)) {
      verifier.Problem(std::string(kGameManifestPath) + ": " + Narrow(parseError));
    } else if (!document.empty()) {
      for (size_t i = 0; i < manifest.files.size(); ++i) {
        verifier.CheckObject(manifest.files[i], manifest.files[i].path);
        if ((i + 1) % 500 == 0) err << "[" << i + 1 << "/" << manifest.files.size() << "] objects checked\n";
      }
      out << "game build " << manifest.build << ": " << manifest.files.size() << " files, " << manifest.totalSize
          << " bytes\n";
    }
  }
  document.clear();
  if (verifier.ReadManifest(kLauncherManifestPath, document)) {
    ++manifests;
    LauncherManifest manifest;
    std::wstring parseError;
    if (!document.empty() && !ParseLauncherManifestDocument(document, manifest, parseError)) {
      verifier.Problem(std::string(kLauncherManifestPath) + ": " + Narrow(parseError));
    } else if (!document.empty()) {
      verifier.CheckObject(manifest.file, "launcher " + manifest.version);
      out << "launcher " << manifest.version << ": " << manifest.file.path.str() << ", " << manifest.file.size << " bytes\n";
    }
  }
  if (manifests == 0) {
    return Fail(err, "neither " + std::string(kGameManifestPath) + " nor " + kLauncherManifestPath + " in " +
                         line.positional[0]);
  }
  if (verifier.Problems() > 0) return Fail(err, "verify: " + std::to_string(verifier.Problems()) + " problem(s)");
  out << "OK: signatures valid, every object present with its size and hash\n";
  return 0;
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

// ---- Dispatch --------------------------------------------------------------------------

int RunPublisher(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
    (args.empty() ? err : out) << kUsage;
    return args.empty() ? 2 : 0;
  }
  try {
    if (args[0] == "keygen") return KeygenCommand(args, out, err);
    if (args[0] == "game") return GameCommand(args, out, err);
    if (args[0] == "launcher") return LauncherCommand(args, out, err);
    if (args[0] == "client-files") return ClientFilesCommand(args, out, err);
    if (args[0] == "verify") return VerifyCommand(args, out, err);
    err << "talvoreen-publish: unknown command " << args[0] << "\n" << kUsage;
    return 2;
  } catch (const UsageError& e) {
    err << "talvoreen-publish: " << e.Text() << "\n" << kUsage;
    return 2;
  } catch (const std::exception& e) {
    return Fail(err, std::string("failed: ") + e.what());
  }
}

}  // namespace publish
