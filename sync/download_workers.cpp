#include "sync/download_workers.h"

#include <windows.h>

#include <algorithm>
#include <thread>

#include "base/files.h"
#include "base/text.h"
#include "base/worker_failure.h"
#include "net/http_client.h"

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

void WorkerLoop(DownloadJob& job) {
  HttpClient client;
  for (;;) {
    const uint32_t i = job.next.fetch_add(1);
    if (i >= job.files.size() || job.stop || Cancelled(job)) return;
    const ManifestFile& entry = job.files[i];
    bool ok = false;
    bool unavailable = false;
    std::wstring message;
    for (int attempt = 0; attempt < 3 && !ok && !unavailable && !job.stop && !Cancelled(job); ++attempt) {
      // The pause before another try ends early when the run is stopped (closing the window).
      for (int step = 0; attempt > 0 && step < attempt * 15 && !job.stop && !Cancelled(job); ++step) Sleep(100);
      WaitForPacingSlot(job);
      ok = DownloadObject(job.run, entry, i, client, message, unavailable);
    }
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
  const uint32_t threads = std::min<uint32_t>(count, static_cast<uint32_t>(job.files.size()));
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
