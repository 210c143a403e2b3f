// Reading a worker from another thread. Every worker publishes its final status before it
// clears its running flag, so the flag is read first: a worker seen idle then has its final
// status in the record read after it. The other order can pair "not running" with the
// status of a moment before the end.
#pragma once

template <class Worker>
auto ReadWorker(Worker& worker, bool& running) -> decltype(worker.GetSnapshot()) {
  running = worker.IsRunning();
  return worker.GetSnapshot();
}
