#include "sync/parallel_hashing.h"

#include <windows.h>

#include <algorithm>
#include <numeric>
#include <thread>

#include "base/files.h"
#include "base/text.h"
#include "sync/download_workers.h"

unsigned HashThreadCount() {
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  return std::clamp<unsigned>(info.dwNumberOfProcessors, 1u, kMaxHashThreads);
}

bool HashFiles(HashKind kind, const std::wstring& root, const std::vector<HashTask>& tasks, unsigned threads,
               const ProgressCallback& progress, const std::atomic<bool>* cancel, std::vector<HashedFile>& results) {
  results.assign(tasks.size(), HashedFile());
  if (tasks.empty()) return true;  // nothing to hash is nothing to stop
  // Largest first; equal sizes keep list order, so a run on one thread reads the files in
  // the same order every time.
  std::vector<size_t> order(tasks.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&tasks](size_t a, size_t b) { return tasks[a].disk.size > tasks[b].disk.size; });

  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};  // a thread that could not run its share ends the step
  auto work = [&] {
    FileHashReader reader;
    for (;;) {
      if ((cancel && cancel->load()) || failed.load()) return;
      const size_t n = next.fetch_add(1);
      if (n >= order.size()) return;
      const HashTask& task = tasks[order[n]];
      const std::wstring path = JoinPath(root, WideFromUtf8(task.file.path));
      HashedFile& result = results[order[n]];
      std::string digest;
      if (reader.Hash(kind, path, digest, progress, cancel)) result.digest = std::move(digest);
      if (cancel && cancel->load()) return;
      result.after = ReadDiskFile(path);
    }
  };
  auto guarded = [&] {
    try {
      work();
    } catch (const std::exception&) {
      failed = true;
    }
  };

  const size_t count = std::min<size_t>(std::max(threads, 1u), tasks.size());
  std::vector<std::thread> pool;
  try {
    for (size_t t = 1; t < count; ++t) pool.emplace_back(guarded);
  } catch (const std::exception&) {
    // Fewer threads than asked: the ones running, and this one, share the list.
  }
  guarded();
  for (std::thread& thread : pool) thread.join();
  if (failed) throw std::bad_alloc();  // the run reports it as it reports any lack of memory
  return !(cancel && cancel->load());
}
