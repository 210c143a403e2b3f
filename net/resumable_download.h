// Downloads one URL into a file so that an interrupted transfer continues where it stopped,
// and a file that changed on the server is never stitched together from two versions.
// Beside the destination D: D.part (bytes so far) and D.part.validator (the remote version).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "net/resume_rules.h"

struct ResumableDownload {
  std::wstring url;
  std::wstring destinationFolder;  // whose volume must hold the download
  const std::atomic<bool>* cancel = nullptr;
  std::function<void(uint64_t total, uint64_t done)> onStarted;  // a response is being written
  std::function<void(uint64_t bytes)> onProgress;
  // Free bytes for the caller on the volume of a folder; false when unknown. Tests inject it.
  std::function<bool(const std::wstring& folder, uint64_t& available)> freeSpace;
  // Free bytes asked for beyond the rest of the download (the GTA archive's room to unpack).
  uint64_t spaceReserve = kDownloadSpaceReserve;

  // On failure fills error (never empty).
  bool Run(const std::wstring& partPath, const std::wstring& finalPath, std::wstring& error) const;
};

// Free bytes available to the caller on the volume of folder (or of its nearest existing
// parent; "X:" is asked as "X:\").
bool FreeSpaceForFolder(const std::wstring& folder, uint64_t& available);
