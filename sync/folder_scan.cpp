#include "sync/folder_scan.h"

#include <windows.h>

#include <unordered_map>

#include "base/files.h"
#include "base/text.h"
#include "sync/download_workers.h"

namespace {

DiskFile FromFindData(const WIN32_FIND_DATAW& data) {
  DiskFile disk;
  disk.exists = true;
  disk.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  disk.mtime = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  return disk;
}

}  // namespace

std::vector<DiskFile> ReadDiskFiles(const std::wstring& root, const std::vector<ManifestFile>& files) {
  std::vector<DiskFile> disk(files.size());
  // Manifest indexes by folder (the path up to its last "/", as written), in first-seen order.
  std::unordered_map<std::string, std::vector<size_t>> byFolder;
  std::vector<const std::string*> folders;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string path = files[i].path;
    const size_t slash = path.rfind('/');
    auto [it, added] = byFolder.try_emplace(slash == std::string::npos ? std::string() : path.substr(0, slash));
    if (added) folders.push_back(&it->first);
    it->second.push_back(i);
  }

  std::unordered_map<std::wstring, DiskFile> listed;
  for (const std::string* folderName : folders) {
    const std::vector<size_t>& members = byFolder[*folderName];
    const std::wstring folder = folderName->empty() ? root : JoinPath(root, WideFromUtf8(*folderName));
    listed.clear();
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW(LongPath(JoinPath(folder, L"*")).c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                   nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      // No such folder: none of its files exists, as a query of each would find.
      const bool absent = error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND || error == ERROR_DIRECTORY;
      for (size_t i : members) {
        if (!absent) disk[i] = ReadDiskFile(JoinPath(root, WideFromUtf8(files[i].path)));
      }
      continue;
    }
    do {
      // Folders are missing files; links are asked for on their own below, so that the
      // answer is the query's whatever the link points at.
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsLinkEntry(data.dwFileAttributes, data.dwReserved0)) {
        continue;
      }
      listed.emplace(data.cFileName, FromFindData(data));
    } while (FindNextFileW(find, &data));
    FindClose(find);

    const size_t nameStart = folderName->empty() ? 0 : folderName->size() + 1;
    for (size_t i : members) {
      const std::string path = files[i].path;
      const auto hit = listed.find(WideFromUtf8(path.substr(nameStart)));
      disk[i] = hit != listed.end() ? hit->second : ReadDiskFile(JoinPath(root, WideFromUtf8(path)));
    }
  }
  return disk;
}
