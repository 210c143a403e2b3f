#include "sync/download_workers.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <thread>

#include "base/files.h"
#include "base/text.h"
#include "base/worker_failure.h"
#include "net/http_client.h"
#include "sync/resumable_object.h"

namespace {

uint64_t NowUs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<uint64_t>(now.QuadPart / frequency.QuadPart) * 1000000ull +
         static_cast<uint64_t>(now.QuadPart % frequency.QuadPart) * 1000000ull / static_cast<uint64_t>(frequency.QuadPart);
}

bool Cancelled(const DownloadJob& job) { return job.run.cancel && job.run.cancel->load(); }

void WaitForPacingSlot(DownloadJob& job) {
  if (job.pacingIntervalUs == 0) return;
  uint64_t slot;
  {
    std::lock_guard<std::mutex> lock(job.pacingLock);
    slot = std::max(job.nextFreeSlotUs, NowUs());
    job.nextFreeSlotUs = slot + job.pacingIntervalUs;
  }
  const uint64_t now = NowUs();
  if (slot > now) Sleep(static_cast<DWORD>((slot - now + 999) / 1000));
}

// One file or chunk with the run's retries and pacing.
bool FetchWithRetries(DownloadJob& job, const std::function<bool(std::wstring&, bool&)>& attempt,
                      std::wstring& message, bool& unavailable) {
  bool ok = false;
  unavailable = false;
  for (int tries = 0; tries < 3 && !ok && !unavailable && !job.stop && !Cancelled(job); ++tries) {
    // The pause before another try ends early when the run is stopped (closing the window).
    for (int step = 0; tries > 0 && step < tries * 15 && !job.stop && !Cancelled(job); ++step) Sleep(100);
    WaitForPacingSlot(job);
    ok = attempt(message, unavailable);
  }
  return ok;
}

void Record(DownloadJob& job, const ManifestFile& entry, bool ok, bool unavailable, const std::wstring& message) {
  std::lock_guard<std::mutex> lock(job.resultLock);
  if (ok) {
    // What the disk holds now; size and time 0 when it cannot be read.
    const DiskFile installed = ReadDiskFile(JoinPath(job.run.rootFolder, WideFromUtf8(entry.path)));
    InstalledFile file;
    file.path = entry.path;
    file.hash = entry.keep ? CompactString() : entry.hash;
    file.size = installed.size;
    file.mtime = installed.mtime;
    file.keep = entry.keep;
    job.newState.files.push_back(std::move(file));
    if (job.run.progress) job.run.progress->FileDownloaded();
  } else if (unavailable && !Cancelled(job)) {
    InstalledFile file;
    file.path = entry.path;
    file.hash = entry.hash;
    file.unavailable = true;
    job.newState.files.push_back(std::move(file));
    if (job.run.progress) job.run.progress->FileUnavailable(entry.zsize);
  } else if (!job.stop.exchange(true)) {
    job.firstError = message;
  }
}

void FetchWhole(DownloadJob& job, const ManifestFile& entry, uint32_t index, HttpClient& client) {
  std::wstring message;
  bool unavailable = false;
  const bool ok = FetchWithRetries(
      job,
      [&](std::wstring& text, bool& gone) {
        return WantsResumableObject(job.run, entry) ? DownloadResumableObject(job.run, entry, index, text)
                                                    : DownloadObject(job.run, entry, index, client, text, gone);
      },
      message, unavailable);
  Record(job, entry, ok, unavailable, message);
}

// The file's last chunk is in (or one could not be had): assembled, or else fetched whole.
void FinishChunkedFile(DownloadJob& job, ChunkedFile& file, HttpClient& client) {
  std::wstring message;
  if (!file.failed && !job.stop && !Cancelled(job) && AssembleChunkedFile(job.run, file, message)) {
    Record(job, *file.entry, true, false, message);
    return;
  }
  if (job.stop || Cancelled(job)) return;
  if (file.failed) LogWholeObjectFallback(*file.entry, L"chunk not fetched");
  if (job.run.progress) job.run.progress->ReplaceBytesToDownload(file.missingBytes, file.entry->zsize);
  FetchWhole(job, *file.entry, file.index, client);
}

void FetchChunkTask(DownloadJob& job, const ChunkTask& task, HttpClient& client) {
  if (!task.file->failed) {
    std::wstring message;
    bool unavailable = false;
    const bool ok = FetchWithRetries(
        job, [&](std::wstring& text, bool&) { return FetchChunk(job.run, task, client, text); }, message, unavailable);
    if (!ok) task.file->failed = true;
  }
  if (task.file->remaining.fetch_sub(1) == 1) FinishChunkedFile(job, *task.file, client);
}

void BeginChunkedFile(DownloadJob& job, const ManifestFile& entry, uint32_t index, HttpClient& client) {
  job.chunks.BeginPlanning();
  auto file = std::make_unique<ChunkedFile>();
  file->entry = &entry;
  file->index = index;
  const bool planned = PlanChunkedFile(job.run, client, *file);
  if (!planned) {
    job.chunks.EndPlanning(nullptr);
    FetchWhole(job, entry, index, client);
    return;
  }
  if (job.run.progress) job.run.progress->ReplaceBytesToDownload(entry.zsize, file->missingBytes);
  ChunkedFile* queued = job.chunks.EndPlanning(std::move(file));
  if (queued->missing.empty()) FinishChunkedFile(job, *queued, client);
}

void WorkerLoop(DownloadJob& job) {
  HttpClient client;
  for (;;) {
    if (job.stop || Cancelled(job)) return;
    // Chunks first: a large file started is finished by every worker before more files start.
    ChunkTask task;
    if (job.chunks.Take(task)) {
      FetchChunkTask(job, task, client);
      continue;
    }
    const uint32_t i = job.next.load() < job.files.size() ? job.next.fetch_add(1) : UINT32_MAX;
    if (i >= job.files.size()) {
      if (job.chunks.WaitForTasks(job.stop, job.run.cancel)) continue;
      return;
    }
    const ManifestFile& entry = job.files[i];
    if (WantsChunks(job.run, entry)) {
      BeginChunkedFile(job, entry, i, client);
    } else {
      FetchWhole(job, entry, i, client);
    }
  }
}

}  // namespace

DiskFile ReadDiskFile(const std::wstring& path) {
  DiskFile disk;
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (!GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &info)) return disk;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return disk;
  disk.exists = true;
  disk.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  disk.mtime = (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
  return disk;
}

void RunWorkers(DownloadJob& job, uint32_t count) {
  bool chunked = false;
  for (const ManifestFile& entry : job.files) chunked = chunked || WantsChunks(job.run, entry);
  const uint32_t threads = chunked ? count : std::min<uint32_t>(count, static_cast<uint32_t>(job.files.size()));
  std::vector<std::thread> pool(threads);
  for (uint32_t t = 0; t < threads; ++t) {
    const bool started = TryStartThread(pool[t], L"download", [&job] {
      try {
        WorkerLoop(job);
      } catch (...) {
        const std::wstring text = CaughtExceptionText(L"download");
        std::lock_guard<std::mutex> lock(job.resultLock);
        if (!job.stop.exchange(true)) job.firstError = text;
      }
    });
    if (!started) {
      // The workers already running see the stop after their current file and are joined below.
      std::lock_guard<std::mutex> lock(job.resultLock);
      if (!job.stop.exchange(true)) job.firstError = kThreadStartFailedText;
      break;
    }
  }
  for (auto& thread : pool) {
    if (thread.joinable()) thread.join();
  }
}
