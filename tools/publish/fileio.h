// File helpers of the publishing tool, portable between Linux and Windows. Paths are UTF-8
// text at the interfaces; on Windows they become wide paths only here.
#pragma once

#include <filesystem>
#include <string>

namespace publish {

std::filesystem::path PathFromUtf8(const std::string& text);
std::string Utf8FromPath(const std::filesystem::path& path);

bool IsValidUtf8(const std::string& text);

bool ReadFileBytes(const std::filesystem::path& path, std::string& bytes, std::string& error);

// Writes a temporary file beside the target, flushes it to disk and renames it over the
// target, so that readers see the old file or the whole new one. Creates missing parents.
bool WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes, std::string& error);

// Creates a new file that only its owner may read (0600 on POSIX, an owner-only ACL on
// Windows); fails when the file already exists.
bool CreateOwnerOnlyFile(const std::filesystem::path& path, const std::string& bytes, std::string& error);

// Flushes a finished file's bytes to the disk (before it is renamed into place).
bool FlushFileToDisk(const std::filesystem::path& path, std::string& error);

// Moves a finished temporary file to its name and makes the rename itself durable (write-through
// on Windows, the folder flushed on POSIX); false when the move fails (the temporary file is
// removed in every case).
bool RenameInto(const std::filesystem::path& temp, const std::filesystem::path& target, std::string& error);

// A name for a temporary file beside path, unique to this process.
std::filesystem::path TemporaryNameFor(const std::filesystem::path& path);

}  // namespace publish
