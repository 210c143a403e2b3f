#include "net/player_count_service.h"

#include <windows.h>

#include <vector>

#include "base/worker_failure.h"
#include "net/http_client.h"

namespace {

uint64_t NowFileTime() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

}  // namespace

PlayerCountService::PlayerCountService() = default;

PlayerCountService::~PlayerCountService() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  cancel_ = true;
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void PlayerCountService::WaitForCycles(uint64_t n) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [this, n] { return cycles_ >= n || stop_; });
}

void PlayerCountService::SetUrls(const std::array<std::wstring, kSlots>& urls) {
  std::lock_guard<std::mutex> lock(mutex_);
  urls_ = urls;
}

void PlayerCountService::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (thread_.joinable()) return;
  // Without a thread the counts stay unknown; the launcher works on without them.
  TryStartThread(thread_, L"player-count", [this] { Run(); });
}

std::array<PlayerCountEntry, PlayerCountService::kSlots> PlayerCountService::Snapshot() {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_;
}

uint64_t PlayerCountService::CyclesCompleted() {
  std::lock_guard<std::mutex> lock(mutex_);
  return cycles_;
}

FetchResult PlayerCountService::Fetch(const std::wstring& url, const std::atomic<bool>* cancel) {
  HttpClient client;
  return Fetch(client, url, cancel);
}

FetchResult PlayerCountService::Fetch(HttpClient& client, const std::wstring& url, const std::atomic<bool>* cancel) {
  FetchResult result;
  if (url.empty()) return result;
  uint64_t date = 0;
  std::string body;
  auto onHeaders = [&](const HttpResponseInfo& info) {
    date = info.date;
    return info.status >= 200 && info.status <= 299;
  };
  auto onData = [&](const uint8_t* data, uint32_t length) {
    if (body.size() + length > kMaxBodyBytes) return false;
    body.append(reinterpret_cast<const char*>(data), length);
    return true;
  };
  std::wstring error;
  static const char kBody[] = "{}";
  if (!client.Request(L"POST", url, {L"Content-Type: application/json", L"Accept: application/json"}, kBody, 2,
                      onHeaders, onData, error, cancel)) {
    return result;
  }
  const PlayerCountEntry entry = ParsePlayerCount(body, date != 0 ? date : NowFileTime());
  result.ok = true;
  result.state = entry.state;
  result.count = entry.count;
  return result;
}

void PlayerCountService::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    const std::array<std::wstring, kSlots> urls = urls_;
    lock.unlock();

    std::array<FetchResult, kSlots> results{};
    std::vector<std::thread> fetchers(kSlots);
    for (int i = 0; i < kSlots; ++i) {
      if (urls[i].empty()) continue;
      // A fetcher the system refuses leaves its slot's result a failed request.
      TryStartThread(fetchers[i], L"player-count", [this, &results, &urls, i] {
        try {
          if (!clients_[i]) clients_[i] = std::make_unique<HttpClient>();
          results[i] = Fetch(*clients_[i], urls[i], &cancel_);
        } catch (...) {
          results[i] = FetchResult();  // counts as a failed request
        }
      });
    }
    for (auto& fetcher : fetchers) {
      if (fetcher.joinable()) fetcher.join();
    }

    lock.lock();
    const uint64_t now = NowFileTime();
    for (int i = 0; i < kSlots; ++i) {
      if (!urls[i].empty()) ApplyPlayerCountResult(entries_[i], lastGood_[i], results[i], now);
    }
    ++cycles_;
    wake_.notify_all();
    wake_.wait_for(lock, std::chrono::milliseconds(kPeriodMs), [this] { return stop_; });
  }
}
