#include "sync/chunked_download.h"

#include <windows.h>

#include <chrono>
#include <unordered_map>

#include "base/files.h"
#include "base/format.h"
#include "base/handles.h"
#include "base/log.h"
#include "base/text.h"
#include "manifest/hashing.h"
#include "net/http_client.h"
#include "sync/download_urls.h"
#include "sync/sync_kill_points.h"

namespace {

constexpr size_t kReadBlock = 1048576;

std::wstring ChunkUrl(const DownloadRun& run, const std::string& fileSha256) {
  return run.contentBaseUrl + L"/" + WideFromUtf8(ChunkListPath(fileSha256));
}

uint64_t FileSizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (!GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &info)) return UINT64_MAX;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return UINT64_MAX;
  return (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

// Reads length bytes at offset of file; false on any short read.
bool ReadAt(HANDLE file, uint64_t offset, unsigned char* buffer, size_t length) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return false;
  while (length > 0) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, static_cast<DWORD>(std::min<size_t>(length, kReadBlock)), &got, nullptr) || got == 0) {
      return false;
    }
    buffer += got;
    length -= got;
  }
  return true;
}

// Cuts the player's copy and notes where it holds each chunk of the list. A copy that cannot be
// read gives nothing: every chunk is then fetched.
void FindLocalChunks(const DownloadRun& run, ChunkedFile& file) {
  const std::wstring path = JoinPath(run.rootFolder, WideFromUtf8(file.entry->path));
  UniqueHandle copy(CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!copy.Valid()) return;
  ChunkHasher hasher;
  std::vector<unsigned char> buffer(kReadBlock);
  for (;;) {
    if (run.cancel && run.cancel->load()) return;
    DWORD got = 0;
    if (!ReadFile(copy.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return;
    if (got == 0) break;
    hasher.Update(buffer.data(), got);
  }
  hasher.Finish();
  std::unordered_map<std::string, uint64_t> held;
  for (const ChunkEntry& chunk : hasher.Chunks()) held.emplace(chunk.sha256, chunk.offset);
  for (size_t i = 0; i < file.list.chunks.size(); ++i) {
    const auto found = held.find(file.list.chunks[i].sha256);
    if (found != held.end()) file.localOffset[i] = static_cast<int64_t>(found->second);
  }
}

// A chunk an earlier run stored, read again: after a power cut it may hold other bytes.
bool StoredChunkHolds(const std::wstring& path, const ChunkEntry& chunk) {
  if (FileSizeOf(path) != chunk.size) return false;
  UniqueHandle stored(CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  std::vector<unsigned char> buffer(chunk.size);
  if (!stored.Valid() || !ReadAt(stored.Get(), 0, buffer.data(), chunk.size)) return false;
  Hasher hasher(kHashSha256);
  hasher.Update(buffer.data(), chunk.size);
  return hasher.FinishHex() == chunk.sha256;
}

}  // namespace

void LogWholeObjectFallback(const ManifestFile& entry, const std::wstring& why) {
  LogLine(L"[game] " + WideFromUtf8(entry.path) + L": " + why + L"; the whole object is fetched");
}

bool WantsChunks(const DownloadRun& run, const ManifestFile& entry) {
  return !run.chunkStoreFolder.empty() && !entry.serverFile && entry.size >= kChunkMinFileSize;
}

bool PlanChunkedFile(const DownloadRun& run, HttpClient& client, ChunkedFile& file) {
  const ManifestFile& entry = *file.entry;
  std::string body;
  std::wstring error;
  HttpResponseInfo info;
  if (!client.GetString(ChunkUrl(run, entry.hash.str()), body, error, static_cast<uint32_t>(kMaxChunkListBytes),
                        run.cancel, &info)) {
    LogWholeObjectFallback(entry, info.status == 404 ? std::wstring(L"no chunk list") : L"chunk list not fetched: " + error);
    return false;
  }
  if (!ParseChunkList(body, file.list, error)) {
    LogWholeObjectFallback(entry, L"chunk list refused");
    return false;
  }
  if (file.list.size != entry.size || file.list.sha256 != entry.hash.str()) {
    LogWholeObjectFallback(entry, L"chunk list of another file");
    return false;
  }
  file.localOffset.assign(file.list.chunks.size(), -1);
  FindLocalChunks(run, file);
  file.store = JoinPath(run.chunkStoreFolder, WideFromUtf8(entry.hash.str()));
  std::unordered_map<std::string, bool> wanted;  // one fetch per distinct hash
  for (size_t i = 0; i < file.list.chunks.size(); ++i) {
    const ChunkEntry& chunk = file.list.chunks[i];
    if (file.localOffset[i] >= 0 || !wanted.emplace(chunk.sha256, true).second) continue;
    if (StoredChunkHolds(JoinPath(file.store, WideFromUtf8(chunk.sha256)), chunk)) continue;
    file.missing.push_back(i);
    file.missingBytes += chunk.size;
  }
  return true;
}

bool FetchChunk(const DownloadRun& run, const ChunkTask& task, uint32_t scratchIndex, HttpClient& client,
                std::wstring& message) {
  const ChunkEntry& chunk = task.file->list.chunks[task.chunk];
  DownloadRun into = run;
  into.rootFolder = task.file->store;
  into.flush = false;
  ManifestFile object;
  object.path = chunk.sha256;
  object.hash = chunk.sha256;
  object.size = object.zsize = chunk.size;
  bool unavailable = false;
  if (!DownloadObject(into, object, scratchIndex, client, message, unavailable)) return false;
  EndAtSyncKillPoint(L"chunk-stored");
  return true;
}

bool AssembleChunkedFile(const DownloadRun& run, ChunkedFile& file, std::wstring& message) {
  const ManifestFile& entry = *file.entry;
  const std::wstring path = WideFromUtf8(entry.path);
  const std::wstring destination = JoinPath(run.rootFolder, path);
  const std::wstring scratch = JoinPath(run.scratchFolder, DecimalText(static_cast<long long>(file.index)) + L".part");
  UniqueHandle copy(CreateFileW(LongPath(destination).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr));
  UniqueHandle out(CreateFileW(LongPath(scratch).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.Valid()) {
    message = WithSystemError(L"Geçici dosya oluşturulamadı", GetLastError());
    return false;
  }
  Hasher hasher(kHashSha256);
  std::vector<unsigned char> buffer(kChunkMax);
  bool wrongBytes = false;
  for (size_t i = 0; i < file.list.chunks.size() && message.empty() && !wrongBytes; ++i) {
    const ChunkEntry& chunk = file.list.chunks[i];
    bool read = false;
    if (file.localOffset[i] >= 0 && copy.Valid()) {
      read = ReadAt(copy.Get(), static_cast<uint64_t>(file.localOffset[i]), buffer.data(), chunk.size);
    } else {
      const std::wstring stored = JoinPath(file.store, WideFromUtf8(chunk.sha256));
      UniqueHandle source(CreateFileW(LongPath(stored).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      0, nullptr));
      read = source.Valid() && FileSizeOf(stored) == chunk.size && ReadAt(source.Get(), 0, buffer.data(), chunk.size);
    }
    // A chunk gone from the player's copy or the store since the plan: the bytes are not there.
    if (!read) {
      wrongBytes = true;
      break;
    }
    hasher.Update(buffer.data(), chunk.size);
    uint32_t code = 0;
    if (!WriteAll(out.Get(), buffer.data(), chunk.size, code)) message = WithSystemError(L"Diske yazılamadı", code);
  }
  copy.Reset();
  EndAtSyncKillPoint(L"chunks-assembled");
  if (message.empty() && !wrongBytes && hasher.FinishHex() != entry.hash.str()) wrongBytes = true;
  if (message.empty() && !wrongBytes && !FlushFileBuffers(out.Get())) {
    message = WithSystemError(L"Diske yazılamadı", GetLastError());
  }
  out.Reset();
  if (wrongBytes) {
    // The signed hash decides: a list or a store that gave other bytes is not trusted again.
    LogWholeObjectFallback(entry, L"chunks did not make the file");
    DeleteTree(file.store);
    message = L"İndirilen dosya doğrulanamadı: " + path;
  }
  if (!message.empty()) {
    DeleteFileRetrying(scratch);
    return false;
  }
  CreateDirectoryTree(ParentPath(destination));
  SetFileAttributesW(LongPath(destination).c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!MoveFileRetrying(scratch, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    message = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION
                  ? L"Dosya başka bir program tarafından kullanılıyor: " + path
                  : WithSystemError(L"Dosya yerine konamadı", error);
    DeleteFileRetrying(scratch);
    return false;
  }
  DeleteTree(file.store);
  return true;
}

void PruneChunkStore(const std::wstring& storeFolder, const std::vector<ManifestFile>& toDownload) {
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW(LongPath(JoinPath(storeFolder, L"*")).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  std::unordered_map<std::wstring, bool> wanted;
  for (const ManifestFile& entry : toDownload) {
    if (!entry.serverFile) wanted.emplace(WideFromUtf8(entry.hash.str()), true);
  }
  std::vector<std::wstring> stale;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L".." && !wanted.count(name)) stale.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  for (const std::wstring& name : stale) {
    const std::wstring path = JoinPath(storeFolder, name);
    DeleteTree(path);
    if (FileExists(path)) DeleteFileRetrying(path);
  }
}

void ChunkQueue::BeginPlanning() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++planning_;
}

ChunkedFile* ChunkQueue::EndPlanning(std::unique_ptr<ChunkedFile> file) {
  ChunkedFile* kept = file.get();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --planning_;
    if (file) {
      file->remaining = file->missing.size();
      for (size_t chunk : file->missing) tasks_.push_back(ChunkTask{kept, chunk});
      files_.push_back(std::move(file));
    }
  }
  changed_.notify_all();
  return kept;
}

bool ChunkQueue::Take(ChunkTask& task) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (tasks_.empty()) return false;
  task = tasks_.front();
  tasks_.pop_front();
  return true;
}

bool ChunkQueue::WaitForTasks(const std::atomic<bool>& stop, const std::atomic<bool>* cancel) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (tasks_.empty() && planning_ > 0 && !stop && !(cancel && cancel->load())) {
    changed_.wait_for(lock, std::chrono::milliseconds(200));
  }
  return !tasks_.empty();
}
