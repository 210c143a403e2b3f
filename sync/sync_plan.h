// What a synchronisation run must do, decided as data: which manifest files are current, which
// must be hashed and which downloaded, what the state file records, what is deleted, and how
// many download workers run at which pace. The run thread gathers facts from the disk and the
// network, calls these functions and carries out their answers; nothing here touches a file, a
// thread or the network.
//
// A run uses them in this order: the fetch texts while it gets the list; NeedsNewerLauncher and
// the download limits once it is accepted; the previous record, read against the list;
// ClassifyFiles; SettleHashedFile for every HashTask
// it hashed; PrepareDownloads; then CheckedStateMerger for a check run with files left to
// download, or else NewRunState (handed to the download workers), CheckFreeSpace, OwnedPaths
// when something stands in a download's way and, in game mode, EntriesLeftManifest.
//
// Sections: modes and disk facts, manifest fetch, classification, after hashing, download list,
// state records, free space, deletion, what stands in the way, launcher version, worker count
// and pacing.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "manifest/installed_state.h"
#include "manifest/manifest.h"
#include "sync/path_index.h"

// ---- Modes and disk facts ---------------------------------------------------------------

enum class SyncMode : int { Check = 0, Update = 1 };

// What the disk reports for one manifest file, read by the run thread. A folder at the path
// counts as missing.
struct DiskFile {
  bool exists = false;
  uint64_t size = 0;
  uint64_t mtime = 0;  // raw Windows file time
};

inline constexpr uint64_t kFreeSpaceReserve = 67108864;  // 64 MiB kept free above what is needed
inline constexpr uint32_t kMaxDownloadWorkers = 16;

// ---- Manifest fetch ---------------------------------------------------------------------

inline constexpr int kManifestTries = 3;
inline constexpr uint32_t kGameManifestLimit = 33554432;  // 32 MiB
inline constexpr uint32_t kServerListLimit = 67108864;    // 64 MiB
// The state limit is derived from the largest game manifest the parser is given.
static_assert(kGameManifestLimit <= kMaxManifestBytes, "the game manifest's body limit is the one the state allows for");

// One try at the manifest or file list, as the run thread saw it.
struct FetchFacts {
  bool requestOk = false;  // the whole body arrived with status 200
  std::wstring error;      // the request's text when it failed, else the parser's
  uint32_t status = 0;
  std::wstring remoteAddress;  // empty when unknown
  std::wstring contentType;
  bool hasContentLength = false;
  uint64_t contentLength = 0;
  bool incomplete = false;  // the body was shorter or longer than announced
  uint64_t received = 0;    // bytes of the body that arrived (a body kept on disk is shown by its start)
};

// A failed request whose body was not merely cut off is answered at once, without a retry.
inline bool FailsWithoutRetry(const FetchFacts& facts) { return !facts.requestOk && !facts.incomplete; }

// "[tag] url: HTTP 404 from 1.2.3.4:22005: text", logged for a request that fails without retry.
std::wstring RequestFailedLogLine(const std::wstring& tag, const std::wstring& url, const FetchFacts& facts);

// The run's failure text for a request that fails without retry: the game's generic text, or
// the server texts for 404, 503 and anything else.
std::wstring RequestFailedText(bool gameMode, const FetchFacts& facts);

// The log line of a try whose body was cut off or refused by the parser: status, address,
// type, announced and received length, and the first 300 bytes of bodyStart (the body's start)
// with anything outside printable ASCII shown as ".".
std::wstring TryDiagnosticLine(const std::wstring& tag, const std::wstring& url, int attempt, const FetchFacts& facts,
                               const std::string& bodyStart);

// The failure text after the last try. For server lists it tells a cut-off list, a web page
// (a captive portal or a proxy) and anything else apart.
std::wstring LastTryFailedText(bool gameMode, const FetchFacts& facts, const std::string& bodyStart);

// The first byte that is not blank is "<", or the content type names html.
bool LooksLikeWebPage(const std::string& body, const std::wstring& contentType);

// ---- The previous record ----------------------------------------------------------------

// What the previous state file says of one manifest file (its first entry for that file), set
// against what the disk says of that file now.
struct RecordedFile {
  bool known = false;
  bool trusted = false;  // the entry is not unavailable and has the manifest's hash and the disk's size and time
};

// The previous state file as a run needs it, gathered entry by entry against the manifest and
// the disk, so that a record of 200,000 entries is never held beside the list: per manifest file
// whether its entry can be trusted, and whole only the entries a run writes back or acts on. A lost or unreadable
// state file is an empty record.
struct PreviousRecord {
  std::string build;
  bool complete = false;
  std::vector<RecordedFile> files;         // by manifest position; empty when there was no record
  std::vector<InstalledFile> unavailable;  // the entries of manifest files recorded as unavailable
  std::vector<InstalledFile> unlisted;     // entries naming no manifest file, in record order
  size_t entries = 0;                      // every entry read
  uint64_t entriesDigest = 0;              // EntriesDigest of every entry read
};

// Takes a record's entries in order. Holds the manifest and the disk facts (disk[i] describes
// manifest.files[i]; a missing element counts as a missing file) by reference until Take.
class PreviousRecordReader {
 public:
  PreviousRecordReader(const Manifest& manifest, const std::vector<DiskFile>& disk);
  void Add(InstalledFile entry);
  PreviousRecord Take(std::string build, bool complete);

 private:
  const Manifest& manifest_;
  const std::vector<DiskFile>& disk_;
  PathIndex<ManifestFile> index_;
  PreviousRecord record_;
  std::string digestScratch_;  // EntryDigest's room, reused for every entry
};

PreviousRecord RecordOf(const Manifest& manifest, const std::vector<DiskFile>& disk, const InstalledState& state);

// SameRecord of a record and the previous one, which was not kept.
bool SameAsPrevious(const InstalledState& state, const PreviousRecord& previous);

// ---- Classification ---------------------------------------------------------------------

// A file waiting to be hashed, with what the disk said when it was classified.
struct HashTask {
  ManifestFile file;
  DiskFile disk;
};

struct SyncPlan {
  std::vector<InstalledFile> current;           // need nothing; recorded as they are
  std::vector<HashTask> toHash;                 // in manifest order
  std::vector<ManifestFile> toDownload;         // manifest order until PrepareDownloads sorts it
  std::vector<InstalledFile> stillUnavailable;  // check runs of server lists only
  uint64_t bytesToVerify = 0;                   // sum of the sizes in toHash
  uint64_t bytesToDownload = 0;                 // sum of zsize in toDownload, set by PrepareDownloads
};

// Game executables and libraries are hashed on every run, whatever the state file says.
bool IsAlwaysHashed(const std::string& path);

// Sorts every manifest file into current, toHash or toDownload. disk[i] describes
// manifest.files[i] (a missing element counts as a missing file). previous is the state file as
// read against the same disk facts; an empty record sends every file of the right size to be hashed. verify hashes every
// file except keep files. Missing files are downloaded; an existing keep file is current and
// never hashed; a file whose state entry has the manifest hash and the disk's size and time is
// current unless it must be hashed anyway; a file of the manifest size is hashed; any other is
// downloaded. The manifest's entries move into the plan (pass it with std::move where it is not
// needed afterwards: a server's largest list is tens of megabytes); the overload with a whole
// state reads it against the manifest first.
SyncPlan ClassifyFiles(Manifest manifest, const std::vector<DiskFile>& disk, const PreviousRecord& previous,
                       bool gameMode, bool verify);
SyncPlan ClassifyFiles(Manifest manifest, const std::vector<DiskFile>& disk, const InstalledState& previous,
                       bool gameMode, bool verify);

// ---- After hashing ----------------------------------------------------------------------

// digest is the lower-case hex digest of the file's content; after is what the disk reports
// once the hash is done. The file is current only when the digest is the manifest's and the
// file still has the manifest size and the time it had when it was classified (a file written
// to while it was being hashed is not trusted); otherwise it is downloaded.
void SettleHashedFile(SyncPlan& plan, HashTask task, const std::string& digest, const DiskFile& after);

// ---- Download list ----------------------------------------------------------------------

// A check run of a server list sets aside the files the state records as unavailable with the
// same hash (they are not counted as missing, and stay recorded as unavailable). Then the
// download list is sorted largest zsize first (ties keep manifest order) and bytesToDownload is
// its total.
void PrepareDownloads(SyncPlan& plan, const PreviousRecord& previous, SyncMode mode, bool gameMode);

// ---- State records ----------------------------------------------------------------------

// A check run that found files to download writes the previous record back with each verified
// file in place of the entry of the same path (PathIdentity), a record of a file twice keeping
// one fresh entry, and the verified files it did not name after it. Build and complete stay as
// they were. The record passes through entry by entry, as it is read: it can hold 200,000.
class CheckedStateMerger {
 public:
  // Holds verified by reference.
  explicit CheckedStateMerger(const std::vector<InstalledFile>& verified);
  // What the merged record holds in place of the previous record's next entry: that entry, its
  // verified replacement, or nothing.
  const InstalledFile* Add(const InstalledFile& entry);
  // The verified files to append once the previous record has passed.
  std::vector<const InstalledFile*> Rest() const;
  // Whether the merged record differs from the previous one so far, Rest included.
  bool Changed() const;

 private:
  const std::vector<InstalledFile>& verified_;
  PathIndex<InstalledFile> index_;
  std::vector<bool> used_;
  bool changed_ = false;
};

// The record a run builds: the manifest's build, the current files, then the files still
// recorded as unavailable. The workers append what they install or find unavailable; the run
// writes it with complete false when it fails or is cancelled, true when it finishes.
InstalledState NewRunState(const std::string& build, SyncPlan plan);

// ---- Free space -------------------------------------------------------------------------

// Sum of the installed sizes of the files to download.
uint64_t SpaceNeeded(const std::vector<ManifestFile>& downloads);

// True when freeBytes covers the files to download plus the 64 MiB reserve. Otherwise error is
// "Diskte yeterli yer yok: <needed> gerekli, <free> boş".
bool CheckFreeSpace(const std::vector<ManifestFile>& downloads, uint64_t freeBytes, std::wstring& error);

// ---- Deletion ---------------------------------------------------------------------------

// The previous state's entries of files that are no longer in the manifest, compared by
// PathIdentity, each path once; keep files are never among them. Game mode only. A state
// written before they are deleted (a failed or cancelled run) carries these entries, so that
// the next run that completes still finds and deletes them.
std::vector<InstalledFile> EntriesLeftManifest(const PreviousRecord& previous);

// ---- What stands in the way -------------------------------------------------------------

// Paths (by PathIdentity) the launcher may remove when they stand where the manifest needs a
// file or a folder: every entry of the previous state except keep files, and in game mode
// every file of the previously accepted manifest except keep files. Anything else there is
// the player's.
class OwnedPaths {
 public:
  void Add(const InstalledState& previous);
  void Add(const Manifest& previousManifest);
  bool Contains(const std::string& path) const;

 private:
  std::unordered_set<std::string> paths_;
};

// ---- Launcher version -------------------------------------------------------------------

// True when the manifest names a minimum launcher version above the one this program is.
bool NeedsNewerLauncher(const Manifest& manifest);

// ---- Worker count and pacing ------------------------------------------------------------

struct DownloadLimits {
  std::wstring downloadBase;                   // server mode: files are fetched from here + "/" + ServerUrlPath
  bool sameOrigin = false;                     // the files come from the host that gave the list
  uint32_t workerCount = kMaxDownloadWorkers;  // RunWorkers starts no more than there are files
  double requestRate = 0;                      // requests per second from "httpDosThreshold"; paced
                                               // only with sameOrigin
};

// Scheme and authority: everything before the first "/" after "://", else the whole URL.
std::wstring UrlOrigin(const std::wstring& url);

// Game files: 16 workers, no pacing.
DownloadLimits GameDownloadLimits();

// Server lists: download base from "httpDownloadUrl" or the list's own origin; the worker count
// follows "httpThreads" and "httpDosThreshold" (8 and 20 when 0) only when the files come from
// the list's own origin, else 16.
DownloadLimits ServerDownloadLimits(const std::wstring& clientFilesUrl, const Manifest& list);

// Microseconds between two requests of the whole pool; 0 means no pacing. keepAliveMax is the
// "max=" of the list response's Keep-Alive header (100 when 0).
uint64_t PacingIntervalMicros(const DownloadLimits& limits, uint32_t keepAliveMax);
