#include "sync/path_obstacles.h"

#include <windows.h>

#include <atomic>
#include <unordered_set>

#include "base/files.h"
#include "base/text.h"

namespace {

constexpr wchar_t kPlayerFolderInTheWay[] =
    L"Bir dosyanın yerinde senin dosyalarını içeren bir klasör var; onu taşıyıp tekrar dene: ";
constexpr wchar_t kPlayerFileInTheWay[] = L"Bir klasörün yerinde senin bir dosyan var; onu taşıyıp tekrar dene: ";
constexpr wchar_t kCannotClear[] = L"Eski sürümden kalan dosya kaldırılamadı: ";

// The path of full below root, with "/" separators, in UTF-8.
std::string RelativeUtf8(const std::wstring& root, const std::wstring& full) {
  const bool separated = !root.empty() && (root.back() == L'\\' || root.back() == L'/');
  std::wstring relative = full.substr(root.size() + (separated ? 0 : 1));
  for (wchar_t& c : relative) {
    if (c == L'\\') c = L'/';
  }
  return Utf8FromWide(relative);
}

bool RemoveOwnedFolder(const std::wstring& root, const std::wstring& folder,
                       const std::function<bool(const std::string&)>& owned, std::wstring& error) {
  const TreeListing listing = ListTree(folder);
  bool ours = listing.folderLinks.empty();
  for (const std::wstring& file : listing.files) ours = ours && owned(RelativeUtf8(root, file));
  if (!ours) {
    error = kPlayerFolderInTheWay + folder;
    return false;
  }
  std::atomic<unsigned> count{0};
  std::wstring failure;
  RemoveTree(folder, count, failure);
  if (GetFileAttributesW(LongPath(folder).c_str()) != INVALID_FILE_ATTRIBUTES) {
    error = kCannotClear + (failure.empty() ? folder : failure);
    return false;
  }
  return true;
}

bool RemoveOwnedFile(const std::wstring& root, const std::wstring& file,
                     const std::function<bool(const std::string&)>& owned, std::wstring& error) {
  if (!owned(RelativeUtf8(root, file))) {
    error = kPlayerFileInTheWay + file;
    return false;
  }
  std::atomic<unsigned> count{0};
  std::wstring failure;
  DeleteEntry(file, count, failure);
  if (!failure.empty()) {
    error = kCannotClear + failure;
    return false;
  }
  return true;
}

}  // namespace

bool ClearWayForDownloads(const std::wstring& root, const std::vector<ManifestFile>& downloads,
                          const std::function<bool(const std::string&)>& owned, std::wstring& error) {
  // Folders already seen to be real folders; most downloads share them.
  std::unordered_set<std::wstring> folders;
  for (const ManifestFile& entry : downloads) {
    const std::wstring relative = WideFromUtf8(entry.path);
    bool parentsExist = true;
    for (size_t slash = relative.find(L'/'); slash != std::wstring::npos; slash = relative.find(L'/', slash + 1)) {
      const std::wstring folder = JoinPath(root, relative.substr(0, slash));
      if (folders.count(folder)) continue;
      const DWORD attributes = GetFileAttributesW(LongPath(folder).c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        parentsExist = false;
        break;
      }
      if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        folders.insert(folder);
        continue;
      }
      if (!RemoveOwnedFile(root, folder, owned, error)) return false;
      parentsExist = false;
      break;
    }
    if (!parentsExist) continue;
    const std::wstring target = JoinPath(root, relative);
    bool link = false;
    const DWORD attributes = EntryAttributes(target, link);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    if (link) {
      error = kPlayerFolderInTheWay + target;
      return false;
    }
    if (!RemoveOwnedFolder(root, target, owned, error)) return false;
  }
  return true;
}
