#include "net/http_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "base/log.h"
#include "base/text.h"
#include "base/worker_failure.h"
#include "net/call_helper.h"
#include "net/http_rules.h"
#include "net/network_error_text.h"
#include "net/request_watchdog.h"

#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif
#ifndef WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL
#define WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL 133
#endif
#ifndef WINHTTP_PROTOCOL_FLAG_HTTP2
#define WINHTTP_PROTOCOL_FLAG_HTTP2 0x1
#endif

namespace {

// Not in mingw's headers; the layout is the platform's (4-byte packing).
#pragma pack(push, 4)
struct ConnectionInfo {
  DWORD cbSize;
  SOCKADDR_STORAGE LocalAddress;
  SOCKADDR_STORAGE RemoteAddress;
};
#pragma pack(pop)
constexpr DWORD kOptionConnectionInfo = 93;  // WINHTTP_OPTION_CONNECTION_INFO

std::atomic<bool> g_compatibilityFlag{false};
std::atomic<uint32_t> g_sessionsOpen{0};
std::atomic<bool> g_actAsWithoutAutomaticProxy{false};
std::atomic<bool> g_tlsOptionLogged{false};
std::atomic<bool> g_http2OptionLogged{false};

constexpr DWORD kOperationCancelled = 12017;     // ERROR_WINHTTP_OPERATION_CANCELLED
constexpr DWORD kConnectionError = 12030;        // ERROR_WINHTTP_CONNECTION_ERROR
constexpr DWORD kResendRequest = 12032;          // ERROR_WINHTTP_RESEND_REQUEST
constexpr int kMaxResends = 5;
constexpr uint32_t kBodyInSendMaxBytes = 65536;
constexpr DWORD kInvalidServerResponse = 12152;  // ERROR_WINHTTP_INVALID_SERVER_RESPONSE
constexpr uint32_t kProxyAuthenticationRequired = 407;

void LogOnce(std::atomic<bool>& logged, const std::wstring& line) {
  if (!logged.exchange(true)) LogLine(line);
}

std::wstring ErrorTextOf(DWORD code) { return NetworkErrorTextFor(code, Tls12Unavailable()); }

// Takes a string WinHTTP allocated with GlobalAlloc.
std::wstring TakeGlobalString(LPWSTR text) {
  std::wstring value = text ? text : L"";
  if (text) GlobalFree(text);
  return value;
}

std::wstring QueryHeaderText(HINTERNET request, DWORD level, const wchar_t* name = WINHTTP_HEADER_NAME_BY_INDEX) {
  DWORD bytes = 0;
  WinHttpQueryHeaders(request, level, name, WINHTTP_NO_OUTPUT_BUFFER, &bytes, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return {};
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, level, name, &text[0], &bytes, WINHTTP_NO_HEADER_INDEX)) return {};
  text.resize(bytes / sizeof(wchar_t));
  return text;
}

std::wstring RemoteAddressOf(HINTERNET request) {
  ConnectionInfo info{};
  DWORD size = sizeof(info);
  info.cbSize = sizeof(info);
  if (!WinHttpQueryOption(request, kOptionConnectionInfo, &info, &size)) return {};
  const auto& remote = info.RemoteAddress;
  if (remote.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&remote);
    return FormatIPv4Endpoint(reinterpret_cast<const uint8_t*>(&v4->sin_addr), ntohs(v4->sin_port));
  }
  if (remote.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&remote);
    return FormatIPv6Endpoint(reinterpret_cast<const uint8_t*>(&v6->sin6_addr), ntohs(v6->sin6_port));
  }
  return {};
}

// Fills info; false when a size header announces more than any download can be.
bool ReadResponseInfo(HINTERNET request, HttpResponseInfo& info) {
  info = HttpResponseInfo();
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    info.status = status;
  }
  const std::wstring length = QueryHeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH);
  bool inRange = true;
  if (!length.empty()) {
    info.hasContentLength = true;
    inRange = ParseContentLength(length, info.contentLength);
  }
  info.etag = QueryHeaderText(request, WINHTTP_QUERY_ETAG);
  info.contentType = QueryHeaderText(request, WINHTTP_QUERY_CONTENT_TYPE);
  info.remoteAddress = RemoteAddressOf(request);
  info.lastModified = QueryHeaderText(request, WINHTTP_QUERY_LAST_MODIFIED);
  info.contentRange = QueryHeaderText(request, WINHTTP_QUERY_CONTENT_RANGE);
  SYSTEMTIME date{};
  size = sizeof(date);
  if (WinHttpQueryHeaders(request, WINHTTP_QUERY_DATE | WINHTTP_QUERY_FLAG_SYSTEMTIME, WINHTTP_HEADER_NAME_BY_INDEX,
                          &date, &size, WINHTTP_NO_HEADER_INDEX)) {
    FILETIME ft{};
    if (SystemTimeToFileTime(&date, &ft)) info.date = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  }
  info.keepAliveMax = ParseKeepAliveMax(QueryHeaderText(request, WINHTTP_QUERY_CUSTOM, L"Keep-Alive"));
  return inRange && ContentRangeNumbersInRange(info.contentRange);
}

}  // namespace

// A session or connection handle with shared owners: its client, and a helper left behind in
// a call on a request that depends on it. A connection holds its session.
struct InternetHandle {
  InternetHandle(HINTERNET h, std::shared_ptr<InternetHandle> owner) : handle(h), parent(std::move(owner)) {
    if (!parent) ++g_sessionsOpen;
  }
  ~InternetHandle() {
    WinHttpCloseHandle(handle);
    if (!parent) --g_sessionsOpen;
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  const HINTERNET handle;
  const std::shared_ptr<InternetHandle> parent;
};

// A session that falls back to the browser's proxy settings, and what they chose for the
// host of the client's connection (asked once per connection: automatic configuration may
// fetch a script or search the network for one).
struct BrowserProxy {
  BrowserProxySettings settings;
  bool chosen = false;
  ProxyChoice choice;
};

namespace {

BrowserProxySettings ReadBrowserProxySettings() {
  BrowserProxySettings settings;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) {
    LogLine(L"http: browser proxy settings unreadable (error " + DecimalText(static_cast<unsigned long long>(GetLastError())) + L")");
    return settings;
  }
  settings.autoDetect = config.fAutoDetect != FALSE;
  settings.autoConfigUrl = TakeGlobalString(config.lpszAutoConfigUrl);
  settings.proxy = TakeGlobalString(config.lpszProxy);
  settings.bypass = TakeGlobalString(config.lpszProxyBypass);
  return settings;
}

// Asks the automatic configuration for url (a blocking call: it may download a script or
// search the network), then sets what the settings chose on the request. Nothing here fails
// the request: without an answer the request takes the manual proxy or the direct route.
BOOL ApplyBrowserProxy(HINTERNET request, HINTERNET session, const std::wstring& url, BrowserProxy& proxy) {
  bool answered = false;
  std::wstring automaticProxy, automaticBypass;
  if (AsksAutomaticProxy(proxy.settings)) {
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (proxy.settings.autoDetect) {
      options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (!proxy.settings.autoConfigUrl.empty()) {
      options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = proxy.settings.autoConfigUrl.c_str();
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    answered = WinHttpGetProxyForUrl(session, url.c_str(), &options, &info) != FALSE;
    if (answered) {
      automaticProxy = TakeGlobalString(info.lpszProxy);
      automaticBypass = TakeGlobalString(info.lpszProxyBypass);
    }
  }
  proxy.choice = ChooseBrowserProxy(proxy.settings, answered, automaticProxy, automaticBypass);
  proxy.chosen = true;
  if (!proxy.choice.named) return TRUE;
  WINHTTP_PROXY_INFO named{};
  named.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  named.lpszProxy = &proxy.choice.proxy[0];
  named.lpszProxyBypass = proxy.choice.bypass.empty() ? nullptr : &proxy.choice.bypass[0];
  WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &named, sizeof(named));  // refused: the session's route
  return TRUE;
}

}  // namespace

// Keeps a request registered with the watchdog for exactly the life of this object. The
// handle is the caller's until Adopt hands it to the helper, which then alone calls into it;
// the end of the request closes it, or leaves that to the helper when a call of it is still
// under way.
class WatchedRequestHandle {
 public:
  WatchedRequestHandle(HINTERNET request, const std::atomic<bool>* cancel)
      : request_(request), cancel_(cancel), id_(RequestWatchdog::Instance().Register(cancel)) {}
  ~WatchedRequestHandle() {
    if (!helper_) WinHttpCloseHandle(request_);
    RequestWatchdog::Instance().Unregister(id_);
  }
  WatchedRequestHandle(const WatchedRequestHandle&) = delete;
  WatchedRequestHandle& operator=(const WatchedRequestHandle&) = delete;

  HINTERNET Get() const { return request_; }
  uint64_t Id() const { return id_; }
  bool LeftACallBehind() const { return leftBehind_; }

  void Adopt(CallHelper& helper, std::shared_ptr<void> keepAlive) {
    helper.Adopt(request_, id_, cancel_, std::move(keepAlive));
    helper_ = &helper;
  }
  // Before the helper goes: true when it can take the next request.
  bool Release() {
    if (!helper_ || helper_->Release()) return true;
    leftBehind_ = true;
    return false;
  }

  // Runs one blocking WinHTTP call on the helper under the watchdog; on failure fills the
  // error text.
  bool Blocking(std::wstring& error, const CallHelper::Call& call) {
    RequestWatchdog& watchdog = RequestWatchdog::Instance();
    if (!watchdog.BeginBlockingCall(id_)) {
      watchdog.FailureText(id_, kOperationCancelled, error);
      return false;
    }
    BOOL ok = FALSE;
    DWORD code = 0;
    if (!helper_->Run(call, ok, code)) {
      leftBehind_ = true;
      FailureText(code, error);
      return false;
    }
    const bool stillActive = watchdog.EndBlockingCall(id_);
    if (ok && stillActive) return true;
    FailureText(code, error);
    return false;
  }

  void FailureText(DWORD code, std::wstring& error) {
    if (code == ERROR_NOT_ENOUGH_MEMORY) {
      error = kOutOfMemoryText;
    } else {
      RequestWatchdog::Instance().FailureText(id_, code, error);
    }
  }

 private:
  HINTERNET request_;
  const std::atomic<bool>* cancel_;
  uint64_t id_;
  CallHelper* helper_ = nullptr;
  bool leftBehind_ = false;
};

bool HttpClient::CompatibilityFlag() { return g_compatibilityFlag.load(); }
uint32_t HttpClient::SessionsOpen() { return g_sessionsOpen.load(); }
void HttpClient::ActAsWithoutAutomaticProxy() { g_actAsWithoutAutomaticProxy = true; }

HttpClient::HttpClient() { OpenSession(g_compatibilityFlag.load()); }

HttpClient::~HttpClient() {
  helper_.reset();
  for (auto& stuck : stuck_) stuck.reset();
  CloseConnection();
  session_.reset();
}

void HttpClient::CloseConnection() {
  connection_.reset();
  if (browserProxy_) browserProxy_->chosen = false;
  host_.clear();
  port_ = 0;
}

void HttpClient::OpenSession(bool compatibility) {
  CloseConnection();
  session_.reset();
  browserProxy_.reset();
  compatibility_ = compatibility;
  HINTERNET session = nullptr;
  if (!compatibility && !g_actAsWithoutAutomaticProxy) {
    session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
  }
  if (!session && !compatibility) {
    // Without automatic detection (before Windows 8.1) the default route is the machine's
    // netsh setting, which players never set: their proxy is in the browser's settings. A
    // manual proxy is the session's; a script or detection is asked per host.
    const BrowserProxySettings settings = ReadBrowserProxySettings();
    if (AsksAutomaticProxy(settings)) {
      browserProxy_ = std::make_shared<BrowserProxy>();
      browserProxy_->settings = settings;
    } else if (!settings.proxy.empty()) {
      session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, settings.proxy.c_str(),
                            settings.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : settings.bypass.c_str(), 0);
    }
  }
  if (!session) {
    session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
  }
  if (!session) return;
  session_ = std::make_shared<InternetHandle>(session, nullptr);
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
  if (!WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols))) {
    const DWORD withTls13 = GetLastError();
    protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    if (!WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols))) {
      // Windows 7 and 8.0 know TLS 1.2 only with their update (KB3140245 and its setting).
      NoteTls12Unavailable();
      LogOnce(g_tlsOptionLogged, L"http: TLS 1.2 could not be enabled (errors " +
                                     DecimalText(static_cast<unsigned long long>(withTls13)) + L", " +
                                     DecimalText(static_cast<unsigned long long>(GetLastError())) +
                                     L"); secure connections use the system's defaults");
    }
  }
  WinHttpSetTimeouts(session, 15000, 15000, 30000, 30000);
  // Wine reads the response headers inside WinHttpSendRequest and bounds that read by this
  // option alone, which it leaves unlimited; the same 30 s keep the receive time-out true there.
  DWORD headersTimeout = 30000;
  WinHttpSetOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headersTimeout, sizeof(headersTimeout));
  if (!compatibility) {
    DWORD http2 = WINHTTP_PROTOCOL_FLAG_HTTP2;
    if (!WinHttpSetOption(session, WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &http2, sizeof(http2))) {
      LogOnce(g_http2OptionLogged, L"http: HTTP/2 could not be enabled (error " +
                                       DecimalText(static_cast<unsigned long long>(GetLastError())) +
                                       L"); requests use HTTP/1.1");
    }
  }
}

bool HttpClient::EnsureHelper(std::wstring& error, bool besideStuckHelpers) {
  bool stuck = false;
  for (auto& helper : stuck_) {
    if (helper && !helper->StillBlocked()) helper.reset();
    stuck = stuck || helper;
  }
  if (helper_) return true;
  if (stuck && !besideStuckHelpers) {
    error = kEarlierCallsWaitingText;
    return false;
  }
  CallHelper::StartFailure failure = CallHelper::StartFailure::None;
  helper_ = CallHelper::Start(failure);
  if (helper_) return true;
  switch (failure) {
    case CallHelper::StartFailure::NoMemory: error = kOutOfMemoryText; break;
    case CallHelper::StartFailure::NoThread: error = kThreadStartFailedText; break;
    default: error = kEarlierCallsWaitingText; break;
  }
  return false;
}

void HttpClient::FinishRequest(WatchedRequestHandle& request) {
  if (request.Release()) return;
  if (helper_->StillBlocked()) {
    for (auto& stuck : stuck_) {
      if (!stuck) {
        stuck = std::move(helper_);
        return;
      }
    }
  }
  helper_.reset();
}

bool HttpClient::Perform(const wchar_t* verb, const std::wstring& url, const std::vector<std::wstring>& headers,
                         const void* body, uint32_t bodyLength, const HeaderCallback& onHeaders,
                         const DataCallback& onData, std::wstring& error, const std::atomic<bool>* cancel,
                         bool retry, Attempt& attempt) {
  attempt = Attempt();
  if (!session_) {
    error = kSessionFailedText;
    return false;
  }
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (url.empty() || !WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
      parts.dwHostNameLength == 0) {
    error = kInvalidAddressText;
    return false;
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring object(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

  // The conservative retry of a request whose call was left behind may have a helper beside it.
  if (!EnsureHelper(error, retry)) {
    attempt.refused = true;
    return false;
  }

  if (!connection_ || host != host_ || parts.nPort != port_) {
    CloseConnection();
    const HINTERNET connection = WinHttpConnect(session_->handle, host.c_str(), parts.nPort, 0);
    if (!connection) {
      error = ErrorTextOf(GetLastError());
      return false;
    }
    connection_ = std::make_shared<InternetHandle>(connection, session_);
    ++connectionsOpened_;
    host_ = host;
    port_ = parts.nPort;
  }

  HINTERNET raw = WinHttpOpenRequest(connection_->handle, verb, object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                     WINHTTP_DEFAULT_ACCEPT_TYPES,
                                     parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
  if (!raw) {
    error = ErrorTextOf(GetLastError());
    return false;
  }
  WatchedRequestHandle request(raw, cancel);
  bool ok = false;
  try {
    ok = Exchange(request, url, headers, body, bodyLength, onHeaders, onData, error, cancel, attempt.reached);
  } catch (...) {
    FinishRequest(request);
    throw;
  }
  FinishRequest(request);
  attempt.leftBehind = request.LeftACallBehind();
  return ok;
}

bool HttpClient::Exchange(WatchedRequestHandle& request, const std::wstring& url,
                          const std::vector<std::wstring>& headers, const void* body, uint32_t bodyLength,
                          const HeaderCallback& onHeaders, const DataCallback& onData, std::wstring& error,
                          const std::atomic<bool>* cancel, bool& reached) {
  for (const std::wstring& header : headers) {
    WinHttpAddRequestHeaders(request.Get(), header.c_str(), static_cast<DWORD>(header.size()),
                             WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
  }
  request.Adopt(*helper_, connection_);
  // Each call below is handed to the helper on its own and has its own 40 s: a slow connect
  // (name, proxy, TLS) in the send must not eat the time the server has for its headers.
  // What a call touches besides the handle is its own: a call left behind outlives this frame.
  if (browserProxy_) {
    if (!browserProxy_->chosen) {
      auto proxy = std::make_shared<BrowserProxy>(*browserProxy_);
      const std::shared_ptr<InternetHandle> session = session_;
      if (!request.Blocking(error, [proxy, session, url](HINTERNET handle) {
            return ApplyBrowserProxy(handle, session->handle, url, *proxy);
          })) {
        return false;
      }
      *browserProxy_ = *proxy;
    } else if (browserProxy_->choice.named) {
      WINHTTP_PROXY_INFO named{};
      named.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
      named.lpszProxy = &browserProxy_->choice.proxy[0];
      named.lpszProxyBypass = browserProxy_->choice.bypass.empty() ? nullptr : &browserProxy_->choice.bypass[0];
      WinHttpSetOption(request.Get(), WINHTTP_OPTION_PROXY, &named, sizeof(named));
    }
  }
  // A body that can take long to send (more than a socket takes at once) follows the send
  // through WinHttpWriteData, so that writing it is a call of its own: given to
  // WinHttpSendRequest, Wine would also wait for the response headers inside that one call.
  // A small body goes with the send, which lets Wine send it again on a redirect that keeps
  // the method; Windows asks for a body written separately once more (12032).
  const bool bodyInSend = bodyLength <= kBodyInSendMaxBytes;
  auto sent = std::make_shared<std::string>(static_cast<const char*>(body), bodyLength);
  auto info = std::make_shared<HttpResponseInfo>();
  auto sizesInRange = std::make_shared<bool>(false);
  auto resend = std::make_shared<bool>(false);
  for (int round = 0;; ++round) {
    if (!request.Blocking(error, [sent, bodyInSend](HINTERNET handle) {
          const DWORD length = static_cast<DWORD>(sent->size());
          void* optional = bodyInSend && length > 0 ? &(*sent)[0] : WINHTTP_NO_REQUEST_DATA;
          return WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, optional, bodyInSend ? length : 0,
                                    length, 0);
        })) {
      return false;
    }
    auto written = std::make_shared<DWORD>(bodyInSend ? bodyLength : 0);
    while (*written < bodyLength) {
      if (!request.Blocking(error, [sent, written](HINTERNET handle) {
            DWORD count = 0;
            if (!WinHttpWriteData(handle, sent->data() + *written, static_cast<DWORD>(sent->size()) - *written, &count)) {
              return FALSE;
            }
            if (count == 0) {
              SetLastError(kConnectionError);
              return FALSE;
            }
            *written += count;
            return TRUE;
          })) {
        return false;
      }
    }
    const bool mayResend = round < kMaxResends;
    if (!request.Blocking(error, [info, sizesInRange, resend, mayResend](HINTERNET handle) {
          *resend = false;
          if (!WinHttpReceiveResponse(handle, nullptr)) {
            *resend = mayResend && GetLastError() == kResendRequest;
            return *resend ? TRUE : FALSE;
          }
          *sizesInRange = ReadResponseInfo(handle, *info);
          return TRUE;
        })) {
      return false;
    }
    if (!*resend) break;
  }
  reached = true;
  // We send no credentials: a proxy that wants them ends every request here.
  if (info->status == kProxyAuthenticationRequired) {
    error = kProxyPasswordText;
    return false;
  }
  // A size no download can have would overflow the free-space sum and the size caps.
  if (!*sizesInRange) {
    request.FailureText(kInvalidServerResponse, error);
    return false;
  }
  if (onHeaders && !onHeaders(*info)) {
    if (error.empty()) error = UnexpectedResponseText(info->status);
    return false;
  }
  for (;;) {
    if (cancel && cancel->load()) {
      error = kCancelledText;
      return false;
    }
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    DWORD code = 0;
    if (!helper_->NextPiece(data, length, code)) {
      request.FailureText(code, error);
      return false;
    }
    if (length == 0) return true;
    if (onData && !onData(data, length)) {
      if (error.empty()) error = kDownloadStoppedText;
      return false;
    }
  }
}

bool HttpClient::Request(const wchar_t* verb, const std::wstring& url, const std::vector<std::wstring>& headers,
                         const void* body, uint32_t bodyLength, const HeaderCallback& onHeaders,
                         const DataCallback& onData, std::wstring& error, const std::atomic<bool>* cancel) {
  Attempt attempt;
  if (Perform(verb, url, headers, body, bodyLength, onHeaders, onData, error, cancel, false, attempt)) return true;
  if (!ShouldRetryInCompatibilityMode(attempt.reached, compatibility_, cancel && cancel->load(), attempt.refused,
                                      attempt.leftBehind, CallHelper::LeftBehind() >= kMaxCallsLeftBehind)) {
    return false;
  }
  OpenSession(true);
  error.clear();
  const bool ok = Perform(verb, url, headers, body, bodyLength, onHeaders, onData, error, cancel, true, attempt);
  if (attempt.reached) {
    g_compatibilityFlag.exchange(true);
  } else {
    OpenSession(g_compatibilityFlag.load());
  }
  return ok;
}

bool HttpClient::Get(const std::wstring& url, const std::vector<std::wstring>& headers, const HeaderCallback& onHeaders,
                     const DataCallback& onData, std::wstring& error, const std::atomic<bool>* cancel) {
  return Request(L"GET", url, headers, nullptr, 0, onHeaders, onData, error, cancel);
}

bool HttpClient::GetStreamed(const std::wstring& url, const DataCallback& onData, uint64_t& received,
                             std::wstring& error, uint32_t maxBytes, const std::atomic<bool>* cancel,
                             HttpResponseInfo* info) {
  received = 0;
  if (info) *info = HttpResponseInfo();
  HttpResponseInfo seen;
  auto onHeaders = [&](const HttpResponseInfo& response) {
    seen = response;
    if (info) *info = response;
    if (response.status == 200) return true;
    error = ServerErrorText(response.status);
    return false;
  };
  auto onBody = [&](const uint8_t* data, uint32_t length) {
    if (received + length > maxBytes) {
      error = kResponseTooLargeText;
      return false;
    }
    received += length;
    return onData(data, length);
  };
  if (!Get(url, {}, onHeaders, onBody, error, cancel)) return false;
  if (seen.hasContentLength && seen.contentLength != received) {
    error = IncompleteBodyText(received, seen.contentLength);
    if (info) info->incomplete = true;
    return false;
  }
  return true;
}

bool HttpClient::GetString(const std::wstring& url, std::string& body, std::wstring& error, uint32_t maxBytes,
                           const std::atomic<bool>* cancel, HttpResponseInfo* info) {
  body.clear();
  HttpResponseInfo seen;
  uint64_t received = 0;
  const bool ok = GetStreamed(
      url,
      [&](const uint8_t* data, uint32_t length) {
        // One allocation of the announced size: growing by doubling would hold the old and the
        // new buffer at once, half again a large body's size.
        if (body.empty() && seen.hasContentLength && seen.contentLength <= maxBytes) {
          body.reserve(static_cast<size_t>(seen.contentLength));
        }
        body.append(reinterpret_cast<const char*>(data), length);
        return true;
      },
      received, error, maxBytes, cancel, &seen);
  if (info) *info = seen;
  return ok;
}

std::wstring AppendNoCache(const std::wstring& url) {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return AppendNoCacheStamp(url, (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}
