// Installed state file: what the launcher last installed and verified in one
// synchronisation target ("installed.json", "server-<key>.json").
// The text form (parse, serialise) is portable; reading and writing files is Windows only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "manifest/manifest.h"

// The reader's limit follows from the largest lists accepted: each of their entries becomes
// one state entry of at most StateEntryBytesAtMost, and the limit leaves a fifth to spare
// (checked where each list's limits are set, sync/client_files.h and below for the manifest).
inline constexpr uint64_t kMaxStateFileBytes = 100663296;  // 96 MiB

// The longest text of one entry with a path of pathBytes (paths that pass IsSafeRelativePath
// need no escapes) and a hash of hashBytes: 20 digits of size and of time, both flags and the
// comma between entries.
constexpr uint64_t StateEntryBytesAtMost(uint64_t pathBytes, uint64_t hashBytes) {
  return 110 + pathBytes + hashBytes;
}
// Everything around the entries except the build text, which comes from the list and is
// written back no longer than it was there.
inline constexpr uint64_t kStateFrameBytes = 64;
// The shortest entry of a game manifest, {"path":"p","size":0,"sha256":"<64>","zsize":0} and a
// comma, without the bytes of the path, which the state entry repeats.
inline constexpr uint64_t kShortestGameEntryBytes = 107;
// A game manifest of kMaxManifestBytes: its entries grow by the difference, its build text and
// paths are no longer in the state than in the manifest.
static_assert(kStateFrameBytes + kMaxManifestBytes +
                      (kMaxManifestBytes / (kShortestGameEntryBytes + 1)) *
                          (StateEntryBytesAtMost(0, 64) - kShortestGameEntryBytes) <=
                  kMaxStateFileBytes / 5 * 4,
              "the state of the largest game manifest must fit the state limit with room to spare");

struct InstalledFile {
  CompactString path;  // UTF-8, "/" separators, exactly as in the manifest
  CompactString hash;  // the manifest's hash text; empty for a keep file
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
// The same text in pieces, one per entry, handed to emit in order: the whole text never needs
// to be held. Stops, returning false, when emit does.
bool EmitInstalledState(const InstalledState& state, const std::function<bool(const std::string& piece)>& emit);
// The same for entries that are not held: produce hands them over in order to the function it is
// given, which returns false once emit has; produce returns false to stop.
using EmitStateEntry = std::function<bool(const InstalledFile& entry)>;
bool EmitInstalledStateEntries(const std::string& build, bool complete,
                               const std::function<bool(const EmitStateEntry& entry)>& produce,
                               const std::function<bool(const std::string& piece)>& emit);
// Whether text is exactly what SerializeInstalledState gives, without making that text: a
// state file can be tens of megabytes.
bool SerializesTo(const InstalledState& state, const std::string& text);

// Nothing when the text is larger than kMaxStateFileBytes, is not JSON or has no "files" array.
// Entries that are not objects or whose path fails IsSafeRelativePath are skipped;
// "sha256" stands in for a missing "hash".
std::optional<InstalledState> ParseInstalledState(const std::string& text);

// A digest of one entry, and of a record's entries in any order (a sum of theirs): what tells
// an equal record from another when the earlier one was read entry by entry and not kept.
// scratch is room for a hash's digits, kept by the caller from one entry to the next.
uint64_t EntryDigest(const InstalledFile& entry, std::string& scratch);
uint64_t EntriesDigest(const InstalledState& state);

// What reading a state text entry by entry tells besides its entries.
struct StateTextFacts {
  std::string build;
  bool complete = false;
  bool canonical = false;  // the text is exactly what serialising the record read gives
  bool filesRepeated = false;  // the reading failed on a second "files" member
};

// ParseInstalledState over a text handed over in pieces, each entry handed to onEntry as it is
// read instead of being kept, so that a state file of tens of megabytes is never held whole,
// neither as text nor as a record: read fills the buffer and returns how many bytes it gave, 0
// at the end. Fails on what ParseInstalledState refuses, on more than kMaxStateFileBytes and on
// a second "files" member (the entries handed over cannot be taken back); entries handed over
// before a failure count for nothing. Without checkCanonical, facts.canonical stays false and
// the entries are not serialised to find it out.
bool ReadInstalledStateEntries(const std::function<size_t(char*, size_t)>& read,
                               const std::function<void(InstalledFile&&)>& onEntry, StateTextFacts& facts,
                               bool checkCanonical = true);

bool operator==(const InstalledFile& a, const InstalledFile& b);
bool operator==(const InstalledState& a, const InstalledState& b);

// The same build, completeness and entries, in any order: what the next run reads from either
// is the same.
bool SameRecord(const InstalledState& a, const InstalledState& b);

// Windows: the file read a block at a time by ReadInstalledStateEntries (nothing when missing,
// unreadable, larger than kMaxStateFileBytes or refused), and SerializeInstalledState's text
// written a block at a time with WriteFileAtomicPieces. A text over the limit never replaces the
// file, since it could not be read back: the write fails, tooLarge is set and the previous file
// stays. error gets the system's text of a failed write.
std::optional<InstalledState> ReadInstalledState(const std::wstring& path);
bool WriteInstalledState(const std::wstring& path, const InstalledState& state, bool* tooLarge = nullptr,
                         std::wstring* error = nullptr);
// The same for a record whose entries are not held: produce hands them to emit in order (emit
// returns false once the write has failed) and returns false to leave the previous file as it is.
bool WriteInstalledStateEntries(const std::wstring& path, const std::string& build, bool complete,
                                const std::function<bool(const EmitStateEntry& emit)>& produce, bool* tooLarge = nullptr,
                                std::wstring* error = nullptr);

// What tells one version of a state file from another without reading it: the file is only
// ever replaced whole (WriteFileAtomic), so a new version has a new creation time.
struct StateFileStamp {
  bool exists = false;
  uint64_t size = 0;
  uint64_t created = 0;
  uint64_t written = 0;
  bool operator==(const StateFileStamp& other) const {
    return exists == other.exists && size == other.size && created == other.created && written == other.written;
  }
};
StateFileStamp StampStateFile(const std::wstring& path);

// One reading of a state file with what a later run needs to know about it: its stamp, taken
// before reading, and (with checkCanonical) whether its text is exactly what writing the record
// gives, so that writing an equal record again would change nothing.
struct StateFileRead {
  StateFileStamp stamp;
  std::optional<InstalledState> state;
  bool canonical = false;
};
StateFileRead ReadStateFile(const std::wstring& path, bool checkCanonical = true);
// The file read a block at a time through ReadInstalledStateEntries, with its stamp taken
// before reading; canonical also needs the size read to be the stamp's.
bool ReadStateFileEntries(const std::wstring& path, const std::function<void(InstalledFile&&)>& onEntry,
                          StateFileStamp& stamp, StateTextFacts& facts, bool checkCanonical = true);
