// One file of a synchronisation run: fetched, inflated (game objects) or taken raw (server
// files), hashed and written to a scratch file as it streams, verified, and only then moved
// over the file in the install tree.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "manifest/hashing.h"
#include "manifest/manifest.h"

class HttpClient;

// Counters of a run that the owner shows; one lock guards them.
class DownloadProgress {
 public:
  void AddDownloaded(uint64_t bytes);
  void TakeBackDownloaded(uint64_t bytes);  // never below zero
  void FileDownloaded();
  void FileUnavailable(uint64_t downloadSize);
  void SetBytesToDownload(uint64_t bytes);
  // A file fetched in chunks needs less than its whole object, or again all of it.
  void ReplaceBytesToDownload(uint64_t before, uint64_t after);
  void Reset();

  struct Counts {
    uint64_t bytesDownloaded = 0;
    uint64_t bytesToDownload = 0;
    uint32_t filesDownloaded = 0;
    uint32_t filesUnavailable = 0;
  };
  Counts Snapshot();

 private:
  std::mutex mutex_;
  Counts counts_;
};

// What every download of one run shares.
struct DownloadRun {
  std::wstring contentBaseUrl;         // game objects
  std::wstring serverDownloadBaseUrl;  // server files
  std::wstring rootFolder;             // destination tree
  std::wstring scratchFolder;
  std::wstring chunkStoreFolder;  // empty: every file is fetched whole
  // Each file's bytes reach the disk before it is moved in. Chunks skip it: they are hashed
  // again before they are used, and the whole file's hash decides anyway.
  bool flush = true;
  HashKind hashKind = kHashSha256;
  const std::atomic<bool>* cancel = nullptr;
  DownloadProgress* progress = nullptr;
};

// What an inflater hands over, written to `file` (an open handle) as it comes and hashed, up to
// `size` bytes in all: more is refused. `written` counts the bytes; a failed write leaves its
// reason in `message`.
std::function<bool(const uint8_t* data, size_t length)> HashedFileWrites(void* file, uint64_t size, Hasher& hasher,
                                                                        uint64_t& written, std::wstring& message);

// Moves a verified scratch file over `destination` (the install tree's `path`), write-through,
// with its folder made and a read-only mark cleared first. On failure `message` says whether
// another program holds the file; the scratch file stays.
bool MoveIntoPlace(const std::wstring& scratch, const std::wstring& destination, const std::wstring& path,
                   std::wstring& message);

// One attempt. True when the destination now holds the verified content; otherwise message
// says why, and unavailable is set for server files the server does not deliver.
bool DownloadObject(const DownloadRun& run, const ManifestFile& entry, uint32_t index, HttpClient& client,
                    std::wstring& message, bool& unavailable);
