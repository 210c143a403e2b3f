// HttpClient over the platform's WinHTTP against a scripted server on 127.0.0.1.
#include <windows.h>

#include <gtest/gtest.h>
#include <winhttp.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "base/text.h"
#include "base/version.h"
#include "net/call_helper.h"
#include "net/http_client.h"
#include "net/network_error_text.h"
#include "net/request_watchdog.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

using testing_support::HttpTestServer;
using testing_support::TestRequest;
using testing_support::TestResponse;

namespace {

TestResponse Body(const std::string& body, int status = 200) {
  TestResponse r;
  r.status = status;
  r.body = body;
  return r;
}

TEST(HttpClient, GetStringReadsTheWholeBodyAndMetadata) {
  HttpTestServer server([](const TestRequest&) {
    TestResponse r = Body("hello world");
    r.headers = {{"ETag", "W/\"abc-1\""},
                 {"Last-Modified", "Tue, 15 Nov 1994 12:45:26 GMT"},
                 {"Content-Type", "application/json; charset=utf-8"},
                 {"Date", "Sun, 06 Nov 1994 08:49:37 GMT"},
                 {"Keep-Alive", "timeout=5, max=100"}};
    return r;
  });
  HttpClient client;
  std::string body;
  std::wstring error = L"untouched";
  HttpResponseInfo info;
  ASSERT_TRUE(client.GetString(server.Url("/a/b.json?x=1"), body, error, 1024, nullptr, &info)) << error;
  EXPECT_EQ(body, "hello world");
  EXPECT_EQ(error, L"untouched");  // success leaves the caller's text alone
  EXPECT_EQ(info.status, 200u);
  EXPECT_TRUE(info.hasContentLength);
  EXPECT_EQ(info.contentLength, 11u);
  EXPECT_EQ(info.etag, L"W/\"abc-1\"");
  EXPECT_EQ(info.lastModified, L"Tue, 15 Nov 1994 12:45:26 GMT");
  EXPECT_EQ(info.contentType, L"application/json; charset=utf-8");
  EXPECT_EQ(info.keepAliveMax, 100u);
  EXPECT_EQ(info.date, 124285853770000000ull);  // 1994-11-06 08:49:37 UTC as FILETIME
  EXPECT_FALSE(info.incomplete);
  if (!info.remoteAddress.empty()) {
    EXPECT_EQ(info.remoteAddress, L"127.0.0.1:" + std::to_wstring(server.Port()));
  }

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/a/b.json?x=1");
  EXPECT_EQ(requests[0].Header("User-Agent"), std::string("TalvoreenLauncher/") + kLauncherVersion);
}

TEST(HttpClient, GetStringStatusTexts) {
  HttpTestServer server([](const TestRequest& request) {
    if (request.target == "/missing") return Body("not here", 404);
    if (request.target == "/broken") return Body("oops", 503);
    return Body("", 204);
  });
  HttpClient client;
  std::string body;
  std::wstring error;
  HttpResponseInfo info;
  EXPECT_FALSE(client.GetString(server.Url("/missing"), body, error, 1024, nullptr, &info));
  EXPECT_EQ(error, L"Dosya sunucuda bulunamadı (HTTP 404)");
  EXPECT_EQ(info.status, 404u);
  EXPECT_TRUE(body.empty());
  error.clear();
  EXPECT_FALSE(client.GetString(server.Url("/broken"), body, error, 1024));
  EXPECT_EQ(error, L"Sunucu hata döndürdü (HTTP 503)");
  error.clear();
  EXPECT_FALSE(client.GetString(server.Url("/empty"), body, error, 1024));
  EXPECT_EQ(error, L"Sunucu hata döndürdü (HTTP 204)");
}

TEST(HttpClient, GetStringSizeLimitIsInclusive) {
  const std::string payload(300000, 'x');  // more than one 256 KiB read
  HttpTestServer server([&](const TestRequest&) { return Body(payload); });
  HttpClient client;
  std::string body;
  std::wstring error;
  EXPECT_TRUE(client.GetString(server.Url("/big"), body, error, 300000)) << error;
  EXPECT_EQ(body, payload);
  EXPECT_FALSE(client.GetString(server.Url("/big"), body, error, 299999));
  EXPECT_EQ(error, L"Sunucudan gelen yanıt çok büyük");
}

TEST(HttpClient, ShortBodyIsReportedIncomplete) {
  HttpTestServer server([](const TestRequest&) {
    TestResponse r = Body(std::string(1024, 'a'));
    r.headers = {{"Content-Length", "2048"}};
    r.closeAfterBodyBytes = 1024;
    return r;
  });
  HttpClient client;
  std::string body;
  std::wstring error;
  HttpResponseInfo info;
  EXPECT_FALSE(client.GetString(server.Url("/short"), body, error, 1 << 20, nullptr, &info));
  // The platform may report the cut connection itself; when it hands over the short body
  // as complete, the client must notice the missing part.
  if (error.rfind(L"Yanıt yarım geldi", 0) == 0) {
    EXPECT_EQ(error, L"Yanıt yarım geldi (1 / 2 KB)");
    EXPECT_TRUE(info.incomplete);
  } else {
    EXPECT_EQ(error, L"Bağlantı koptu");
  }
}

TEST(HttpClient, BodyWithoutContentLengthEndsAtClose) {
  HttpTestServer server([](const TestRequest&) {
    TestResponse r = Body("streamed until close");
    r.sendContentLength = false;
    return r;
  });
  HttpClient client;
  std::string body;
  std::wstring error;
  HttpResponseInfo info;
  ASSERT_TRUE(client.GetString(server.Url("/s"), body, error, 1024, nullptr, &info)) << error;
  EXPECT_EQ(body, "streamed until close");
  EXPECT_FALSE(info.hasContentLength);
}

TEST(HttpClient, CallbacksSeePiecesInOrderAndCanStop) {
  std::string payload;
  for (int i = 0; i < 100000; ++i) payload += static_cast<char>('a' + i % 26);
  HttpTestServer server([&](const TestRequest&) {
    TestResponse r = Body(payload);
    r.pieces = {1, 10, 1000, 20000};
    return r;
  });
  HttpClient client;
  std::wstring error;
  std::string received;
  int headerCalls = 0;
  ASSERT_TRUE(client.Get(
      server.Url("/p"), {L"X-Test: 1", L"Range: bytes=0-"},
      [&](const HttpResponseInfo& info) {
        ++headerCalls;
        return info.status == 200;
      },
      [&](const uint8_t* data, uint32_t length) {
        received.append(reinterpret_cast<const char*>(data), length);
        return true;
      },
      error))
      << error;
  EXPECT_EQ(headerCalls, 1);
  EXPECT_EQ(received, payload);
  const auto requests = server.Requests();
  EXPECT_EQ(requests.back().Header("X-Test"), "1");
  EXPECT_EQ(requests.back().Header("Range"), "bytes=0-");

  // A header callback that refuses gives the status text; a data callback that refuses
  // gives the stop text; a text the callback set itself is kept.
  EXPECT_FALSE(client.Get(server.Url("/p"), {}, [](const HttpResponseInfo&) { return false; }, nullptr, error));
  EXPECT_EQ(error, L"Sunucu beklenmeyen yanıt verdi (HTTP 200)");
  error.clear();
  EXPECT_FALSE(client.Get(server.Url("/p"), {}, nullptr, [](const uint8_t*, uint32_t) { return false; }, error));
  EXPECT_EQ(error, L"İndirme durduruldu");
  error.clear();
  EXPECT_FALSE(client.Get(
      server.Url("/p"), {}, nullptr,
      [&](const uint8_t*, uint32_t) {
        error = L"Disk dolu";
        return false;
      },
      error));
  EXPECT_EQ(error, L"Disk dolu");
}

TEST(HttpClient, PostSendsItsBody) {
  HttpTestServer server([](const TestRequest& request) {
    if (request.target != "/moved") return Body("got " + request.body);
    TestResponse r = Body("", 307);
    r.headers = {{"Location", "/api"}};
    return r;
  });
  HttpClient client;
  std::wstring error;
  std::string received;
  const char payload[] = "{\"a\":1}";
  ASSERT_TRUE(client.Request(L"POST", server.Url("/api"), {L"Content-Type: application/json"}, payload, 7, nullptr,
                             [&](const uint8_t* d, uint32_t n) {
                               received.append(reinterpret_cast<const char*>(d), n);
                               return true;
                             },
                             error))
      << error;
  EXPECT_EQ(received, "got {\"a\":1}");
  const auto requests = server.Requests();
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].Header("Content-Type"), "application/json");

  // A redirect that keeps the method gets the body again.
  received.clear();
  ASSERT_TRUE(client.Request(L"POST", server.Url("/moved"), {}, payload, 7, nullptr,
                             [&](const uint8_t* d, uint32_t n) {
                               received.append(reinterpret_cast<const char*>(d), n);
                               return true;
                             },
                             error))
      << Utf8FromWide(error);
  EXPECT_EQ(received, "got {\"a\":1}");
}

TEST(HttpClient, InvalidAddressesNeverReachTheNetwork) {
  HttpClient client;
  std::string body;
  std::wstring error;
  for (const wchar_t* url : {L"", L"no-scheme/path", L"ftp:/x", L"http://"}) {
    error.clear();
    EXPECT_FALSE(client.GetString(url, body, error, 100)) << url;
    EXPECT_EQ(error, L"Geçersiz adres") << url;
  }
  EXPECT_EQ(client.ConnectionsOpened(), 0u);
}

TEST(HttpClient, RefusedConnectionHasItsText) {
  unsigned short closedPort;
  {
    HttpTestServer server([](const TestRequest&) { return Body(""); });
    closedPort = server.Port();
  }
  HttpClient client;
  std::string body;
  std::wstring error;
  EXPECT_FALSE(client.GetString(L"http://127.0.0.1:" + std::to_wstring(closedPort) + L"/", body, error, 100));
  EXPECT_EQ(error, L"Sunucuya bağlanılamadı");
}

TEST(HttpClient, ConnectionIsReusedPerHostAndPort) {
  HttpTestServer a([](const TestRequest&) { return Body("a"); });
  HttpTestServer b([](const TestRequest&) { return Body("b"); });
  HttpClient client;
  std::string body;
  std::wstring error;
  const std::wstring portA = std::to_wstring(a.Port());
  ASSERT_TRUE(client.GetString(L"http://localhost:" + portA + L"/1", body, error, 10)) << error;
  ASSERT_TRUE(client.GetString(L"http://localhost:" + portA + L"/2", body, error, 10)) << error;
  EXPECT_EQ(client.ConnectionsOpened(), 1u);
  EXPECT_EQ(a.ConnectionCount(), 1);  // the server saw one socket for both

  ASSERT_TRUE(client.GetString(b.Url("/3"), body, error, 10)) << error;
  EXPECT_EQ(body, "b");
  EXPECT_EQ(client.ConnectionsOpened(), 2u);
  ASSERT_TRUE(client.GetString(L"http://localhost:" + portA + L"/4", body, error, 10)) << error;
  EXPECT_EQ(client.ConnectionsOpened(), 3u);  // back to the first port: a new connection
  ASSERT_TRUE(client.GetString(L"http://LOCALHOST:" + portA + L"/5", body, error, 10)) << error;
  EXPECT_EQ(client.ConnectionsOpened(), 4u);  // host differs in letter case only
  EXPECT_EQ(a.Requests().size(), 4u);
}

TEST(HttpClient, RedirectIsFollowedAndCallbacksSeeTheTarget) {
  HttpTestServer target([](const TestRequest&) { return Body("final"); });
  HttpTestServer origin([&](const TestRequest& request) {
    TestResponse r = Body("moved", request.target == "/perm" ? 301 : 302);
    r.reason = "Moved";
    r.headers = {{"Location", "http://127.0.0.1:" + std::to_string(target.Port()) + "/there"}};
    return r;
  });
  for (const char* path : {"/perm", "/temp"}) {
    HttpClient client;
    std::string body;
    std::wstring error;
    HttpResponseInfo info;
    ASSERT_TRUE(client.GetString(origin.Url(path), body, error, 100, nullptr, &info)) << error;
    EXPECT_EQ(info.status, 200u);
    EXPECT_EQ(body, "final");
  }
  EXPECT_EQ(target.Requests().size(), 2u);
}

TEST(HttpClient, CancelBeforeTheBody) {
  HttpTestServer server([](const TestRequest&) { return Body(std::string(10000, 'x')); });
  HttpClient client;
  std::atomic<bool> cancel{false};
  std::wstring error;
  bool dataSeen = false;
  EXPECT_FALSE(client.Get(
      server.Url("/"), {},
      [&](const HttpResponseInfo&) {
        cancel = true;
        return true;
      },
      [&](const uint8_t*, uint32_t) {
        dataSeen = true;
        return true;
      },
      error, &cancel));
  EXPECT_EQ(error, L"İptal edildi");
  EXPECT_FALSE(dataSeen);

  // A flag that is already set: no retry in the conservative mode either.
  error.clear();
  EXPECT_FALSE(client.Get(server.Url("/"), {}, nullptr, nullptr, error, &cancel));
  EXPECT_EQ(error, L"İptal edildi");
  EXPECT_FALSE(client.InCompatibilityMode());
}

// Closing a blocked request's handle does not end the call under Wine (WinHttpSendRequest
// waits for the headers there), so these would last until a time-out or for ever if the
// client waited for the call instead of for the verdict.
TEST(HttpClient, CancelEndsABlockedRequestWhateverThePeerHolds) {
  struct Peer {
    const char* name;
    bool beforeHeaders;
    size_t stallAfter;
  };
  for (const Peer& peer : {Peer{"accepts and never answers", true, 0}, Peer{"headers then nothing", false, 0},
                           Peer{"part of the body then nothing", false, 1000}}) {
    SCOPED_TRACE(peer.name);
    HttpTestServer server([&](const TestRequest&) {
      TestResponse r = Body(std::string(4096, 'x'));
      r.stallBeforeHeaders = peer.beforeHeaders;
      r.stallAfterBodyBytes = peer.stallAfter;
      return r;
    });
    std::atomic<bool> cancel{false};
    std::wstring error;
    size_t received = 0;
    bool ok = true;
    std::thread worker([&] {
      HttpClient client;
      ok = client.Get(server.Url("/stall"), {}, nullptr,
                      [&](const uint8_t*, uint32_t n) {
                        received += n;
                        return true;
                      },
                      error, &cancel);
    });
    server.WaitUntilStalled();
    RequestWatchdog::Instance().WaitUntilAnyBlockingCall();
    cancel = true;
    worker.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, L"İptal edildi");
    EXPECT_LE(received, peer.stallAfter);
    EXPECT_EQ(server.Requests().size(), 1u) << "a cancelled request is not tried again";
  }
}

// A call left behind goes on until its peer answers (closing a handle does not end it under
// Wine). Meanwhile its client starts no other helper, so a peer that never answers holds one
// thread per client, and the call keeps the connection and session its handle depends on,
// even after its client is gone.
TEST(HttpClient, ACallLeftBehindHoldsItsClientAndItsHandlesUntilItReturns) {
  std::string next(1000, ' ');
  for (size_t i = 0; i < next.size(); ++i) next[i] = static_cast<char>('a' + i % 26);
  std::mutex mutex;
  std::condition_variable changed;
  bool wakeUp = false;
  auto wake = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    wakeUp = true;
    changed.notify_all();
  };
  HttpTestServer server([&](const TestRequest& request) {
    if (request.target != "/late") return Body(next);
    TestResponse r = Body(std::string(100, 'x') + std::string(10, 'L'));
    r.pieces = {100};
    r.afterPiece = [&](size_t sent) {
      std::unique_lock<std::mutex> lock(mutex);
      if (sent == 100) changed.wait_for(lock, std::chrono::seconds(60), [&] { return wakeUp; });
    };
    return r;
  });
  struct WakeAtEnd {
    std::function<void()> wake;
    ~WakeAtEnd() { wake(); }
  } wakeAtEnd{wake};

  ASSERT_TRUE(CallHelper::WaitForLeftBehindAtMost(0, 60000));
  const uint32_t sessionsBefore = HttpClient::SessionsOpen();
  auto client = std::make_unique<HttpClient>();
  std::atomic<bool> cancel{false};
  std::promise<void> firstPiece;
  std::wstring error;
  bool ok = true;
  std::thread worker([&] {
    ok = client->Get(server.Url("/late"), {}, nullptr,
                     [&](const uint8_t*, uint32_t) {
                       firstPiece.set_value();
                       return true;
                     },
                     error, &cancel);
  });
  ASSERT_EQ(firstPiece.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
  RequestWatchdog::Instance().WaitUntilAnyBlockingCall();
  cancel = true;
  worker.join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, L"İptal edildi");
  EXPECT_EQ(CallHelper::LeftBehind(), 1u);

  // The same client refuses at once, sends nothing and does not retry conservatively.
  std::string body;
  for (int i = 0; i < 3; ++i) {
    error.clear();
    EXPECT_FALSE(client->GetString(server.Url("/next"), body, error, 10000));
    EXPECT_EQ(error, L"Önceki bağlantılar hâlâ yanıt bekliyor, biraz sonra tekrar dene");
  }
  EXPECT_EQ(server.Requests().size(), 1u);
  EXPECT_FALSE(client->InCompatibilityMode());
  EXPECT_EQ(CallHelper::LeftBehind(), 1u);

  // Another client is not held up.
  HttpClient other;
  EXPECT_TRUE(other.GetString(server.Url("/next"), body, error, 10000)) << Utf8FromWide(error);
  EXPECT_EQ(body, next);

  client.reset();
  EXPECT_EQ(HttpClient::SessionsOpen(), sessionsBefore + 2) << "the abandoned call's session was closed under it";
  wake();
  EXPECT_TRUE(CallHelper::WaitForLeftBehindAtMost(0, 60000));
  EXPECT_EQ(HttpClient::SessionsOpen(), sessionsBefore + 1);
}

// The helper's read buffers are had when it starts; when they cannot be, the request fails
// with a text instead of an exception ending the process, and the client goes on.
TEST(HttpClient, AHelperWithoutMemoryFailsOnlyItsRequest) {
  HttpTestServer server([](const TestRequest&) { return Body("fine"); });
  HttpClient client;
  std::string body;
  std::wstring error;
  CallHelper::FailNextBufferAllocation();
  EXPECT_FALSE(client.GetString(server.Url("/a"), body, error, 100));
  EXPECT_EQ(error, L"Yetersiz bellek");
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_FALSE(client.InCompatibilityMode());  // a refusal is not retried
  EXPECT_TRUE(client.GetString(server.Url("/b"), body, error, 100)) << Utf8FromWide(error);
  EXPECT_EQ(body, "fine");
}

TEST(HttpClient, EndlessBodyStopsAtTheCallersLimit) {
  HttpTestServer server([](const TestRequest&) {
    TestResponse r = Body("");
    r.sendContentLength = false;
    r.endlessBody = true;
    return r;
  });
  HttpClient client;
  std::string body;
  std::wstring error;
  EXPECT_FALSE(client.GetString(server.Url("/endless"), body, error, 1 << 20));
  EXPECT_EQ(error, L"Sunucudan gelen yanıt çok büyük");
  EXPECT_LE(body.size(), 1u << 20);
}

TEST(AppendNoCache, AddsAStampWithTheRightSeparator) {
  const std::wstring plain = AppendNoCache(L"https://h/game/stable/manifest.json");
  ASSERT_EQ(plain.rfind(L"https://h/game/stable/manifest.json?nocache=", 0), 0u);
  const std::wstring digits = plain.substr(plain.find(L'=') + 1);
  EXPECT_GE(digits.size(), 17u);
  EXPECT_EQ(digits.find_first_not_of(L"0123456789"), std::wstring::npos);
  const std::wstring query = AppendNoCache(L"http://h/x?a=1");
  EXPECT_EQ(query.rfind(L"http://h/x?a=1&nocache=", 0), 0u);
}

bool RunningUnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// The machine's WinHTTP proxy (what "netsh winhttp set proxy" writes), which the conservative
// session reads on Windows, put back as it was at the end of the scope. Wine reads the
// http_proxy variable instead, which the probe sets; Windows ignores that variable.
class WinHttpProxyScope {
 public:
  explicit WinHttpProxyScope(const std::wstring& proxy) {
    if (RunningUnderWine()) {
      set_ = true;
      return;
    }
    WINHTTP_PROXY_INFO before{};
    if (!WinHttpGetDefaultProxyConfiguration(&before)) return;
    saved_ = before.dwAccessType;
    savedProxy_ = before.lpszProxy ? before.lpszProxy : L"";
    savedBypass_ = before.lpszProxyBypass ? before.lpszProxyBypass : L"";
    GlobalFree(before.lpszProxy);
    GlobalFree(before.lpszProxyBypass);
    std::wstring host = proxy.substr(proxy.find(L"//") + 2);
    if (!host.empty() && host.back() == L'/') host.pop_back();
    // Loopback is bypassed unless the list says otherwise.
    std::wstring bypass = L"<-loopback>";
    WINHTTP_PROXY_INFO named{WINHTTP_ACCESS_TYPE_NAMED_PROXY, &host[0], &bypass[0]};
    set_ = WinHttpSetDefaultProxyConfiguration(&named) != FALSE;
    restore_ = set_;
  }
  ~WinHttpProxyScope() {
    if (!restore_) return;
    WINHTTP_PROXY_INFO before{saved_, savedProxy_.empty() ? nullptr : &savedProxy_[0],
                              savedBypass_.empty() ? nullptr : &savedBypass_[0]};
    WinHttpSetDefaultProxyConfiguration(&before);
  }
  // False where the setting cannot be changed: it needs administrator rights.
  bool Set() const { return set_; }

 private:
  bool set_ = false, restore_ = false;
  DWORD saved_ = WINHTTP_ACCESS_TYPE_NO_PROXY;
  std::wstring savedProxy_, savedBypass_;
};

TV_CHILD_ROLE(compatibility_probe) {
  // args: proxy URL, unreachable URL. Prints what the clients did, one word per fact.
  SetEnvironmentVariableW(L"http_proxy", args.at(0).c_str());
  HttpClient first;
  std::string body;
  std::wstring error;
  const bool ok = first.GetString(args.at(1), body, error, 1000);
  HttpClient later;
  printf("ok=%d body=%s compat=%d flag=%d later=%d error=%s\n", ok, body.c_str(), first.InCompatibilityMode(),
         HttpClient::CompatibilityFlag(), later.InCompatibilityMode(), Utf8FromWide(error).c_str());
  return 0;
}

TEST(HttpClient, ConservativeRetryReachesWhatTheNormalSessionCannot) {
  // The conservative session honours the system proxy setting (here the http_proxy variable
  // of the child process), the normal one detects its proxy itself and goes direct.
  HttpTestServer proxy([](const TestRequest& request) { return Body("via proxy " + request.target); });
  unsigned short closedPort;
  {
    HttpTestServer gone([](const TestRequest&) { return Body(""); });
    closedPort = gone.Port();
  }
  const std::string target = "http://127.0.0.1:" + std::to_string(closedPort) + "/x";
  testing_support::ProcessResult result;
  {
    WinHttpProxyScope scope(proxy.Url(""));
    if (!scope.Set()) GTEST_SKIP() << "the machine's WinHTTP proxy setting needs administrator rights to change";
    result = testing_support::RunChild("compatibility_probe", {proxy.Url(""), WideFromUtf8(target)});
  }
  ASSERT_TRUE(result.started);
  if (result.output.find("ok=1 body=via proxy") == 0 && result.output.find("compat=0") != std::string::npos) {
    GTEST_SKIP() << "the normal session already uses the proxy here: " << result.output;
  }
  // The request went through the proxy (Wine sends the path, Windows the whole URL) ...
  EXPECT_EQ(result.output.rfind("ok=1 body=via proxy ", 0), 0u) << result.output;
  EXPECT_EQ(proxy.Requests().size(), 1u);
  // ... and from then on every client of that process starts conservative.
  EXPECT_NE(result.output.find(" compat=1 flag=1 later=1"), std::string::npos) << result.output;

  // A proxy that wants a password (we send none) says so.
  HttpTestServer passwordProxy([](const TestRequest&) {
    TestResponse r = Body("", 407);
    r.reason = "Proxy Authentication Required";
    r.headers = {{"Proxy-Authenticate", "Basic realm=\"office\""}};
    return r;
  });
  {
    WinHttpProxyScope scope(passwordProxy.Url(""));
    result = testing_support::RunChild("compatibility_probe", {passwordProxy.Url(""), WideFromUtf8(target)});
  }
  EXPECT_NE(result.output.find("ok=0 body= compat=1 flag=1 later=1 "
                               "error=Ağdaki proxy sunucusu kullanıcı adı ve parola istiyor (HTTP 407)"),
            std::string::npos)
      << result.output;
}

// The current user's browser proxy settings as Internet Options writes them (flags 2: a
// manual proxy, 4: a configuration script), put back as they were at the end of the scope.
class BrowserProxySettingsScope {
 public:
  BrowserProxySettingsScope(uint32_t flags, const std::string& proxy, const std::string& script) {
    RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    DWORD size = 0;
    if (RegQueryValueExW(key_, kValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
      saved_.resize(size);
      existed_ = RegQueryValueExW(key_, kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&saved_[0]), &size) == ERROR_SUCCESS;
    }
    std::string blob;
    auto number = [&](uint32_t value) { blob.append(reinterpret_cast<const char*>(&value), 4); };
    auto text = [&](const std::string& value) {
      number(static_cast<uint32_t>(value.size()));
      blob += value;
    };
    number(0x46);  // the format's version
    number(1);     // changes counted
    number(flags);
    text(proxy);
    text("<local>");
    text(script);
    blob.append(32, '\0');
    RegSetValueExW(key_, kValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(blob.data()), static_cast<DWORD>(blob.size()));
  }
  ~BrowserProxySettingsScope() {
    if (existed_) {
      RegSetValueExW(key_, kValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(saved_.data()), static_cast<DWORD>(saved_.size()));
    } else {
      RegDeleteValueW(key_, kValue);
    }
    RegCloseKey(key_);
  }

 private:
  static constexpr const wchar_t* kKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
  static constexpr const wchar_t* kValue = L"DefaultConnectionSettings";
  HKEY key_ = nullptr;
  std::string saved_;
  bool existed_ = false;
};

TV_CHILD_ROLE(browser_proxy_probe) {
  // args: "manual" or "script", the proxy's address or the script's URL, the target URL.
  const bool manual = args.at(0) == L"manual";
  BrowserProxySettingsScope settings(manual ? 2 : 4, manual ? Utf8FromWide(args.at(1)) : "",
                                     manual ? "" : Utf8FromWide(args.at(1)));
  HttpClient::ActAsWithoutAutomaticProxy();
  HttpClient client;
  std::string body;
  std::wstring error;
  const bool ok = client.GetString(args.at(2), body, error, 1000);
  printf("ok=%d compat=%d body=%s error=%s\n", ok, client.InCompatibilityMode(), body.c_str(), Utf8FromWide(error).c_str());
  return 0;
}

// Without automatic proxy detection (Windows before 8.1) the session takes the proxy from the
// browser's settings: a manual proxy, or the one a configuration script names.
TEST(HttpClient, WithoutAutomaticDetectionTheBrowsersProxyIsUsed) {
  HttpTestServer proxy([](const TestRequest& request) { return Body("via proxy " + request.Header("Host")); });
  HttpTestServer script([&](const TestRequest&) {
    return Body("function FindProxyForURL(url, host) { return \"PROXY 127.0.0.1:" + std::to_string(proxy.Port()) +
                "\"; }");
  });
  unsigned short closedPort;
  {
    HttpTestServer gone([](const TestRequest&) { return Body(""); });
    closedPort = gone.Port();
  }
  const std::wstring target = L"http://127.0.0.1:" + std::to_wstring(closedPort) + L"/x";
  const std::string expected = "ok=1 compat=0 body=via proxy 127.0.0.1:" + std::to_string(closedPort) + " error=";
  auto result = testing_support::RunChild("browser_proxy_probe", {L"manual", L"127.0.0.1:" + std::to_wstring(proxy.Port()), target});
  EXPECT_EQ(result.output.rfind(expected, 0), 0u) << result.output;
  EXPECT_EQ(proxy.Requests().size(), 1u);

  result = testing_support::RunChild("browser_proxy_probe", {L"script", script.Url("/proxy.pac"), target});
  EXPECT_EQ(script.Requests().size(), 1u) << "the configuration script was asked";
  // What the script chose is set on each request (WINHTTP_OPTION_PROXY), which Wine accepts
  // and ignores.
  if (!RunningUnderWine()) {
    EXPECT_EQ(result.output.rfind(expected, 0), 0u) << result.output;
    EXPECT_EQ(proxy.Requests().size(), 2u);
  }
}

}  // namespace
