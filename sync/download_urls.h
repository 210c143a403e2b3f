// Where a file of a synchronisation run is fetched from. Portable.
#pragma once

#include <string>

// content base + "/game/objects/" + first two hex digits + "/" + hash + ".gz"
std::wstring GameObjectUrl(const std::wstring& contentBaseUrl, const std::string& sha256);

// server base + "/" + percent-encoded path + "?v=" + first 16 characters of the MD5 text
std::wstring ServerFileUrl(const std::wstring& downloadBaseUrl, const std::string& urlPath, const std::string& md5);

// Keeps A-Z a-z 0-9 - . / _ ~ and writes every other byte of the UTF-8 text as %XX.
std::string PercentEncodePath(const std::string& utf8);
