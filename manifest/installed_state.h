// Installed state file: what the launcher last installed and verified in one
// synchronisation target ("installed.json", "server-<key>.json").
// The text form (parse, serialise) is portable; reading and writing files is Windows only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline constexpr uint64_t kMaxStateFileBytes = 33554432;  // 32 MiB

struct InstalledFile {
  std::string path;  // UTF-8, "/" separators, exactly as in the manifest
  std::string hash;  // the manifest's hash text; empty for a keep file
  uint64_t size = 0;
  uint64_t mtime = 0;  // raw Windows file time
  bool keep = false;
  bool unavailable = false;
};

struct InstalledState {
  std::string build;
  bool complete = false;
  std::vector<InstalledFile> files;
};

// {"version":1,"build":...,"complete":...,"files":[{"path","hash","size","mtime"[,"keep"][,"unavailable"]}]}
// in that key order, without white space; false flags are omitted.
std::string SerializeInstalledState(const InstalledState& state);

// Nothing when the text is larger than 32 MiB, is not JSON or has no "files" array.
// Entries that are not objects or whose path fails IsSafeRelativePath are skipped;
// "sha256" stands in for a missing "hash".
std::optional<InstalledState> ParseInstalledState(const std::string& text);

// Windows: the whole file through ParseInstalledState (nothing when missing, unreadable or
// larger than 32 MiB), and SerializeInstalledState stored with WriteFileAtomic. A text over
// 32 MiB is never written, since it could not be read back: the write fails, tooLarge is set
// and the previous file stays.
std::optional<InstalledState> ReadInstalledState(const std::wstring& path);
bool WriteInstalledState(const std::wstring& path, const InstalledState& state, bool* tooLarge = nullptr);
