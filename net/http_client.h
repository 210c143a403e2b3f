// Synchronous HTTP(S) over WinHTTP. A request blocks the calling thread until the body has
// been read or the request failed; failures come back as Turkish texts, never as exceptions.
// One client per thread: it keeps one connection open while host and port stay the same.
// The WinHTTP calls themselves run on a helper thread that owns the request handle
// (net/call_helper.h), so that a request ends at the watchdog's verdict even where closing a
// handle does not abort the call, and the body is read ahead while the caller consumes it.
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

class HttpClient {
 public:
  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Whole body into memory; 200 only, at most maxBytes.
  bool GetString(const std::wstring& url, std::string& body, std::wstring& error, uint32_t maxBytes,
                 const std::atomic<bool>* cancel = nullptr, HttpResponseInfo* info = nullptr);

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

 private:
  void OpenSession(bool compatibility);
  void CloseConnection();
  bool Perform(const wchar_t* verb, const std::wstring& url, const std::vector<std::wstring>& headers,
               const void* body, uint32_t bodyLength, const HeaderCallback& onHeaders, const DataCallback& onData,
               std::wstring& error, const std::atomic<bool>* cancel, bool& reached, bool& leftBehind);
  bool Exchange(WatchedRequestHandle& request, const std::vector<std::wstring>& headers, const void* body,
                uint32_t bodyLength, const HeaderCallback& onHeaders, const DataCallback& onData,
                std::wstring& error, const std::atomic<bool>* cancel, bool& reached);

  std::unique_ptr<CallHelper> helper_;  // replaced after a call was left behind
  bool compatibility_ = false;
  HINTERNET session_ = nullptr;
  HINTERNET connection_ = nullptr;
  std::wstring host_;
  uint16_t port_ = 0;
  uint32_t connectionsOpened_ = 0;
};

// url + "?nocache=" (or "&nocache=") + the current time as a FILETIME number.
std::wstring AppendNoCache(const std::wstring& url);
