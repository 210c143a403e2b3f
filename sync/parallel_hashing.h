// The hashing step of a synchronisation run: digests a list of files on several threads and
// hands back, for each file in list order, what a one-after-the-other pass would have found,
// so that the decisions built on it do not depend on the thread count or the finishing order.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "manifest/hashing.h"
#include "sync/sync_plan.h"

inline constexpr unsigned kMaxHashThreads = 8;

// One thread per processor, at least 1 and at most kMaxHashThreads.
unsigned HashThreadCount();

// What hashing one file found: the digest (empty when the file could not be read to the end)
// and what the disk reports right after the digest was taken.
struct HashedFile {
  std::string digest;
  DiskFile after;
};

// Hashes root joined with each task's path using `threads` threads (at most one per task),
// largest files first so that one big file left for last does not leave the other threads
// idle. progress receives the bytes of every read, from any of the threads. Returns false,
// with results incomplete, when cancel read true while there was a file to hash: each thread
// stops at its next 1 MiB read.
bool HashFiles(HashKind kind, const std::wstring& root, const std::vector<HashTask>& tasks, unsigned threads,
               const ProgressCallback& progress, const std::atomic<bool>* cancel, std::vector<HashedFile>& results);
