// A small HTTP/1.1 server on 127.0.0.1 inside the test process, scripted per test.
// Each connection has its own thread and serves requests until either side closes, so
// keep-alive and connection reuse are visible in the record of requests.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testing_support {

struct TestRequest {
  std::string method;
  std::string target;  // path and query as sent (a full URL when sent to a proxy)
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  int connection = 0;  // 1 for the first accepted connection, 2 for the next ...

  std::string Header(const std::string& name) const;  // case-insensitive; empty when absent
};

struct TestResponse {
  int status = 200;
  std::string reason = "OK";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool sendContentLength = true;   // "Content-Length: body size" unless headers already name one
  std::vector<size_t> pieces;      // body sent in pieces of these sizes (the rest in one piece)
  size_t stallAfterBodyBytes = std::string::npos;  // stop sending after this many body bytes and hold
  bool stallBeforeHeaders = false;  // send nothing and hold
  unsigned delayBeforeHeadersMs = 0;  // wait this long before the status line
  unsigned headByteIntervalMs = 0;    // send the status line and headers a byte at a time, this far apart
  size_t closeAfterBodyBytes = std::string::npos;  // close the connection after this many body bytes
  bool closeConnection = false;    // close after this response
  bool endlessBody = false;        // after the body, more bytes without end until the client goes
  std::function<void(size_t sent)> afterPiece;  // runs on the server thread after each piece
};

// A response with only a status line and no body.
TestResponse StatusResponse(int status, const std::string& reason = "X");

// The file under root named by the request's path (query ignored), or 404.
TestResponse FileResponse(const std::wstring& root, const TestRequest& request);

// A handler serving the files under root, where `intercept` does not answer a request itself.
// Both are read at each request, by reference: members of the test that it sets as it goes.
std::function<TestResponse(const TestRequest&)> FilesUnlessIntercepted(
    const std::wstring& root, const std::function<bool(const TestRequest&, TestResponse&)>& intercept);

class HttpTestServer {
 public:
  using Handler = std::function<TestResponse(const TestRequest&)>;

  explicit HttpTestServer(Handler handler);
  ~HttpTestServer();  // releases stalls, closes every connection and joins every thread

  unsigned short Port() const { return port_; }
  std::wstring Url(const std::string& path) const;  // http://127.0.0.1:port + path

  std::vector<TestRequest> Requests();
  int ConnectionCount();

  // Blocks until the server has held count stalled responses (or the server stops).
  void WaitUntilStalled(int count = 1);

  // From now on the server waits ms after a request's headers before it reads the request's
  // body: a large body then blocks its sender meanwhile.
  void DelayReadingBodies(unsigned ms) { bodyDelayMs_ = ms; }

 private:
  void AcceptLoop();
  void Serve(SOCKET socket, int connection);
  void Hold(SOCKET socket, WSAEVENT event);

  Handler handler_;
  SOCKET listener_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  std::thread acceptThread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::thread> connectionThreads_;
  HANDLE stop_ = nullptr;
  WSAEVENT acceptEvent_ = nullptr;
  std::vector<TestRequest> requests_;
  int connections_ = 0;
  int stalled_ = 0;
  bool stopping_ = false;
  std::atomic<unsigned> bodyDelayMs_{0};
};

}  // namespace testing_support
