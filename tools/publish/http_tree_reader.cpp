// The HTTP(S) reader of verify URL: libcurl on Linux, one connection per worker thread kept
// open between requests. The Windows build has no HTTP client of its own and says so.
#include "tools/publish/tree_reader.h"

#ifdef _WIN32

namespace publish {

std::unique_ptr<TreeReader> MakeHttpReader(const std::string&, std::string& error) {
  error = "verify URL is not supported on this build of talvoreen-publish; run the Linux build, or download the tree "
          "and run verify CDN_ROOT";
  return nullptr;
}

}  // namespace publish

#else

#include <curl/curl.h>

#include <mutex>

namespace publish {

namespace {

constexpr long kConnectSeconds = 20;
// A transfer slower than this many bytes a second for kStallSeconds is given up.
constexpr long kStallBytesPerSecond = 1;
constexpr long kStallSeconds = 60;
constexpr int kAttempts = 3;

struct EasyRelease {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};

// One handle per thread, so that its connection is reused by the thread's next request.
CURL* ThreadHandle() {
  thread_local std::unique_ptr<CURL, EasyRelease> easy;
  if (!easy) {
    easy.reset(curl_easy_init());
  } else {
    curl_easy_reset(easy.get());
  }
  return easy.get();
}

struct Transfer {
  const TreeReader::Sink* sink = nullptr;
  bool stopped = false;
};

size_t WriteToSink(char* data, size_t size, size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const size_t bytes = size * count;
  if (!(*transfer->sink)(data, bytes)) {
    transfer->stopped = true;
    return 0;  // ends the transfer with CURLE_WRITE_ERROR
  }
  return bytes;
}

class HttpReader : public TreeReader {
 public:
  explicit HttpReader(std::string base) : base_(std::move(base)) {
    while (!base_.empty() && base_.back() == '/') base_.pop_back();
  }

  Result ReadAll(const std::string& relative, uint64_t maxBytes, std::string& bytes, std::string& error) override {
    bool tooLarge = false;
    const Sink sink = [&](const char* data, size_t size) {
      if (bytes.size() + size > maxBytes) return !(tooLarge = true);
      bytes.append(data, size);
      return true;
    };
    uint64_t streamed = 0;
    Result result = Result::Failed;
    for (int attempt = 0; attempt < kAttempts && result == Result::Failed && !tooLarge; ++attempt) {
      bytes.clear();
      result = Get(relative, sink, streamed, error);
    }
    if (tooLarge) {
      error = relative + " has more than the " + std::to_string(maxBytes) + " bytes allowed";
      return Result::Failed;
    }
    return result;
  }

  Result SizeOf(const std::string& relative, uint64_t& size, std::string& error) override {
    Result result = Result::Failed;
    for (int attempt = 0; attempt < kAttempts && result == Result::Failed; ++attempt) {
      result = Head(relative, size, error);
    }
    return result;
  }

  Result Stream(const std::string& relative, const Sink& sink, uint64_t& streamed, std::string& error) override {
    // Not retried: the sink has seen the bytes of the first attempt.
    return Get(relative, sink, streamed, error);
  }

 private:
  std::string Url(const std::string& relative) const { return base_ + "/" + relative; }

  void Prepare(CURL* easy, const std::string& url) const {
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kStallBytesPerSecond);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    // Objects are gzip files served as they are; a server must not compress them again.
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, nullptr);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "talvoreen-publish verify");
  }

  // Missing for 404 and 410, Failed for any other status but 2xx.
  static Result Settle(CURL* easy, CURLcode code, const std::string& relative, const char* detail,
                       std::string& error) {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK) {
      error = "cannot fetch " + relative + ": " + (detail[0] ? detail : curl_easy_strerror(code));
      return Result::Failed;
    }
    if (status == 404 || status == 410) return Result::Missing;
    if (status < 200 || status > 299) {
      error = "cannot fetch " + relative + ": HTTP " + std::to_string(status);
      return Result::Failed;
    }
    return Result::Found;
  }

  Result Get(const std::string& relative, const Sink& sink, uint64_t& streamed, std::string& error) const {
    streamed = 0;
    CURL* easy = ThreadHandle();
    if (!easy) {
      error = "cannot start libcurl";
      return Result::Failed;
    }
    Prepare(easy, Url(relative));
    // The body of an error status is not the file: it never reaches the sink.
    const Sink guarded = [&](const char* data, size_t size) {
      long status = 0;
      curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
      if (status < 200 || status > 299) return true;
      streamed += size;
      return sink(data, size);
    };
    Transfer transfer;
    transfer.sink = &guarded;
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, WriteToSink);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    char detail[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, detail);
    const CURLcode code = curl_easy_perform(easy);
    if (transfer.stopped && code == CURLE_WRITE_ERROR) return Result::Found;
    return Settle(easy, code, relative, detail, error);
  }

  // HEAD, or a one-byte Range when the server gives no length to a HEAD.
  Result Head(const std::string& relative, uint64_t& size, std::string& error) const {
    CURL* easy = ThreadHandle();
    if (!easy) {
      error = "cannot start libcurl";
      return Result::Failed;
    }
    Prepare(easy, Url(relative));
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    char detail[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, detail);
    const Result result = Settle(easy, curl_easy_perform(easy), relative, detail, error);
    if (result != Result::Found) return result;
    curl_off_t length = -1;
    curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length >= 0) {
      size = static_cast<uint64_t>(length);
      return Result::Found;
    }
    return RangeProbe(relative, size, error);
  }

  Result RangeProbe(const std::string& relative, uint64_t& size, std::string& error) const {
    std::string contentRange;
    CURL* easy = ThreadHandle();
    Prepare(easy, Url(relative));
    curl_easy_setopt(easy, CURLOPT_RANGE, "0-0");
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, +[](char* data, size_t size, size_t count, void* context) {
      const std::string line(data, size * count);
      if (line.size() > 14 && AsciiPrefix(line, "content-range:")) *static_cast<std::string*>(context) = line;
      return size * count;
    });
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &contentRange);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t count, void*) { return size * count; });
    char detail[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, detail);
    const Result result = Settle(easy, curl_easy_perform(easy), relative, detail, error);
    if (result != Result::Found) return result;
    const size_t slash = contentRange.rfind('/');
    size = 0;
    bool digits = slash != std::string::npos;
    size_t i = digits ? slash + 1 : 0, count = 0;
    for (; digits && i < contentRange.size() && contentRange[i] >= '0' && contentRange[i] <= '9'; ++i, ++count) {
      size = size * 10 + static_cast<uint64_t>(contentRange[i] - '0');
    }
    if (!digits || count == 0 || count > 15) {
      error = "cannot learn the size of " + relative + ": the server gives no Content-Length and no Content-Range";
      return Result::Failed;
    }
    return Result::Found;
  }

  static bool AsciiPrefix(const std::string& line, const char* prefix) {
    for (size_t i = 0; prefix[i]; ++i) {
      if (i >= line.size() || (line[i] | 0x20) != prefix[i]) return false;
    }
    return true;
  }

  std::string base_;
};

}  // namespace

std::unique_ptr<TreeReader> MakeHttpReader(const std::string& baseUrl, std::string& error) {
  static std::once_flag started;
  static CURLcode global = CURLE_OK;
  std::call_once(started, [] { global = curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (global != CURLE_OK) {
    error = std::string("cannot start libcurl: ") + curl_easy_strerror(global);
    return nullptr;
  }
  return std::make_unique<HttpReader>(baseUrl);
}

}  // namespace publish

#endif
