// A game server's list of client files ("client-files.json" on its HTTP port), read into the
// same Manifest record as the game manifest. Pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "manifest/installed_state.h"
#include "manifest/manifest.h"
#include "manifest/rules.h"

inline constexpr size_t kMaxClientFiles = 200000;
inline constexpr uint32_t kMaxHttpThreads = 1000;
inline constexpr uint32_t kMaxHttpDosThreshold = 100000;
inline constexpr size_t kMaxDownloadUrlBytes = 2048;  // accepted lengths are below this
inline constexpr char kServerBuild[] = "server";
inline constexpr wchar_t kClientFilesUnreadableText[] = L"Sunucunun dosya listesi okunamadı";

// Every accepted file becomes one entry of the server's state file (local paths pass
// IsSafeRelativePath, hashes are MD5 texts), so the largest list accepted must leave a state
// file the reader takes, with a fifth to spare.
static_assert(kStateFrameBytes + sizeof kServerBuild + kMaxClientFiles * StateEntryBytesAtMost(kMaxSafePathBytes, 32) <=
                  kMaxStateFileBytes / 5 * 4,
              "the state of the largest client-files list must fit the state limit with room to spare");

// The rule for "httpDownloadUrl": shorter than 2048 bytes, "http://" or "https://" followed by
// a host (not by "/"), none of space, tab, CR, LF, " < > \ ? #. On success `accepted` is the
// URL without trailing "/". The publishing tool applies the same rule, so it never writes a
// URL that is ignored here.
bool AcceptHttpDownloadUrl(const std::string& url, std::string& accepted);

// Each listed file becomes a ManifestFile with path "resources/<name>/<path>" (fetched by
// "<name>/<path>", serverFile set), size and zsize from "size" and the MD5 in lower case. Files and resources
// that break a rule are skipped; the document fails only when it is not an object with "schema"
// 1 and a "resources" array, or when it lists more than 200,000 accepted files. build is
// "server" and required false. On failure `out` is untouched.
bool ParseClientFiles(const std::string& body, Manifest& out, std::wstring& error);
// The same over a list read in pieces, so that a list of tens of megabytes is never held as
// text: read fills the buffer it is given and returns how many bytes it gave, 0 at the end.
bool ParseClientFiles(const std::function<size_t(char*, size_t)>& read, Manifest& out, std::wstring& error);
