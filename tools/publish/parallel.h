// Work spread over threads with results taken in list order, so that what a command prints
// and writes does not depend on how many threads it used or which finished first.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace publish {

// One per processor, at least 1 and at most 32.
unsigned DefaultJobs();

// Runs work(i) for every i below count on up to `jobs` threads, and done(i) on the calling
// thread in index order, each as soon as work(i) has finished. When done returns false no
// new work starts, the running items finish and the result is false. An exception thrown by
// work(i) is rethrown here in its turn, in place of done(i).
bool ForEachInOrder(size_t count, unsigned jobs, const std::function<void(size_t)>& work,
                    const std::function<bool(size_t)>& done);

// Seconds of the phases of one command, printed as "phases: name 1.23 s, ...".
class PhaseClock {
 public:
  PhaseClock() : start_(std::chrono::steady_clock::now()) {}
  // Ends the current phase under this name and starts the next.
  void Lap(const std::string& name);
  const std::string& Text() const { return text_; }

 private:
  std::chrono::steady_clock::time_point start_;
  std::string text_;
};

}  // namespace publish
