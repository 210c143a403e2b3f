// Throughput of HttpClient::Get against a loopback server, beside the same transfer read
// with a plain Winsock client in the same run, so that the client's own cost shows.
//   http_download_bench [megabytes]   (default 1024)
#include <winsock2.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "net/http_client.h"

namespace {

// Serves every request on its connection with `total` bytes of filler, keep-alive.
class StreamingServer {
 public:
  explicit StreamingServer(uint64_t total) : total_(total), chunk_(1 << 20, 'x') {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(listener_, 4);
    int length = sizeof(address);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~StreamingServer() {
    closesocket(listener_);
    thread_.join();
  }
  unsigned short Port() const { return port_; }

 private:
  void Run() {
    for (int served = 0; served < 3; ++served) {  // one connection per client below
      SOCKET s = accept(listener_, nullptr, nullptr);
      if (s == INVALID_SOCKET) return;
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        int got = recv(s, buffer, sizeof(buffer), 0);
        if (got <= 0) break;
        request.append(buffer, got);
      }
      const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(total_) + "\r\n\r\n";
      send(s, head.data(), static_cast<int>(head.size()), 0);
      uint64_t left = total_;
      while (left > 0) {
        const int piece = static_cast<int>(left < chunk_.size() ? left : chunk_.size());
        const int sent = send(s, chunk_.data(), piece, 0);
        if (sent <= 0) break;
        left -= static_cast<uint64_t>(sent);
      }
      shutdown(s, SD_SEND);
      while (recv(s, buffer, sizeof(buffer), 0) > 0) {
      }
      closesocket(s);
    }
  }

  uint64_t total_;
  std::string chunk_;
  SOCKET listener_;
  unsigned short port_ = 0;
  std::thread thread_;
};

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

uint64_t PlainWinsockDownload(unsigned short port, uint64_t total) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return 0;
  const std::string request = "GET /blob HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  send(s, request.data(), static_cast<int>(request.size()), 0);
  std::vector<char> buffer(262144);
  std::string head;
  uint64_t body = 0;
  bool inBody = false;
  for (;;) {
    int got = recv(s, buffer.data(), static_cast<int>(buffer.size()), 0);
    if (got <= 0) break;
    if (!inBody) {
      head.append(buffer.data(), got);
      size_t end = head.find("\r\n\r\n");
      if (end == std::string::npos) continue;
      inBody = true;
      body += head.size() - end - 4;
    } else {
      body += static_cast<uint64_t>(got);
    }
    if (body >= total) break;
  }
  closesocket(s);
  return body;
}

// The same transfer through bare WinHTTP calls: what the platform costs without our client.
uint64_t BareWinHttpDownload(unsigned short port) {
  HINTERNET session = WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = WinHttpConnect(session, L"127.0.0.1", port, 0);
  HINTERNET request = WinHttpOpenRequest(connection, L"GET", L"/blob", nullptr, nullptr, nullptr, 0);
  uint64_t body = 0;
  if (WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) && WinHttpReceiveResponse(request, nullptr)) {
    std::vector<uint8_t> buffer(262144);
    DWORD read = 0;
    while (WinHttpReadData(request, buffer.data(), static_cast<DWORD>(buffer.size()), &read) && read > 0) body += read;
  }
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  return body;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const uint64_t total = megabytes << 20;
  StreamingServer server(total);
  const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(server.Port()) + L"/blob";

  auto start = std::chrono::steady_clock::now();
  const uint64_t plain = PlainWinsockDownload(server.Port(), total);
  const double plainSeconds = Seconds(start);

  start = std::chrono::steady_clock::now();
  const uint64_t bare = BareWinHttpDownload(server.Port());
  const double bareSeconds = Seconds(start);

  uint64_t received = 0;
  std::wstring error;
  start = std::chrono::steady_clock::now();
  HttpClient client;
  const bool ok = client.Get(url, {}, nullptr,
                             [&](const uint8_t*, uint32_t length) {
                               received += length;
                               return true;
                             },
                             error);
  const double clientSeconds = Seconds(start);

  std::printf("body %llu MiB\n", static_cast<unsigned long long>(megabytes));
  std::printf("plain winsock   %8.1f MB/s (%llu bytes)\n", plain / plainSeconds / 1e6,
              static_cast<unsigned long long>(plain));
  std::printf("bare WinHTTP     %8.1f MB/s (%llu bytes)\n", bare / bareSeconds / 1e6,
              static_cast<unsigned long long>(bare));
  std::printf("HttpClient::Get %8.1f MB/s (%llu bytes)%s\n", received / clientSeconds / 1e6,
              static_cast<unsigned long long>(received), ok ? "" : " FAILED");
  return ok && received == total && plain == total && bare == total ? 0 : 1;
}
