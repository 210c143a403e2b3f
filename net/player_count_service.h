// Polls each catalogue server's player-count API every 30 s, in parallel, and keeps one
// entry per server for the window and the headless runner to copy.
#pragma once

#include <array>
#include <memory>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "net/player_count_parse.h"

class HttpClient;

class PlayerCountService {
 public:
  static constexpr int kSlots = 4;
  static constexpr uint32_t kMaxBodyBytes = 65536;
  static constexpr uint32_t kPeriodMs = 30000;

  PlayerCountService();
  ~PlayerCountService();
  PlayerCountService(const PlayerCountService&) = delete;
  PlayerCountService& operator=(const PlayerCountService&) = delete;

  // Set before Start; an empty URL is never polled.
  void SetUrls(const std::array<std::wstring, kSlots>& urls);
  void Start();
  std::array<PlayerCountEntry, kSlots> Snapshot();

  // One poll: POST "{}" and judge the answer. The flag ends a request that hangs.
  static FetchResult Fetch(const std::wstring& url, const std::atomic<bool>* cancel = nullptr);
  // The same with a client kept between polls, so that a slot reuses its helper thread.
  static FetchResult Fetch(HttpClient& client, const std::wstring& url, const std::atomic<bool>* cancel);

  // Completed polling cycles; WaitForCycles blocks until at least n are done.
  uint64_t CyclesCompleted();
  void WaitForCycles(uint64_t n);

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::array<std::wstring, kSlots> urls_;
  std::array<PlayerCountEntry, kSlots> entries_{};
  std::array<uint64_t, kSlots> lastGood_{};
  uint64_t cycles_ = 0;
  bool stop_ = false;
  std::atomic<bool> cancel_{false};  // set with stop_: the window's close must not wait for a silent host
  std::array<std::unique_ptr<HttpClient>, kSlots> clients_;  // the poller's thread only
  std::thread thread_;
};
