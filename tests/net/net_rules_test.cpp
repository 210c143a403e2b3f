#include <gtest/gtest.h>

#include "base/text.h"
#include "net/http_rules.h"
#include "net/network_error_text.h"
#include "net/player_count_parse.h"
#include "net/resume_rules.h"
#include "net/watchdog_rules.h"

namespace {

TEST(NetworkErrorText, KnownCodesAndTheRest) {
  EXPECT_EQ(NetworkErrorText(12002), L"Sunucu zamanında yanıt vermedi");
  EXPECT_EQ(NetworkErrorText(10060), L"Sunucu zamanında yanıt vermedi");
  EXPECT_EQ(NetworkErrorText(12007), L"Sunucu bulunamadı, internet bağlantını kontrol et");
  EXPECT_EQ(NetworkErrorText(12029), L"Sunucuya bağlanılamadı");
  EXPECT_EQ(NetworkErrorText(12030), L"Bağlantı koptu");
  EXPECT_EQ(NetworkErrorText(12152), L"Bağlantı koptu");
  EXPECT_EQ(NetworkErrorText(12175), L"Güvenli bağlantı kurulamadı (sistem saatini kontrol et)");
  EXPECT_EQ(NetworkErrorText(12044), L"Ağ hatası 12044");
  EXPECT_EQ(NetworkErrorText(4294967295u), L"Ağ hatası 4294967295");
  EXPECT_EQ(InactivityTimeoutText(), L"Sunucu 40 saniye boyunca yanıt vermedi");

  // Where TLS 1.2 could not be enabled, a failed secure channel names the missing update.
  const wchar_t* tlsMissing = L"Güvenli bağlantı kurulamadı (Windows'un TLS 1.2 güncellemesi eksik, Windows Update'i çalıştır)";
  EXPECT_EQ(NetworkErrorTextFor(12175, true), tlsMissing);
  EXPECT_EQ(NetworkErrorTextFor(12175, false), L"Güvenli bağlantı kurulamadı (sistem saatini kontrol et)");
  EXPECT_EQ(NetworkErrorTextFor(12029, true), L"Sunucuya bağlanılamadı");
  EXPECT_EQ(NetworkErrorTextFor(12002, true), L"Sunucu zamanında yanıt vermedi");
}

TEST(WatchdogRules, CancelAndInactivityVerdicts) {
  WatchedRequest r;
  r.lastActivity = 1000;
  ScanWatchedRequest(r, 41000);  // exactly 40 s: still active
  EXPECT_EQ(r.state, RequestState::Active);
  ScanWatchedRequest(r, 41001);
  EXPECT_EQ(r.state, RequestState::TimedOut);

  r.cancelRequested = true;  // a later cancel does not change a verdict
  ScanWatchedRequest(r, 50000);
  EXPECT_EQ(r.state, RequestState::TimedOut);

  WatchedRequest blocked;  // in a call or between calls alike
  blocked.inBlockingCall = true;
  blocked.cancelRequested = true;
  ScanWatchedRequest(blocked, 10);
  EXPECT_EQ(blocked.state, RequestState::Cancelled);
}

TEST(HttpRules, KeepAliveContentLengthAndAddresses) {
  EXPECT_EQ(ParseKeepAliveMax(L"timeout=5, max=100"), 100u);
  EXPECT_EQ(ParseKeepAliveMax(L"max"), 0u);
  EXPECT_EQ(ParseKeepAliveMax(L"max="), 0u);
  EXPECT_EQ(ParseKeepAliveMax(L"timeout=5"), 0u);
  EXPECT_EQ(ParseUnsignedDecimal(L"12345"), 12345u);
  EXPECT_EQ(ParseUnsignedDecimal(L"18446744073709551615"), 18446744073709551615ull);
  EXPECT_EQ(ParseUnsignedDecimal(L"99999999999999999999999"), 18446744073709551615ull);  // saturates
  EXPECT_EQ(ParseUnsignedDecimal(L"x1"), 0u);
}

TEST(HttpRules, AnnouncedSizesAreBoundedBeforeAnyArithmetic) {
  const struct {
    const wchar_t* text;
    bool ok;
    uint64_t value;
  } lengths[] = {
      {L"0", true, 0},
      {L" 12345 ", true, 12345},
      {L"1125899906842624", true, kMaxAnnouncedBytes},  // 2^50
      {L"1125899906842625", false, 0},
      {L"9223372036854775807", false, 0},   // 2^63 - 1
      {L"9223372036854775808", false, 0},   // 2^63
      {L"18446744073709551615", false, 0},  // 2^64 - 1
      {L"18446744073709551616", false, 0},  // 2^64: would wrap to 0
      {L"18446744073709551617", false, 0},  // would wrap to 1
      {L"99999999999999999999", false, 0},  // would saturate
      {L"", false, 0},
      {L"12x", false, 0},
      {L"-1", false, 0},
      {L"1 2", false, 0},
  };
  for (const auto& c : lengths) {
    uint64_t value = 7;
    EXPECT_EQ(ParseContentLength(c.text, value), c.ok) << Utf8FromWide(c.text);
    if (c.ok) {
      EXPECT_EQ(value, c.value) << Utf8FromWide(c.text);
    }
  }

  EXPECT_TRUE(ContentRangeNumbersInRange(L""));
  EXPECT_TRUE(ContentRangeNumbersInRange(L"bytes */1000"));
  EXPECT_TRUE(ContentRangeNumbersInRange(L"bytes 100-1125899906842623/1125899906842624"));
  EXPECT_FALSE(ContentRangeNumbersInRange(L"bytes 100-199/18446744073709551615"));
  EXPECT_FALSE(ContentRangeNumbersInRange(L"bytes 18446744073709551616-1/2"));
  EXPECT_FALSE(ContentRangeNumbersInRange(L"bytes 100-99999999999999999999/200"));

  uint64_t first = 0, last = 0, total = 0;
  EXPECT_TRUE(ParseContentRange(L"bytes 100-199/200", first, last, total));
  EXPECT_EQ(total, 200u);
  EXPECT_FALSE(ParseContentRange(L"bytes 100-199/18446744073709551716", first, last, total));  // 2^64 + 100
  EXPECT_FALSE(ParseContentRange(L"bytes 100-199/9223372036854775908", first, last, total));   // 2^63 + 100

  const uint8_t v4[4] = {192, 0, 2, 33};
  EXPECT_EQ(FormatIPv4Endpoint(v4, 443), L"192.0.2.33:443");
  uint8_t v6[16] = {0x20, 0x01, 0x0d, 0xb8};
  v6[15] = 1;
  EXPECT_EQ(FormatIPv6Endpoint(v6, 22005), L"[2001:db8:0:0:0:0:0:1]:22005");
}

TEST(HttpRules, TextsAndRetryDecision) {
  EXPECT_EQ(IncompleteBodyText(1024, 2048), L"Yanıt yarım geldi (1 / 2 KB)");
  EXPECT_EQ(IncompleteBodyText(1023, 2047), L"Yanıt yarım geldi (0 / 1 KB)");
  EXPECT_EQ(ServerErrorText(404), L"Dosya sunucuda bulunamadı (HTTP 404)");
  EXPECT_EQ(ServerErrorText(500), L"Sunucu hata döndürdü (HTTP 500)");
  EXPECT_EQ(UnexpectedResponseText(206), L"Sunucu beklenmeyen yanıt verdi (HTTP 206)");
  EXPECT_EQ(AppendNoCacheStamp(L"http://h/m.json", 133), L"http://h/m.json?nocache=133");
  EXPECT_EQ(AppendNoCacheStamp(L"http://h/m.json?a=b", 7), L"http://h/m.json?a=b&nocache=7");

  const struct {
    bool reached, conservative, cancelled, refused, leftBehind, capReached, retry;
    const char* why;
  } retries[] = {
      {false, false, false, false, false, false, true, "never reached"},
      {true, false, false, false, false, false, false, "the server answered"},
      {false, true, false, false, false, false, false, "already conservative"},
      {false, false, true, false, false, false, false, "cancelled"},
      {false, false, false, true, false, false, false, "no helper for the first try"},
      {false, false, false, false, true, false, true, "left behind, below the cap"},
      {false, false, false, false, true, true, false, "left behind, at the cap"},
      {false, false, false, false, false, true, true, "at the cap, nothing of its own left behind"},
  };
  for (const auto& r : retries) {
    EXPECT_EQ(ShouldRetryInCompatibilityMode(r.reached, r.conservative, r.cancelled, r.refused, r.leftBehind, r.capReached),
              r.retry)
        << r.why;
  }
}

TEST(HttpRules, BrowserProxyChoice) {
  BrowserProxySettings manual;
  manual.proxy = L"http=10.0.0.1:3128;https=10.0.0.1:3129";
  manual.bypass = L"<local>";
  BrowserProxySettings script;
  script.autoConfigUrl = L"http://wpad.example/proxy.pac";
  script.proxy = L"10.0.0.2:8080";  // kept for when the script cannot be had
  BrowserProxySettings detect;
  detect.autoDetect = true;
  const struct {
    const char* name;
    const BrowserProxySettings& settings;
    bool answered;
    const wchar_t* automatic;
    bool named;
    const wchar_t* proxy;
    const wchar_t* bypass;
  } cases[] = {
      {"manual", manual, false, L"", true, L"http=10.0.0.1:3128;https=10.0.0.1:3129", L"<local>"},
      {"manual, an answer nobody asked for", manual, true, L"p:1", true, L"http=10.0.0.1:3128;https=10.0.0.1:3129", L"<local>"},
      {"script answered", script, true, L"p:1", true, L"p:1", L""},
      {"script says direct", script, true, L"", false, L"", L""},
      {"script unavailable: the manual proxy", script, false, L"", true, L"10.0.0.2:8080", L""},
      {"detection answered", detect, true, L"p:2", true, L"p:2", L""},
      {"detection found nothing", detect, false, L"", false, L"", L""},
      {"nothing set", BrowserProxySettings(), false, L"", false, L"", L""},
  };
  for (const auto& c : cases) {
    const ProxyChoice choice = ChooseBrowserProxy(c.settings, c.answered, c.automatic, L"");
    EXPECT_EQ(choice.named, c.named) << c.name;
    EXPECT_EQ(choice.proxy, c.proxy) << c.name;
    EXPECT_EQ(choice.bypass, c.bypass) << c.name;
  }
  EXPECT_FALSE(AsksAutomaticProxy(manual));
  EXPECT_TRUE(AsksAutomaticProxy(script));
  EXPECT_TRUE(AsksAutomaticProxy(detect));
}

// 2024-05-01 12:00:00 UTC as FILETIME.
constexpr uint64_t kNoon = 133590384000000000ull;
constexpr uint64_t kMinute = 600000000ull;

TEST(PlayerCount, BodyRules) {
  EXPECT_EQ(ParsePlayerCount(R"({"data":{"playerCount":57}})", kNoon).state, kPlayerCountOnline);
  EXPECT_EQ(ParsePlayerCount(R"({"data":{"playerCount":57}})", kNoon).count, 57u);
  EXPECT_EQ(ParsePlayerCount(R"({"error":false,"data":{"playerCount":57}})", kNoon).state, kPlayerCountOnline);
  EXPECT_EQ(ParsePlayerCount(R"({"error":null,"data":{"playerCount":0}})", kNoon).state, kPlayerCountOnline);
  for (const char* body : {
           R"({"error":true,"data":{"playerCount":57}})",
           R"({"error":1,"data":{"playerCount":57}})",
           R"({"error":"yes","data":{"playerCount":57}})",
           R"({"data":{"playerCount":100000}})",
           R"({"data":{"playerCount":-1}})",
           R"({"data":{"playerCount":57.0}})",
           R"({"data":{"playerCount":"57"}})",
           R"({"data":{"players":57}})",
           R"({"data":[57]})",
           R"({"playerCount":57})",
           R"({"data":{"playerCount":4294967353}})",
           R"({"data":{"playerCount":18446744073709551615}})",
           R"([1,2])",
           R"({"data":{"playerCount":57})",
           "",
           "<html>502 Bad Gateway</html>",
       }) {
    const PlayerCountEntry entry = ParsePlayerCount(body, kNoon);
    EXPECT_EQ(entry.state, kPlayerCountOffline) << body;
    EXPECT_EQ(entry.count, 0u) << body;
  }
  EXPECT_EQ(ParsePlayerCount(R"({"data":{"playerCount":99999}})", kNoon).count, 99999u);
  EXPECT_EQ(ParsePlayerCount(R"({"error":0,"data":{"playerCount":1}})", kNoon).state, kPlayerCountOnline);
  EXPECT_EQ(ParsePlayerCount(R"({"error":"","data":{"playerCount":1}})", kNoon).state, kPlayerCountOnline);
}

std::string WithStamp(const std::string& stamp) {
  return R"({"data":{"playerCount":12,"lastUpdate":")" + stamp + R"("}})";
}

TEST(PlayerCount, Freshness) {
  EXPECT_EQ(ParsePlayerCount(WithStamp("2024-05-01T11:51:00Z"), kNoon).state, kPlayerCountOnline);   // 9 min
  EXPECT_EQ(ParsePlayerCount(WithStamp("2024-05-01T11:49:00Z"), kNoon).state, kPlayerCountOffline);  // 11 min
  EXPECT_EQ(ParsePlayerCount(WithStamp("2024-05-01T11:50:00Z"), kNoon).state, kPlayerCountOnline);   // exactly 10
  EXPECT_EQ(ParsePlayerCount(WithStamp("2024-05-01T13:00:00Z"), kNoon).state, kPlayerCountOnline);   // future
  EXPECT_EQ(ParsePlayerCount(WithStamp("garbage"), kNoon).state, kPlayerCountOnline);                // no stamp
  EXPECT_EQ(ParsePlayerCount(WithStamp("2024-13-01T11:00:00Z"), kNoon).state, kPlayerCountOnline);   // invalid date
  EXPECT_EQ(ParsePlayerCount(WithStamp("2024-05-01T11:00:61Z"), kNoon).state, kPlayerCountOnline);   // seconds 61
  EXPECT_EQ(ParsePlayerCount(WithStamp("2024-05-01T11:00:nanZ"), kNoon).state, kPlayerCountOnline);
  EXPECT_EQ(ParsePlayerCount(R"({"data":{"playerCount":3,"lastUpdate":17}})", kNoon).state, kPlayerCountOnline);
}

TEST(PlayerCount, TimeZoneDesignators) {
  EXPECT_EQ(ParseLastUpdateStamp("2024-05-01T15:00:00+03:00"), kNoon);
  EXPECT_EQ(ParseLastUpdateStamp("2024-05-01T07:00:00-05:00"), kNoon);
  EXPECT_EQ(ParseLastUpdateStamp("2024-05-01T12:00:00Z"), kNoon);
  EXPECT_EQ(ParseLastUpdateStamp("2024-05-01T12:00:00"), kNoon);
  EXPECT_EQ(ParseLastUpdateStamp("2024-05-01T12:00:00.250Z"), kNoon + 2500000);
  EXPECT_EQ(ParseLastUpdateStamp("2024-05-01T12:00:00+0300"), kNoon);  // offset that does not read: no change
  EXPECT_EQ(ParseLastUpdateStamp("2024-05-01T12:00:00.123456+01:30"), kNoon + 1230000 - 90 * kMinute);
  EXPECT_EQ(ParseLastUpdateStamp("2024-02-30T12:00:00Z"), 0u);
  EXPECT_EQ(ParseLastUpdateStamp("2024-02-29T00:00:00Z"), kNoon - (62 * 24 * 60 + 12 * 60) * kMinute);
  // A stamp from another time zone is judged in UTC: 14:55 at +03:00 is 11:55 UTC, fresh at noon.
  EXPECT_EQ(ParsePlayerCount(WithStamp("2024-05-01T14:55:00+03:00"), kNoon).state, kPlayerCountOnline);
  EXPECT_EQ(ParsePlayerCount(WithStamp("2024-05-01T11:55:00-03:00"), kNoon).state, kPlayerCountOnline);
  EXPECT_EQ(ParsePlayerCount(WithStamp("2024-05-01T07:55:00-03:00"), kNoon).state, kPlayerCountOffline);
}

TEST(PlayerCount, CalendarConversion) {
  uint64_t ft = 0;
  ASSERT_TRUE(CalendarToFileTime(1601, 1, 1, 0, 0, 0, 0, ft));
  EXPECT_EQ(ft, 0u);
  ASSERT_TRUE(CalendarToFileTime(1970, 1, 1, 0, 0, 0, 0, ft));
  EXPECT_EQ(ft, 116444736000000000ull);
  EXPECT_FALSE(CalendarToFileTime(2023, 2, 29, 0, 0, 0, 0, ft));
  EXPECT_TRUE(CalendarToFileTime(2000, 2, 29, 0, 0, 0, 0, ft));
  EXPECT_FALSE(CalendarToFileTime(1900, 2, 29, 0, 0, 0, 0, ft));
  EXPECT_FALSE(CalendarToFileTime(1600, 12, 31, 0, 0, 0, 0, ft));
  EXPECT_FALSE(CalendarToFileTime(2024, 1, 1, 24, 0, 0, 0, ft));
  EXPECT_FALSE(CalendarToFileTime(2024, 1, 1, 0, 0, 60, 0, ft));
}

TEST(PlayerCount, GracePeriodOfAFailingServer) {
  PlayerCountEntry entry;
  uint64_t lastGood = 0;
  const FetchResult good{true, kPlayerCountOnline, 40};
  const FetchResult failed{false, kPlayerCountOffline, 0};
  const FetchResult unusable{true, kPlayerCountOffline, 0};

  ApplyPlayerCountResult(entry, lastGood, good, kNoon);
  EXPECT_EQ(entry.state, kPlayerCountOnline);
  EXPECT_EQ(lastGood, kNoon);

  ApplyPlayerCountResult(entry, lastGood, failed, kNoon + 3 * kMinute);  // exactly 180 s: kept
  EXPECT_EQ(entry.state, kPlayerCountOnline);
  EXPECT_EQ(entry.count, 40u);
  EXPECT_EQ(lastGood, kNoon);  // a failure does not refresh the stamp
  ApplyPlayerCountResult(entry, lastGood, failed, kNoon + 3 * kMinute + 1);
  EXPECT_EQ(entry.state, kPlayerCountOffline);
  EXPECT_EQ(entry.count, 0u);

  ApplyPlayerCountResult(entry, lastGood, good, kNoon + 4 * kMinute);
  ApplyPlayerCountResult(entry, lastGood, unusable, kNoon + 4 * kMinute + 1);  // answered badly: at once
  EXPECT_EQ(entry.state, kPlayerCountOffline);

  PlayerCountEntry fresh;  // a first poll that fails makes the slot offline
  uint64_t never = 0;
  ApplyPlayerCountResult(fresh, never, failed, kNoon);
  EXPECT_EQ(fresh.state, kPlayerCountOffline);
}

TEST(ResumeRules, OnlyPlainHeaderValuesAreValidators) {
  const std::wstring longest(512, L'v');
  EXPECT_TRUE(IsSafeValidator(L"\"abc\""));
  EXPECT_TRUE(IsSafeValidator(L"Tue, 15 Nov 1994 12:45:26 GMT"));
  EXPECT_TRUE(IsSafeValidator(longest));
  EXPECT_FALSE(IsSafeValidator(longest + L"v"));
  EXPECT_FALSE(IsSafeValidator(L""));
  EXPECT_FALSE(IsSafeValidator(L"\"a\"\r\nX-Injected: 1"));
  EXPECT_FALSE(IsSafeValidator(L"\"a\nb\""));
  EXPECT_FALSE(IsSafeValidator(L"\"a\tb\""));
  EXPECT_FALSE(IsSafeValidator(L"\"a\x7F\""));
  EXPECT_FALSE(IsSafeValidator(L"\"\u00e7\""));
  // An unsafe strong ETag is not replaced by Last-Modified: that response has no validator.
  EXPECT_EQ(ChooseValidator(L"\"a\"\r\nX: 1", L"Mon"), L"");
  EXPECT_EQ(ChooseValidator(L"W/\"a\"", L"Mon\r\n"), L"");
  EXPECT_EQ(ChooseValidator(L"\"" + longest + L"\"", L""), L"");
}

}  // namespace
