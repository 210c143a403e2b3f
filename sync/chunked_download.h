// Large game files fetched as chunks (manifest/chunking.h): the file's chunk list is fetched
// and checked against the signed manifest entry, the player's current copy is cut with the
// same rule and every chunk it already holds is reused, chunks verified by an earlier run are
// taken from the chunk store, and only the rest is fetched, as ordinary objects, by every
// worker of the run. The last chunk to arrive assembles the file in the scratch folder; it is
// moved in only when its whole SHA-256 is the manifest's. Anything else (no list, a list that
// does not fit the entry, a chunk that cannot be had, an assembly of the wrong bytes) falls
// back to the whole object.
//
// The chunk store, <state folder>\chunks\<file sha256>\, holds for each file still to download
// its staging file, file.part, into which every chunk is written at its offset as it streams in,
// and verified.txt, a line "<offset> <chunk sha256>" appended for each chunk once its bytes are
// verified. A killed run leaves chunks the next run takes without fetching them again; each is
// hashed again first (after a power cut it may hold other bytes). The staging file has the
// file's size, so the store never holds more.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "manifest/chunking.h"
#include "manifest/hashing.h"
#include "manifest/manifest.h"
#include "sync/object_download.h"

class HttpClient;

// One file on its way in chunks.
struct ChunkedFile {
  const ManifestFile* entry = nullptr;
  uint32_t index = 0;  // in the run's download list
  ChunkList list;
  std::vector<int64_t> localOffset;  // per chunk of the list: where the player's copy holds it, else -1
  std::vector<uint8_t> staged;       // per chunk: verified in the staging file (set by one worker each)
  std::wstring store;                // this file's folder in the chunk store
  std::mutex journalLock;            // appends to verified.txt, and staged
  // The whole file's digest, taken in order as chunks arrive so that little is left for the
  // end: chunks [0, hashedChunks) are in it.
  std::mutex hashLock;
  std::unique_ptr<Hasher> wholeHash;
  size_t hashedChunks = 0;
  std::vector<size_t> missing;       // chunks to fetch, one per distinct hash
  uint64_t missingBytes = 0;
  std::atomic<size_t> remaining{0};  // fetches not finished yet
  std::atomic<bool> failed{false};
};

struct ChunkTask {
  ChunkedFile* file = nullptr;
  size_t chunk = 0;  // in file->list
};

// Whether a file of the run is tried in chunks: game objects from kChunkMinFileSize on.
bool WantsChunks(const DownloadRun& run, const ManifestFile& entry);

// Fetches and checks the chunk list, cuts the player's copy and looks into the chunk store.
// False, with one log line, when the file is to be fetched whole.
bool PlanChunkedFile(const DownloadRun& run, HttpClient& client, ChunkedFile& file);

// The one log line of a file that falls back to its whole object.
void LogWholeObjectFallback(const ManifestFile& entry, const std::wstring& why);

// One attempt at one chunk: streamed into the staging file at its offset, verified, recorded.
bool FetchChunk(const DownloadRun& run, const ChunkTask& task, HttpClient& client, std::wstring& message);

// Completes the staging file with the chunks of the player's copy (and repeats of chunks in
// it), verifies it against the manifest entry and moves it into place; the file's store goes
// once it is in. False with message when it could not be done (the store is emptied when its
// bytes were wrong).
bool AssembleChunkedFile(const DownloadRun& run, ChunkedFile& file, std::wstring& message);

// Removes the store's folders of files that are not to be downloaded now.
void PruneChunkStore(const std::wstring& storeFolder, const std::vector<ManifestFile>& toDownload);

// The run's chunk fetches, shared by its workers.
class ChunkQueue {
 public:
  // A worker is about to plan a file: others wait for its chunks rather than leave.
  void BeginPlanning();
  // Ends the planning; the file's missing chunks (none when file is null) join the queue.
  ChunkedFile* EndPlanning(std::unique_ptr<ChunkedFile> file);
  bool Take(ChunkTask& task);
  // Waits while another worker is planning and nothing is queued; true when a task may be
  // there. Each wait is bounded and ends early when stop or cancel is set.
  bool WaitForTasks(const std::atomic<bool>& stop, const std::atomic<bool>* cancel);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int planning_ = 0;
  std::deque<ChunkTask> tasks_;
  std::vector<std::unique_ptr<ChunkedFile>> files_;
};
