#include "net/http_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

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

constexpr DWORD kOperationCancelled = 12017;     // ERROR_WINHTTP_OPERATION_CANCELLED
constexpr DWORD kInvalidServerResponse = 12152;  // ERROR_WINHTTP_INVALID_SERVER_RESPONSE

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

  void Adopt(CallHelper& helper) {
    helper.Adopt(request_, id_, cancel_);
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
      watchdog.FailureText(id_, code, error);
      return false;
    }
    const bool stillActive = watchdog.EndBlockingCall(id_);
    if (ok && stillActive) return true;
    watchdog.FailureText(id_, code, error);
    return false;
  }

 private:
  HINTERNET request_;
  const std::atomic<bool>* cancel_;
  uint64_t id_;
  CallHelper* helper_ = nullptr;
  bool leftBehind_ = false;
};

bool HttpClient::CompatibilityFlag() { return g_compatibilityFlag.load(); }

HttpClient::HttpClient() { OpenSession(g_compatibilityFlag.load()); }

HttpClient::~HttpClient() {
  helper_.reset();
  CloseConnection();
  if (session_) WinHttpCloseHandle(session_);
}

void HttpClient::CloseConnection() {
  if (connection_) WinHttpCloseHandle(connection_);
  connection_ = nullptr;
  host_.clear();
  port_ = 0;
}

void HttpClient::OpenSession(bool compatibility) {
  CloseConnection();
  if (session_) WinHttpCloseHandle(session_);
  session_ = nullptr;
  compatibility_ = compatibility;
  if (!compatibility) {
    session_ = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
  }
  if (!session_) {
    session_ = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
  }
  if (!session_) return;
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
  if (!WinHttpSetOption(session_, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols))) {
    protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    WinHttpSetOption(session_, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
  }
  WinHttpSetTimeouts(session_, 15000, 15000, 30000, 30000);
  // Wine reads the response headers inside WinHttpSendRequest and bounds that read by this
  // option alone, which it leaves unlimited; the same 30 s keep the receive time-out true there.
  DWORD headersTimeout = 30000;
  WinHttpSetOption(session_, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headersTimeout, sizeof(headersTimeout));
  if (!compatibility) {
    DWORD http2 = WINHTTP_PROTOCOL_FLAG_HTTP2;
    WinHttpSetOption(session_, WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &http2, sizeof(http2));  // may be refused
  }
}

bool HttpClient::Perform(const wchar_t* verb, const std::wstring& url, const std::vector<std::wstring>& headers,
                         const void* body, uint32_t bodyLength, const HeaderCallback& onHeaders,
                         const DataCallback& onData, std::wstring& error, const std::atomic<bool>* cancel,
                         bool& reached, bool& leftBehind) {
  reached = false;
  leftBehind = false;
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

  if (!connection_ || host != host_ || parts.nPort != port_) {
    CloseConnection();
    connection_ = WinHttpConnect(session_, host.c_str(), parts.nPort, 0);
    if (!connection_) {
      error = NetworkErrorText(GetLastError());
      return false;
    }
    ++connectionsOpened_;
    host_ = host;
    port_ = parts.nPort;
  }

  HINTERNET raw = WinHttpOpenRequest(connection_, verb, object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                     WINHTTP_DEFAULT_ACCEPT_TYPES,
                                     parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
  if (!raw) {
    error = NetworkErrorText(GetLastError());
    return false;
  }
  WatchedRequestHandle request(raw, cancel);
  bool ok = false;
  try {
    ok = Exchange(request, headers, body, bodyLength, onHeaders, onData, error, cancel, reached);
  } catch (...) {
    if (!request.Release()) helper_.reset();
    throw;
  }
  if (!request.Release()) helper_.reset();
  leftBehind = request.LeftACallBehind();
  return ok;
}

bool HttpClient::Exchange(WatchedRequestHandle& request, const std::vector<std::wstring>& headers, const void* body,
                          uint32_t bodyLength, const HeaderCallback& onHeaders, const DataCallback& onData,
                          std::wstring& error, const std::atomic<bool>* cancel, bool& reached) {
  if (!helper_) helper_ = CallHelper::Start();
  if (!helper_) {
    error = kNoThreadText;
    return false;
  }
  for (const std::wstring& header : headers) {
    WinHttpAddRequestHeaders(request.Get(), header.c_str(), static_cast<DWORD>(header.size()),
                             WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
  }
  request.Adopt(*helper_);
  // The call owns what it touches besides the handle: a call left behind outlives this frame.
  // Sending and receiving are one hand-off to the helper, since a request makes both anyway.
  auto sent = std::make_shared<std::string>(static_cast<const char*>(body), bodyLength);
  auto info = std::make_shared<HttpResponseInfo>();
  auto sizesInRange = std::make_shared<bool>(false);
  if (!request.Blocking(error, [sent, info, sizesInRange](HINTERNET handle) {
        void* optional = sent->empty() ? WINHTTP_NO_REQUEST_DATA : &(*sent)[0];
        const DWORD length = static_cast<DWORD>(sent->size());
        if (!WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, optional, length, length, 0) ||
            !WinHttpReceiveResponse(handle, nullptr)) {
          return FALSE;
        }
        *sizesInRange = ReadResponseInfo(handle, *info);
        return TRUE;
      })) {
    return false;
  }
  reached = true;
  // A size no download can have would overflow the free-space sum and the size caps.
  if (!*sizesInRange) {
    RequestWatchdog::Instance().FailureText(request.Id(), kInvalidServerResponse, error);
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
      RequestWatchdog::Instance().FailureText(request.Id(), code, error);
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
  bool reached = false, leftBehind = false;
  if (Perform(verb, url, headers, body, bodyLength, onHeaders, onData, error, cancel, reached, leftBehind)) return true;
  if (!ShouldRetryInCompatibilityMode(reached, compatibility_, cancel && cancel->load(), leftBehind)) return false;
  OpenSession(true);
  error.clear();
  const bool ok = Perform(verb, url, headers, body, bodyLength, onHeaders, onData, error, cancel, reached, leftBehind);
  if (reached) {
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

bool HttpClient::GetString(const std::wstring& url, std::string& body, std::wstring& error, uint32_t maxBytes,
                           const std::atomic<bool>* cancel, HttpResponseInfo* info) {
  body.clear();
  if (info) *info = HttpResponseInfo();
  HttpResponseInfo seen;
  auto onHeaders = [&](const HttpResponseInfo& response) {
    seen = response;
    if (info) *info = response;
    if (response.status == 200) return true;
    error = ServerErrorText(response.status);
    return false;
  };
  auto onData = [&](const uint8_t* data, uint32_t length) {
    if (body.size() + length > maxBytes) {
      error = kResponseTooLargeText;
      return false;
    }
    body.append(reinterpret_cast<const char*>(data), length);
    return true;
  };
  if (!Get(url, {}, onHeaders, onData, error, cancel)) return false;
  if (seen.hasContentLength && seen.contentLength != body.size()) {
    error = IncompleteBodyText(body.size(), seen.contentLength);
    if (info) info->incomplete = true;
    return false;
  }
  return true;
}

std::wstring AppendNoCache(const std::wstring& url) {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return AppendNoCacheStamp(url, (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}
