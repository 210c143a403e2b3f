#include "tools/publish/parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace publish {

unsigned DefaultJobs() { return std::clamp(std::thread::hardware_concurrency(), 1u, 32u); }

bool ForEachInOrder(size_t count, unsigned jobs, const std::function<void(size_t)>& work,
                    const std::function<bool(size_t)>& done) {
  if (count == 0) return true;
  std::mutex mutex;
  std::condition_variable finishedOne;
  std::vector<char> finished(count, 0);
  std::vector<std::exception_ptr> errors(count);
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  auto worker = [&] {
    for (;;) {
      if (stop) return;
      const size_t i = next.fetch_add(1);
      if (i >= count) return;
      std::exception_ptr error;
      try {
        work(i);
      } catch (...) {
        error = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        errors[i] = error;
        finished[i] = 1;
      }
      finishedOne.notify_all();
    }
  };
  // Joined on every way out, a rethrown exception included.
  struct Pool {
    std::atomic<bool>& stop;
    std::vector<std::thread> threads;
    ~Pool() {
      stop = true;
      for (std::thread& thread : threads) thread.join();
    }
  } pool{stop, {}};
  const size_t threads = std::min<size_t>(std::max(jobs, 1u), count);
  for (size_t t = 0; t < threads; ++t) pool.threads.emplace_back(worker);
  for (size_t i = 0; i < count; ++i) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      finishedOne.wait(lock, [&] { return finished[i] != 0; });
    }
    if (errors[i]) {
      stop = true;
      std::rethrow_exception(errors[i]);
    }
    if (!done(i)) {
      stop = true;
      return false;
    }
  }
  return true;
}

void PhaseClock::Lap(const std::string& name) {
  const auto now = std::chrono::steady_clock::now();
  char seconds[32];
  std::snprintf(seconds, sizeof(seconds), " %.2f s", std::chrono::duration<double>(now - start_).count());
  text_ += (text_.empty() ? "phases: " : ", ") + name + seconds;
  start_ = now;
}

}  // namespace publish
