// Sizes and times of many files under one root, read with one directory listing per folder
// instead of one query per file: under Wine each query converts and looks up the whole path
// again, while a listing walks the folder once.
#pragma once

#include <string>
#include <vector>

#include "manifest/manifest.h"
#include "sync/sync_plan.h"

// disk[i] describes root joined with files[i].path and equals what ReadDiskFile reports for
// that path: a folder or a missing file is missing. Names are matched as listed; a name the
// listing does not show exactly (another case, a link, a folder that cannot be listed) is
// asked for on its own, so only a folder that does not exist answers for all its files.
std::vector<DiskFile> ReadDiskFiles(const std::wstring& root, const std::vector<ManifestFile>& files);
