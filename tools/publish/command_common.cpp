// Steps that several talvoreen-publish commands share: the command line, numbers and dates,
// JSON output, keys, listing and checking a source tree, and writing a signed manifest.
#include "tools/publish/commands.h"

#include <json-c/json.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <system_error>

#include "base/text.h"
#include "manifest/envelope.h"
#include "manifest/manifest.h"
#include "manifest/rules.h"
#include "tools/publish/fileio.h"
#include "tools/publish/parallel.h"

namespace fs = std::filesystem;

namespace publish {

// Options with a value may repeat only when listed in `repeatable`.
CommandLine ParseCommandLine(const std::vector<std::string>& args, size_t positionalCount,
                             const std::set<std::string>& valueOptions, const std::set<std::string>& flagOptions,
                             const std::set<std::string>& required, const std::set<std::string>& repeatable) {
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


}  // namespace publish
