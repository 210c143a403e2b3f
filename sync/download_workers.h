// A pool of download threads for one run: each takes the next file from a shared counter,
// downloads it with retries and records the result; the first real failure stops the pool.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "manifest/installed_state.h"
#include "manifest/manifest.h"
#include "sync/chunked_download.h"
#include "sync/object_download.h"
#include "sync/sync_plan.h"

struct DownloadJob {
  DownloadJob(const DownloadRun& run, const std::vector<ManifestFile>& files) : run(run), files(files) {}

  const DownloadRun& run;
  const std::vector<ManifestFile>& files;
  std::atomic<uint32_t> next{0};
  std::atomic<bool> stop{false};

  std::mutex resultLock;  // before the progress lock, never the other way round
  std::wstring firstError;
  InstalledState newState;

  uint64_t pacingIntervalUs = 0;  // 0: no pacing
  std::mutex pacingLock;          // taken alone
  uint64_t nextFreeSlotUs = 0;

  ChunkQueue chunks;  // large files' chunks, fetched by every worker
};

// Size and last-write time of a file; a folder or a missing file is reported as missing.
DiskFile ReadDiskFile(const std::wstring& path);

// Runs min(count, files) workers, or count when a file may come in chunks, and waits for them.
void RunWorkers(DownloadJob& job, uint32_t count);
