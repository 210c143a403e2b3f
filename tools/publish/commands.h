// The commands of talvoreen-publish, one file each, and the steps they share
// (command_common.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "tools/publish/keys.h"

struct json_object;

namespace publish {

inline constexpr char kGameManifestPath[] = "game/stable/manifest.json";
inline constexpr char kLauncherManifestPath[] = "launcher/stable/manifest.json";
inline constexpr size_t kMaxServerFiles = 200000;
inline constexpr uint64_t kMaxGameEnvelopeBytes = 33554432;  // what the launcher fetches at most
inline constexpr uint64_t kMaxClientFilesBytes = 67108864;

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

// Thrown for a bad command line; the dispatcher prints it with the usage and exits with 2.
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
                             const std::set<std::string>& required, const std::set<std::string>& repeatable = {});

// ---- Shared steps --------------------------------------------------------------------

// Prints "talvoreen-publish: text" to err and returns 1.
int Fail(std::ostream& err, const std::string& text);
std::string Narrow(const std::wstring& text);
bool IsVersionText(const std::string& text);
// Strict decimal in [low, high].
bool ParseNumber(const std::string& text, uint64_t low, uint64_t high, uint64_t& value);
// Now as 2026-01-31T12:00:00Z, or SOURCE_DATE_EPOCH when set.
std::string UtcNow();
unsigned JobsOption(const CommandLine& line);
json_object* JsonText(const std::string& text);
std::string JsonDocument(json_object* root);
bool LoadSigningKey(const std::string& file, SigningKey& key, std::string& error);
std::vector<std::string> ListFiles(const std::filesystem::path& folder, std::vector<std::string>& problems);
void CheckPaths(const std::vector<std::string>& paths, std::vector<std::string>& problems);
int ReportProblems(std::ostream& err, const std::vector<std::string>& problems, const std::string& what);
bool IsInside(const std::filesystem::path& inner, const std::filesystem::path& outer);
bool WriteSignedManifest(const SigningKey& key, const std::string& document, const std::filesystem::path& target,
                         std::string& error);

// ---- Commands (args[0] is the command's name) ----------------------------------------

int GameCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int LauncherCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int ClientFilesCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// verify CDN_ROOT and verify URL.
int VerifyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace publish
