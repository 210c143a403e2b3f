// A text handed over a few bytes at a time, as the launcher reads its lists and state files
// from disk: readers of pieces must give what they give for the whole text.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>

#include "manifest/manifest.h"

// Reads text in pieces of at most pieceBytes; holds text by reference.
inline std::function<size_t(char*, size_t)> ReadInPieces(const std::string& text, size_t pieceBytes) {
  size_t at = 0;
  return [&text, pieceBytes, at](char* buffer, size_t room) mutable {
    const size_t given = std::min({pieceBytes, room, text.size() - at});
    text.copy(buffer, given, at);
    at += given;
    return given;
  };
}

// Whether two server file lists, read from one text in different ways, are the same list.
inline bool SameClientList(const Manifest& a, const Manifest& b) {
  if (a.files.size() != b.files.size() || a.httpDownloadUrl != b.httpDownloadUrl || a.httpThreads != b.httpThreads ||
      a.httpDosThreshold != b.httpDosThreshold) {
    return false;
  }
  for (size_t i = 0; i < a.files.size(); ++i) {
    if (a.files[i].path != b.files[i].path || a.files[i].size != b.files[i].size || a.files[i].hash != b.files[i].hash) {
      return false;
    }
  }
  return true;
}
