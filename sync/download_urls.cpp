#include "sync/download_urls.h"

#include "base/text.h"

std::wstring GameObjectUrl(const std::wstring& contentBaseUrl, const std::string& sha256) {
  return contentBaseUrl + L"/game/objects/" + WideFromUtf8(sha256.substr(0, 2)) + L"/" + WideFromUtf8(sha256) + L".gz";
}

std::string PercentEncodePath(const std::string& utf8) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : utf8) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '/' || c == '_' || c == '~';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::wstring ServerFileUrl(const std::wstring& downloadBaseUrl, const std::string& urlPath, const std::string& md5) {
  return downloadBaseUrl + L"/" + WideFromUtf8(PercentEncodePath(urlPath)) + L"?v=" + WideFromUtf8(md5.substr(0, 16));
}
