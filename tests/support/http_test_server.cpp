#include "tests/support/http_test_server.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>

#include "base/files.h"
#include "base/text.h"

namespace testing_support {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// Blocking socket calls are not reliably interrupted by closing the socket from another
// thread, so every wait here is on the socket's event and on the server's stop event. The
// wait also gives up after a moment and lets the caller try again: Wine does not always
// signal an event for data that arrived around the time the socket was selected.
bool WaitFor(SOCKET socket, WSAEVENT event, HANDLE stop) {
  HANDLE handles[] = {event, stop};
  const DWORD result = WaitForMultipleObjects(2, handles, FALSE, 50);
  if (result == WAIT_OBJECT_0 + 1) return false;
  WSANETWORKEVENTS events;
  WSAEnumNetworkEvents(socket, event, &events);  // resets the event
  return true;
}

int ReceiveSome(SOCKET socket, WSAEVENT event, HANDLE stop, char* buffer, int size) {
  for (;;) {
    int got = recv(socket, buffer, size, 0);
    if (got >= 0) return got;
    if (WSAGetLastError() != WSAEWOULDBLOCK || !WaitFor(socket, event, stop)) return -1;
  }
}

bool SendAll(SOCKET socket, WSAEVENT event, HANDLE stop, const char* data, size_t size) {
  while (size > 0) {
    int sent = send(socket, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
    if (sent < 0) {
      if (WSAGetLastError() != WSAEWOULDBLOCK || !WaitFor(socket, event, stop)) return false;
      continue;
    }
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

struct WinsockUser {
  WinsockUser() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockUser() { WSACleanup(); }
};

}  // namespace

TestResponse StatusResponse(int status, const std::string& reason) {
  TestResponse response;
  response.status = status;
  response.reason = reason;
  return response;
}

TestResponse FileResponse(const std::wstring& root, const TestRequest& request) {
  TestResponse response;
  std::string path = request.target.substr(0, request.target.find('?'));
  std::string bytes;
  if (path.find("..") == std::string::npos &&
      ReadWholeFile(JoinPath(root, WideFromUtf8(path.empty() ? path : path.substr(1))), bytes)) {
    response.body = std::move(bytes);
  } else {
    response.status = 404;
    response.reason = "Not Found";
  }
  return response;
}

std::function<TestResponse(const TestRequest&)> FilesUnlessIntercepted(
    const std::wstring& root, const std::function<bool(const TestRequest&, TestResponse&)>& intercept) {
  return [&root, &intercept](const TestRequest& request) {
    TestResponse response;
    if (intercept && intercept(request, response)) return response;
    return FileResponse(root, request);
  };
}

std::string TestRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (Lower(key) == Lower(name)) return value;
  }
  return {};
}

HttpTestServer::HttpTestServer(Handler handler) : handler_(std::move(handler)) {
  static WinsockUser winsock;
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  listen(listener_, SOMAXCONN);
  int length = sizeof(address);
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  acceptEvent_ = WSACreateEvent();
  WSAEventSelect(listener_, acceptEvent_, FD_ACCEPT);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

HttpTestServer::~HttpTestServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  SetEvent(stop_);
  changed_.notify_all();
  acceptThread_.join();
  closesocket(listener_);
  WSACloseEvent(acceptEvent_);
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    threads.swap(connectionThreads_);
  }
  for (auto& thread : threads) thread.join();
  CloseHandle(stop_);
}

std::wstring HttpTestServer::Url(const std::string& path) const {
  return L"http://127.0.0.1:" + std::to_wstring(port_) + WideFromUtf8(path);
}

std::vector<TestRequest> HttpTestServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

int HttpTestServer::ConnectionCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

void HttpTestServer::WaitUntilStalled(int count) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this, count] { return stalled_ >= count || stopping_; });
}

void HttpTestServer::AcceptLoop() {
  for (;;) {
    SOCKET client = accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) {
      if (WSAGetLastError() != WSAEWOULDBLOCK || !WaitFor(listener_, acceptEvent_, stop_)) return;
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      closesocket(client);
      return;
    }
    const int connection = ++connections_;
    connectionThreads_.emplace_back([this, client, connection] { Serve(client, connection); });
  }
}

void HttpTestServer::Hold(SOCKET socket, WSAEVENT event) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++stalled_;
  }
  changed_.notify_all();
  // Held until the client gives up (its close arrives as end of stream) or the server stops.
  char scratch[4096];
  while (ReceiveSome(socket, event, stop_, scratch, sizeof(scratch)) > 0) {
  }
}

void HttpTestServer::Serve(SOCKET socket, int connection) {
  // Sockets accepted from an event-selected listener inherit its selection; take our own.
  WSAEVENT event = WSACreateEvent();
  WSAEventSelect(socket, event, FD_READ | FD_WRITE | FD_CLOSE);
  std::string buffer;
  char chunk[65536];
  bool open = true;
  while (open) {
    size_t headerEnd;
    while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
      int got = ReceiveSome(socket, event, stop_, chunk, sizeof(chunk));
      if (got <= 0) {
        open = false;
        break;
      }
      buffer.append(chunk, static_cast<size_t>(got));
    }
    if (!open) break;

    TestRequest request;
    request.connection = connection;
    const std::string head = buffer.substr(0, headerEnd);
    buffer.erase(0, headerEnd + 4);
    size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const size_t space1 = requestLine.find(' ');
    const size_t space2 = requestLine.find(' ', space1 + 1);
    request.method = requestLine.substr(0, space1);
    request.target = requestLine.substr(space1 + 1, space2 - space1 - 1);
    while (lineEnd != std::string::npos) {
      const size_t start = lineEnd + 2;
      lineEnd = head.find("\r\n", start);
      const std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
      const size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      request.headers.emplace_back(line.substr(0, colon), value);
    }
    const size_t bodyLength = std::strtoul(request.Header("Content-Length").c_str(), nullptr, 10);
    if (bodyLength > 0 && bodyDelayMs_ > 0 && WaitForSingleObject(stop_, bodyDelayMs_) == WAIT_OBJECT_0) break;
    while (buffer.size() < bodyLength) {
      int got = ReceiveSome(socket, event, stop_, chunk, sizeof(chunk));
      if (got <= 0) break;
      buffer.append(chunk, static_cast<size_t>(got));
    }
    request.body = buffer.substr(0, bodyLength);
    buffer.erase(0, std::min(bodyLength, buffer.size()));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }

    TestResponse response = handler_(request);
    if (response.stallBeforeHeaders) {
      Hold(socket, event);
      break;
    }
    std::string head_out = "HTTP/1.1 " + std::to_string(response.status) + " " + response.reason + "\r\n";
    bool hasLength = false;
    for (const auto& [key, value] : response.headers) {
      head_out += key + ": " + value + "\r\n";
      if (Lower(key) == "content-length") hasLength = true;
    }
    if (response.sendContentLength && !hasLength) head_out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    if (response.closeConnection) head_out += "Connection: close\r\n";
    head_out += "\r\n";
    if (response.delayBeforeHeadersMs > 0 && WaitForSingleObject(stop_, response.delayBeforeHeadersMs) == WAIT_OBJECT_0) break;
    if (response.headByteIntervalMs > 0) {
      bool stopped = false;
      for (size_t i = 0; i < head_out.size() && !stopped; ++i) {
        stopped = !SendAll(socket, event, stop_, head_out.data() + i, 1) ||
                  WaitForSingleObject(stop_, response.headByteIntervalMs) == WAIT_OBJECT_0;
      }
      if (stopped) break;
    } else if (!SendAll(socket, event, stop_, head_out.data(), head_out.size())) {
      break;
    }
    if (request.method == "HEAD") continue;

    size_t sent = 0;
    size_t pieceIndex = 0;
    const size_t total = response.body.size();
    bool stalled = false, cut = false;
    while (sent < total) {
      size_t piece = pieceIndex < response.pieces.size() ? response.pieces[pieceIndex++] : total - sent;
      piece = std::min(piece, total - sent);
      const size_t limit = std::min(response.stallAfterBodyBytes, response.closeAfterBodyBytes);
      if (limit != std::string::npos && sent + piece > limit) piece = limit - sent;
      if (piece > 0 && !SendAll(socket, event, stop_, response.body.data() + sent, piece)) break;
      sent += piece;
      if (response.afterPiece) response.afterPiece(sent);
      if (sent == response.stallAfterBodyBytes) { stalled = true; break; }
      if (sent == response.closeAfterBodyBytes) { cut = true; break; }
    }
    if (stalled) {
      Hold(socket, event);
      break;
    }
    if (response.endlessBody) {
      const std::string filler(65536, 'z');
      while (SendAll(socket, event, stop_, filler.data(), filler.size())) {
      }
      break;
    }
    if (cut || response.closeConnection || (!response.sendContentLength && !hasLength)) break;
  }
  shutdown(socket, SD_BOTH);
  closesocket(socket);
  WSACloseEvent(event);
}

}  // namespace testing_support
