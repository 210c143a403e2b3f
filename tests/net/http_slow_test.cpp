// Requests that end only by a time-out: tens of seconds each under real time-outs.
#include <gtest/gtest.h>

#include <thread>

#include "base/text.h"
#include "net/http_client.h"
#include "net/request_watchdog.h"
#include "tests/support/http_test_server.h"

using testing_support::HttpTestServer;
using testing_support::TestRequest;
using testing_support::TestResponse;

namespace {

TestResponse StallingResponse(size_t after) {
  TestResponse r;
  r.body = std::string(4096, 'x');
  r.stallAfterBodyBytes = after;
  return r;
}

TEST(HttpClientSlow, SilentServerEndsWithATimeOutText) {
  HttpTestServer server([](const TestRequest&) { return StallingResponse(100); });
  HttpClient client;
  std::wstring error;
  EXPECT_FALSE(client.Get(server.Url("/silent"), {}, nullptr, nullptr, error));
  EXPECT_TRUE(error == L"Sunucu zamanında yanıt vermedi" || error == L"Sunucu 40 saniye boyunca yanıt vermedi")
      << Utf8FromWide(error);
}

// The watchdog closes the handle of a call that is blocked when the flag is set. Where the
// platform does not abort the call on close, it returns at its own time-out; either way the
// caller gets the watchdog's verdict, not the time-out text.
TEST(HttpClientSlow, CancelWhileBlockedInARead) {
  HttpTestServer server([](const TestRequest&) { return StallingResponse(1000); });
  std::atomic<bool> cancel{false};
  std::wstring error;
  bool ok = true;
  std::thread worker([&] {
    HttpClient client;
    ok = client.Get(server.Url("/stall"), {}, nullptr, nullptr, error, &cancel);
  });
  server.WaitUntilStalled();
  RequestWatchdog::Instance().WaitUntilAnyBlockingCall();
  cancel = true;
  worker.join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, L"İptal edildi");
}

}  // namespace
