#include "system/uninstall.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "base/files.h"
#include "base/format.h"
#include "base/text.h"
#include "base/version.h"
#include "manifest/installed_state.h"
#include "manifest/rules.h"
#include "system/install.h"

namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

// A drive root such as D:\ already ends in its separator; any other folder gets one.
std::wstring WithSeparator(const std::wstring& folder) {
  return !folder.empty() && folder.back() == L'\\' ? folder : folder + L"\\";
}

// Paths under the install folder that the core never touches, relative and lower-cased.
class Protection {
 public:
  Protection(const std::wstring& root, const std::wstring& gtaFolder)
      : prefix_(WithSeparator(root)), longPrefix_(WithSeparator(LongPathName(root))) {
    paths_ = {Lower(kLauncherExeName), L"gta-sa", L".talvoreen\\gta", L"talvoreen\\screenshots"};
    AddIfInside(gtaFolder);
    AddIfInside(GetModulePath());
  }

  // relative: lower-case path relative to the root.
  bool Covers(const std::wstring& relative) const {
    for (const std::wstring& p : paths_) {
      if (relative == p || relative.rfind(p + L"\\", 0) == 0) return true;
    }
    return false;
  }

  std::wstring Relative(const std::wstring& full) const {
    return Inside(full) ? Lower(full.substr(prefix_.size())) : std::wstring();
  }

 private:
  bool Inside(const std::wstring& full) const {
    return full.size() > prefix_.size() && EqualsIgnoreCase(full.substr(0, prefix_.size()), prefix_);
  }

  // Compared in long names: the folder or the path may be given in 8.3 form. The relative
  // part is then in long names too, as the folder's listing gives them.
  void AddIfInside(const std::wstring& path) {
    if (path.empty()) return;
    const std::wstring full = LongPathName(NormalizePath(path));
    if (full.size() > longPrefix_.size() && EqualsIgnoreCase(full.substr(0, longPrefix_.size()), longPrefix_)) {
      paths_.push_back(Lower(full.substr(longPrefix_.size())));
    }
  }

  std::wstring prefix_, longPrefix_;
  std::vector<std::wstring> paths_;
};

// What one removal keeps across its files: the first failure and the waits it may still spend.
struct FirstFailure {
  std::wstring path;
  DWORD code = 0;
  RetryBudget budget;
  void Note(const std::wstring& p, DWORD c) {
    if (path.empty()) {
      path = p;
      code = c;
    }
  }
};

bool DeleteFileCounted(const std::wstring& path, std::atomic<unsigned>& count, FirstFailure& failure) {
  SetFileAttributesW(LongPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileRetrying(path, &failure.budget) && EntryGone(path)) {
    ++count;
    return true;
  }
  failure.Note(path, GetLastError());
  return false;
}

// Removes a folder except what the protection covers; folders still holding protected
// entries stay. Links are removed as links, never entered.
void RemoveProtectedTree(const std::wstring& folder, const Protection& protection, std::atomic<unsigned>& count,
                         FirstFailure& failure) {
  std::vector<std::wstring> kept;
  const TreeListing listing = ListTree(folder, [&protection, &kept](const std::wstring& child) {
    if (!protection.Covers(protection.Relative(child))) return false;
    kept.push_back(child);
    return true;
  });
  bool allDeleted = true;
  for (const std::wstring& file : listing.files) allDeleted = DeleteFileCounted(file, count, failure) && allDeleted;
  // A junction goes as a link; what it points to stays. Folders that still hold protected
  // entries cannot be removed and stay too: only the others are worth a wait for a brief hold.
  for (const std::wstring& link : listing.folderLinks) RemoveDirectoryRetrying(link, &failure.budget);
  for (const std::wstring& f : listing.folders) {
    SetFileAttributesW(LongPath(f).c_str(), FILE_ATTRIBUTE_NORMAL);
    bool holdsKept = false;
    for (const std::wstring& k : kept) holdsKept = holdsKept || (k.size() > f.size() && k.compare(0, f.size() + 1, f + L"\\") == 0);
    if (allDeleted && !holdsKept) {
      RemoveDirectoryRetrying(f, &failure.budget);
    } else {
      RemoveDirectoryW(LongPath(f).c_str());
    }
  }
}

void AddName(std::vector<std::wstring>& names, const std::wstring& name) {
  if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
}

// Lower-case top-level names of the game files: the fixed ones, the first component of every
// file the state lists, and what an earlier uninstall's marker recorded.
std::vector<std::wstring> GameEntryNames(const std::wstring& root) {
  std::vector<std::wstring> names = {L"talvoreen.exe", L"talvoreen", L"mods", L"skins"};
  if (const auto state = ReadInstalledState(JoinPath(JoinPath(root, kStateFolder), kInstalledStateFile))) {
    for (const InstalledFile& file : state->files) {
      const std::string path = file.path;
      if (!IsSafeRelativePath(path)) continue;
      AddName(names, Lower(WideFromUtf8(path.substr(0, path.find_first_of("/\\")))));
    }
  }
  std::string marker;
  if (ReadWholeFile(JoinPath(root, kUninstallMarkerName), marker)) {
    size_t start = 0;
    while (start < marker.size()) {
      size_t end = marker.find('\n', start);
      if (end == std::string::npos) end = marker.size();
      const std::string name = marker.substr(start, end - start);
      // Only single safe names: the marker is a file anyone could have edited.
      if (IsSafeRelativePath(name) && name.find_first_of("/\\") == std::string::npos) {
        AddName(names, Lower(WideFromUtf8(name)));
      }
      start = end + 1;
    }
  }
  return names;
}

}  // namespace

bool HasUninstallMarker(const std::wstring& installDir) {
  return !installDir.empty() && FileExists(JoinPath(installDir, kUninstallMarkerName));
}

bool WriteUninstallMarker(const std::wstring& installDir, std::wstring& error) {
  std::string lines;
  for (const std::wstring& name : GameEntryNames(installDir)) lines += Utf8FromWide(name) + "\n";
  return WriteFileAtomic(JoinPath(installDir, kUninstallMarkerName), lines, error);
}

bool HoldsInstallation(const std::wstring& installDir) {
  if (installDir.empty()) return false;
  if (IsInstallFolder(installDir) || HasUninstallMarker(installDir)) return true;
  // At a drive root "TALVOREEN" is as likely an installation folder itself, D:\Talvoreen
  // (names are case-blind), as the data folder of an installation at the root.
  return !IsRootOrDriveRelativeFolder(installDir) && DirectoryExists(JoinPath(installDir, L"TALVOREEN"));
}

bool UninstallCore(const std::wstring& installDir, const std::wstring& gtaFolder, std::atomic<unsigned>& count,
                   std::wstring& error) {
  if (!HoldsInstallation(installDir)) {
    error = kNoInstallationText;
    return false;
  }
  const std::wstring root = NormalizePath(installDir);
  const std::wstring stateFolder = JoinPath(root, kStateFolder);

  const std::vector<std::wstring> names = GameEntryNames(root);

  const Protection protection(root, gtaFolder);
  FirstFailure failure;
  for (const std::wstring& name : names) {
    if (name == L".talvoreen" || name == Lower(kUninstallMarkerName) || protection.Covers(name)) continue;
    const std::wstring path = JoinPath(root, name);
    bool link = false;
    const DWORD attributes = EntryAttributes(path, link);
    if (attributes == INVALID_FILE_ATTRIBUTES || link) continue;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveProtectedTree(path, protection, count, failure);
    } else {
      DeleteFileCounted(path, count, failure);
    }
  }

  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(JoinPath(stateFolder, L"*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      const std::wstring lower = Lower(name);
      if (name == L"." || name == L".." || lower == L"gta") continue;
      const std::wstring path = JoinPath(stateFolder, name);
      const bool isFolder = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
      const bool serverState = lower.rfind(L"server-", 0) == 0 && lower.size() >= 12 &&
                               lower.compare(lower.size() - 5, 5, L".json") == 0;
      if (!isFolder && (lower == L"installed.json" || serverState)) {
        DeleteFileCounted(path, count, failure);
      } else if (isFolder && !IsLinkEntry(data.dwFileAttributes, data.dwReserved0) && lower.rfind(L"download", 0) == 0) {
        RemoveProtectedTree(path, protection, count, failure);
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }

  if (failure.path.empty()) return true;
  error = WithSystemError(L"Bazı dosyalar silinemedi", failure.path, failure.code);
  return false;
}
