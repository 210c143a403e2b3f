// The player-count service against scripted servers on 127.0.0.1.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "base/text.h"
#include "launcher/headless.h"
#include "net/call_helper.h"
#include "net/http_client.h"
#include "net/player_count_service.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

using testing_support::HttpTestServer;
using testing_support::TestRequest;
using testing_support::TestResponse;

namespace {

TestResponse Json(const std::string& body, int status = 200, const std::string& date = "") {
  TestResponse r;
  r.status = status;
  r.body = body;
  r.headers = {{"Content-Type", "application/json"}};
  if (!date.empty()) r.headers.emplace_back("Date", date);
  return r;
}

TEST(PlayerCountFetch, PostsAnEmptyObjectAndReadsTheCount) {
  HttpTestServer server([](const TestRequest&) { return Json(R"({"data":{"playerCount":57}})"); });
  const FetchResult result = PlayerCountService::Fetch(server.Url("/game/player-count"));
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.state, kPlayerCountOnline);
  EXPECT_EQ(result.count, 57u);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/game/player-count");
  EXPECT_EQ(requests[0].body, "{}");
  EXPECT_EQ(requests[0].Header("Content-Type"), "application/json");
  EXPECT_EQ(requests[0].Header("Accept"), "application/json");
}

TEST(PlayerCountFetch, FailuresAndUnusableAnswers) {
  HttpTestServer server([](const TestRequest& request) {
    if (request.target == "/503") return Json(R"({"data":{"playerCount":57}})", 503);
    if (request.target == "/204") return Json("", 204);
    if (request.target == "/huge") return Json(std::string(70000, ' '));
    if (request.target == "/limit") return Json(R"({"data":{"playerCount":5}})" + std::string(65536 - 26, ' '));
    return Json(R"({"error":true,"data":{"playerCount":57}})");
  });
  FetchResult r = PlayerCountService::Fetch(server.Url("/503"));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.state, kPlayerCountOffline);
  r = PlayerCountService::Fetch(server.Url("/huge"));
  EXPECT_FALSE(r.ok);  // over 64 KiB counts as a failed request
  r = PlayerCountService::Fetch(server.Url("/limit"));
  EXPECT_TRUE(r.ok);  // exactly 64 KiB is read
  EXPECT_EQ(r.state, kPlayerCountOnline);
  EXPECT_EQ(r.count, 5u);
  r = PlayerCountService::Fetch(server.Url("/204"));
  EXPECT_TRUE(r.ok);  // 2xx without a usable body: answered, unusable
  EXPECT_EQ(r.state, kPlayerCountOffline);
  r = PlayerCountService::Fetch(server.Url("/error"));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.state, kPlayerCountOffline);
  r = PlayerCountService::Fetch(L"");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(server.Requests().size(), 5u);  // the empty URL made no request
}

TEST(PlayerCountFetch, FreshnessIsJudgedAgainstTheServersDate) {
  const std::string date = "Wed, 01 May 2024 12:00:00 GMT";
  HttpTestServer server([&](const TestRequest& request) {
    if (request.target == "/nine")
      return Json(R"({"data":{"playerCount":9,"lastUpdate":"2024-05-01T11:51:00Z"}})", 200, date);
    if (request.target == "/eleven")
      return Json(R"({"data":{"playerCount":11,"lastUpdate":"2024-05-01T11:49:00Z"}})", 200, date);
    // Without a Date header the local clock decides: a stamp from 2024 is long stale now.
    return Json(R"({"data":{"playerCount":1,"lastUpdate":"2024-05-01T11:59:00Z"}})");
  });
  EXPECT_EQ(PlayerCountService::Fetch(server.Url("/nine")).state, kPlayerCountOnline);
  EXPECT_EQ(PlayerCountService::Fetch(server.Url("/eleven")).state, kPlayerCountOffline);
  EXPECT_EQ(PlayerCountService::Fetch(server.Url("/nodate")).state, kPlayerCountOffline);
}

TEST(PlayerCountService, OneCyclePollsEverySlotWithAUrl) {
  HttpTestServer up([](const TestRequest&) { return Json(R"({"data":{"playerCount":123}})"); });
  HttpTestServer down([](const TestRequest&) { return Json("", 503); });
  PlayerCountService service;
  service.SetUrls({up.Url("/count"), L"", down.Url("/count"), L""});
  for (const auto& entry : service.Snapshot()) EXPECT_EQ(entry.state, kPlayerCountUnknown);
  service.Start();
  service.Start();  // a second start does nothing
  service.WaitForCycles(1);
  const auto entries = service.Snapshot();
  EXPECT_EQ(entries[0].state, kPlayerCountOnline);
  EXPECT_EQ(entries[0].count, 123u);
  EXPECT_EQ(entries[1].state, kPlayerCountUnknown);  // never polled
  EXPECT_EQ(entries[2].state, kPlayerCountOffline);   // failed with no earlier count
  EXPECT_EQ(entries[3].state, kPlayerCountUnknown);
  EXPECT_EQ(up.Requests().size(), 1u);
  EXPECT_EQ(down.Requests().size(), 1u);
}

TEST(PlayerCountService, DestroyingBeforeStartOrWhileWaitingReturns) {
  { PlayerCountService neverStarted; }
  HttpTestServer up([](const TestRequest&) { return Json(R"({"data":{"playerCount":1}})"); });
  PlayerCountService service;
  service.SetUrls({up.Url("/"), L"", L"", L""});
  service.Start();
  service.WaitForCycles(1);
  // The destructor now wakes the 30-second wait at once and joins.
}

TEST(PlayerCountService, DestroyingWhileAHostNeverAnswersReturns) {
  HttpTestServer silent([](const TestRequest&) {
    TestResponse r;
    r.stallBeforeHeaders = true;
    return r;
  });
  auto service = std::make_unique<PlayerCountService>();
  service->SetUrls({silent.Url("/"), L"", L"", L""});
  service->Start();
  silent.WaitUntilStalled();
  // Destroyed on a thread of its own, so that a hang fails the test instead of stopping it.
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread destroyer([&] {
    service.reset();
    SetEvent(done);
  });
  const bool returned = WaitForSingleObject(done, 20000) == WAIT_OBJECT_0;
  EXPECT_TRUE(returned) << "the destructor waited for a host that never answers";
  if (returned) {
    destroyer.join();
  } else {
    destroyer.detach();
  }
  CloseHandle(done);
}

// A host that never answers holds one helper of its slot however many polls meet it, so the
// downloads beside it keep theirs. Each poll that reaches the host is given up while the host
// holds it, as the watchdog's 40 s or the window's close would.
TEST(PlayerCountService, ASilentHostHoldsOneHelperAcrossPollsWhileDownloadsRun) {
  ASSERT_TRUE(CallHelper::WaitForLeftBehindAtMost(0, 60000));
  std::string payload(3 << 20, ' ');
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + i % 23);
  HttpTestServer cdn([&](const TestRequest&) {
    TestResponse r;
    r.body = payload;
    r.pieces = {1000, 70000, 300000};
    return r;
  });
  HttpTestServer live([](const TestRequest&) { return Json(R"({"data":{"playerCount":7}})"); });
  auto download = [&](HttpClient& client) {
    std::string body;
    std::wstring error;
    EXPECT_TRUE(client.GetString(cdn.Url("/object"), body, error, 8 << 20)) << Utf8FromWide(error);
    EXPECT_TRUE(body == payload) << body.size() << " bytes";
  };
  HttpClient slot;
  {
    std::atomic<bool> giveUp{false};
    HttpTestServer silent([&](const TestRequest&) {
      giveUp = true;
      TestResponse r;
      r.stallBeforeHeaders = true;
      return r;
    });
    HttpClient sync;
    std::thread downloads([&] {
      for (int i = 0; i < 3; ++i) download(sync);
    });
    for (int poll = 1; poll <= 12; ++poll) {
      giveUp = false;
      EXPECT_FALSE(PlayerCountService::Fetch(slot, silent.Url("/count"), &giveUp).ok);
      EXPECT_EQ(CallHelper::LeftBehind(), 1u) << "poll " << poll;
    }
    downloads.join();
    HttpClient later;  // a sync that starts now still gets its helper
    download(later);
    EXPECT_EQ(silent.Requests().size(), 1u) << "a poll of a held slot is refused unsent, and not retried";
  }  // the host drops the connection it held: the call left behind returns
  EXPECT_TRUE(CallHelper::WaitForLeftBehindAtMost(0, 60000));
  const FetchResult back = PlayerCountService::Fetch(slot, live.Url("/count"), nullptr);
  EXPECT_TRUE(back.ok);
  EXPECT_EQ(back.count, 7u);
}

// Runs the "servers" job with its standard output sent to a file.
std::string RunServersJobCapturingOutput(const std::array<std::wstring, 4>& urls, int& code) {
  testing_support::TempDir dir;
  const std::wstring path = dir.Join(L"out.txt");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  HANDLE previous = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, file);
  code = RunPlayerCountJob(urls);
  SetStdHandle(STD_OUTPUT_HANDLE, previous);
  CloseHandle(file);
  return testing_support::ReadBytes(path);
}

TEST(ServersJob, PrintsOneLinePerServer) {
  HttpTestServer up([](const TestRequest&) { return Json(R"({"data":{"playerCount":57}})"); });
  HttpTestServer bad([](const TestRequest&) { return Json(R"({"data":{"playerCount":57.0}})"); });
  const std::array<std::wstring, 4> urls = {up.Url("/a"), bad.Url("/b"), up.Url("/c"), L""};
  int code = -1;
  const std::string output = RunServersJobCapturingOutput(urls, code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(output, Utf8FromWide(urls[0]) + " -> online 57\n" + Utf8FromWide(urls[1]) + " -> offline\n" +
                        Utf8FromWide(urls[2]) + " -> online 57\n -> unknown\n");
}

}  // namespace
