// Between two builds a path can change shape: a file becomes a folder of the same name, or a
// folder becomes a file. Before the downloads start, the run clears what stands where a file
// to download or one of its folders must go, when that is the launcher's own; anything of the
// player's stops the run instead, and nothing of it is deleted.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "manifest/manifest.h"

// owned answers for a path relative to root ("/" separators, UTF-8) whether the launcher may
// remove the file there. A folder at a download's path goes when every file under it is owned
// (links inside it are the player's); a file where a folder is needed goes when it is owned.
// False with a Turkish text naming the full path when something of the player's is in the way
// or an owned obstacle cannot be removed.
bool ClearWayForDownloads(const std::wstring& root, const std::vector<ManifestFile>& downloads,
                          const std::function<bool(const std::string&)>& owned, std::wstring& error);
