// A text handed over a few bytes at a time, as the launcher reads its lists and state files
// from disk: readers of pieces must give what they give for the whole text.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>

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
