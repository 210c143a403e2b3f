// Synchronous HTTP(S) over WinHTTP. A request blocks the calling thread until the body has
// been read or the request failed; failures come back as Turkish texts, never as exceptions.
// One client per thread: it keeps one connection open while host and port stay the same.
// The WinHTTP calls themselves run on a helper thread that owns the request handle
// (net/call_helper.h), so that a request ends at the watchdog's verdict even where closing a
// handle does not abort the call, and the body is read ahead while the caller consumes it.
// A client whose helper was left behind in a call starts no other helper until that call
// returns: its requests fail at once meanwhile, so a host that never answers holds one
// thread per client, not one per request.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct HttpResponseInfo {
  uint32_t status = 0;
  bool hasContentLength = false;
  uint64_t contentLength = 0;
  std::wstring etag;          // as received, quotes and "W/" included
  std::wstring lastModified;
  std::wstring contentRange;
  uint64_t date = 0;          // Date header as FILETIME; 0 when absent
  uint32_t keepAliveMax = 0;
  std::wstring contentType;
  std::wstring remoteAddress;  // empty when the platform does not report it
  bool incomplete = false;     // GetString only: the body length differed from Content-Length
};

// Called once when the headers are in; false stops the request (it then fails).
using HeaderCallback = std::function<bool(const HttpResponseInfo&)>;
// Called for each piece of body in order; false stops the request (it then fails).
using DataCallback = std::function<bool(const uint8_t* data, uint32_t length)>;

class CallHelper;
class WatchedRequestHandle;
struct InternetHandle;
struct BrowserProxy;

class HttpClient {
 public:
  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Whole body into memory; 200 only, at most maxBytes.
  bool GetString(const std::wstring& url, std::string& body, std::wstring& error, uint32_t maxBytes,
                 const std::atomic<bool>* cancel = nullptr, HttpResponseInfo* info = nullptr);

  // GetString's rules with the body handed to onData as it arrives instead of being kept (a list
  // of tens of megabytes); received counts it. onData returning false fails the request (it sets
  // error). info, when given, is filled before the first byte arrives.
  bool GetStreamed(const std::wstring& url, const DataCallback& onData, uint64_t& received, std::wstring& error,
                   uint32_t maxBytes, const std::atomic<bool>* cancel = nullptr, HttpResponseInfo* info = nullptr);

  bool Get(const std::wstring& url, const std::vector<std::wstring>& headers, const HeaderCallback& onHeaders,
           const DataCallback& onData, std::wstring& error, const std::atomic<bool>* cancel = nullptr);

  bool Request(const wchar_t* verb, const std::wstring& url, const std::vector<std::wstring>& headers,
               const void* body, uint32_t bodyLength, const HeaderCallback& onHeaders, const DataCallback& onData,
               std::wstring& error, const std::atomic<bool>* cancel = nullptr);

  bool InCompatibilityMode() const { return compatibility_; }
  // How many connections this client has opened (reuse shows as no increase).
  uint32_t ConnectionsOpened() const { return connectionsOpened_; }

  // Once a conservative retry reached a server the normal configuration could not, every
  // client created afterwards starts conservative.
  static bool CompatibilityFlag();

  // WinHTTP sessions not closed yet in the process: a client's own, and those a helper left
  // behind still holds (for tests).
  static uint32_t SessionsOpen();
  // For tests: sessions opened from now on act as on a Windows without automatic proxy
  // detection (before 8.1), which falls back to the browser's proxy settings.
  static void ActAsWithoutAutomaticProxy();

 private:
  // Why an attempt failed, for the decision on the conservative retry.
  struct Attempt {
    bool reached = false;     // the server answered
    bool leftBehind = false;  // a call of it did not return before the verdict
    bool refused = false;     // no helper could be had for it
  };
  void OpenSession(bool compatibility);
  void CloseConnection();
  bool EnsureHelper(std::wstring& error, bool besideStuckHelpers);
  void FinishRequest(WatchedRequestHandle& request);
  bool Perform(const wchar_t* verb, const std::wstring& url, const std::vector<std::wstring>& headers,
               const void* body, uint32_t bodyLength, const HeaderCallback& onHeaders, const DataCallback& onData,
               std::wstring& error, const std::atomic<bool>* cancel, bool retry, Attempt& attempt);
  bool Exchange(WatchedRequestHandle& request, const std::wstring& url, const std::vector<std::wstring>& headers,
                const void* body, uint32_t bodyLength, const HeaderCallback& onHeaders, const DataCallback& onData,
                std::wstring& error, const std::atomic<bool>* cancel, bool& reached);

  std::unique_ptr<CallHelper> helper_;
  // Helpers this client left behind whose calls may not have returned yet: the first try's
  // and its conservative retry's.
  std::unique_ptr<CallHelper> stuck_[2];
  bool compatibility_ = false;
  // Shared with a helper left behind on a request that depends on them.
  std::shared_ptr<InternetHandle> session_;
  std::shared_ptr<InternetHandle> connection_;
  // Set when the session falls back to the browser's proxy settings; what they chose for
  // the connection's host once asked.
  std::shared_ptr<BrowserProxy> browserProxy_;
  std::wstring host_;
  uint16_t port_ = 0;
  uint32_t connectionsOpened_ = 0;
};

// url + "?nocache=" (or "&nocache=") + the current time as a FILETIME number.
std::wstring AppendNoCache(const std::wstring& url);
