// A large game file without a chunk list, fetched so that a run cut short continues where it
// stopped: its gzip object is downloaded with Range and If-Range (net/resumable_download.h) into
// the chunk store, <state folder>\chunks\<file sha256>\whole.gz, and inflated from there into
// the scratch folder, verified against the manifest entry and only then moved into place.
#pragma once

#include <cstdint>
#include <string>

#include "manifest/manifest.h"
#include "sync/object_download.h"

inline constexpr uint64_t kResumableObjectSize = 16777216;  // 16 MiB of gzip object

// Whether the whole object of a file is fetched this way.
bool WantsResumableObject(const DownloadRun& run, const ManifestFile& entry);

// One attempt, as DownloadObject. Bytes a server sent for another version, or that do not
// inflate to the file, are dropped so that the next attempt starts again from zero.
bool DownloadResumableObject(const DownloadRun& run, const ManifestFile& entry, uint32_t index, std::wstring& message);
