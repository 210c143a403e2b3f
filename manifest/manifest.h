// Game and launcher manifests: the records and their parsers. The parsers take
// the signed envelope, verify it and accept only the exact expected shape.
// Pure functions; on failure the output record is left untouched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/compact_string.h"

inline constexpr uint64_t kMaxGameFileSize = 8589934592ull;    // 8 GiB, size and zsize
inline constexpr uint64_t kMaxLauncherFileSize = 67108864ull;  // 64 MiB
inline constexpr uint64_t kMaxManifestBytes = 33554432ull;     // body limit of the game manifest
inline constexpr char kGameProduct[] = "Talvoreen";
inline constexpr char kLauncherProduct[] = "TalvoreenLauncher";
inline constexpr wchar_t kManifestIncompatibleText[] = L"Bu güncelleme bu launcher sürümüyle uyumlu değil";
inline constexpr wchar_t kManifestUnreadableText[] = L"Güncelleme bilgisi okunamadı";
inline constexpr wchar_t kLauncherManifestUnreadableText[] = L"Launcher güncelleme bilgisi okunamadı";

struct ManifestFile {
  CompactString path;  // UTF-8, "/" separators, as written in the manifest
  CompactString hash;  // lower-case hex: SHA-256 for game files, MD5 for server files
  uint64_t size = 0;
  uint64_t zsize = 0;       // bytes to download
  bool keep = false;        // user-owned once installed
  bool serverFile = false;  // fetched as it is by ServerUrlPath, not as a gzip object by hash
};

// A game server's files live under this folder and are fetched by their path below it. Not
// stored with each file: the largest list has 200,000 of them.
inline constexpr char kServerFilesFolder[] = "resources/";
inline std::string ServerUrlPath(const ManifestFile& file) {
  constexpr size_t prefix = sizeof kServerFilesFolder - 1;
  std::string path = file.path.str();
  return path.compare(0, prefix, kServerFilesFolder) == 0 ? path.substr(prefix) : path;
}

struct Manifest {
  std::string channel;
  std::string build;  // never empty after a successful parse
  std::string created;
  std::string minLauncherVersion;
  bool required = true;
  uint64_t totalSize = 0;
  std::vector<ManifestFile> files;
  std::string httpDownloadUrl;  // server file lists only
  uint32_t httpThreads = 0;
  uint32_t httpDosThreshold = 0;
};

struct LauncherManifest {
  std::string version;  // never empty after a successful parse
  ManifestFile file;
};

// Envelope in, record out; error gets the Turkish text of the first failure.
bool ParseGameManifest(const std::string& envelope, Manifest& out, std::wstring& error);
bool ParseLauncherManifest(const std::string& envelope, LauncherManifest& out, std::wstring& error);

// The same rules applied to a manifest document that has already been verified (the
// envelope's decoded payload). Used by the parsers above and by the publishing tool.
bool ParseGameManifestDocument(const std::string& document, Manifest& out, std::wstring& error);
bool ParseLauncherManifestDocument(const std::string& document, LauncherManifest& out, std::wstring& error);
