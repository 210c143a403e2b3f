#include "sync/chunked_download.h"

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <unordered_map>

#include "base/files.h"
#include "base/format.h"
#include "base/gzip_inflater.h"
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

std::wstring StagingPath(const ChunkedFile& file) { return JoinPath(file.store, L"file.part"); }
std::wstring JournalPath(const ChunkedFile& file) { return JoinPath(file.store, L"verified.txt"); }

// Chunks an earlier run recorded as verified in the staging file, each read and hashed again:
// after a power cut the journal may name bytes that never reached the disk.
void FindStagedChunks(ChunkedFile& file) {
  std::string journal;
  const uint64_t limit = file.list.chunks.size() * 90ull + 1;  // "<offset> <64 hex>\n" per chunk
  if (FileSizeOf(JournalPath(file)) > limit || !ReadWholeFile(JournalPath(file), journal)) return;
  std::unordered_map<uint64_t, size_t> byOffset;
  for (size_t i = 0; i < file.list.chunks.size(); ++i) byOffset.emplace(file.list.chunks[i].offset, i);
  UniqueHandle staging(CreateFileW(LongPath(StagingPath(file)).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
  if (!staging.Valid()) return;
  std::vector<unsigned char> buffer(kChunkMax);
  size_t at = 0;
  // A line cut off by a kill has no line end and counts for nothing.
  for (size_t end = journal.find('\n'); end != std::string::npos; at = end + 1, end = journal.find('\n', at)) {
    const std::string line = journal.substr(at, end - at);
    const size_t space = line.find(' ');
    if (space == std::string::npos || space == 0 || space > 11) continue;
    const auto found = byOffset.find(std::strtoull(line.c_str(), nullptr, 10));
    if (found == byOffset.end() || file.staged[found->second]) continue;
    const ChunkEntry& chunk = file.list.chunks[found->second];
    if (line.compare(space + 1, std::string::npos, chunk.sha256) != 0) continue;
    if (!ReadAt(staging.Get(), chunk.offset, buffer.data(), chunk.size)) continue;
    Hasher hasher(kHashSha256);
    hasher.Update(buffer.data(), chunk.size);
    if (hasher.FinishHex() == chunk.sha256) file.staged[found->second] = 1;
  }
}

// Feeds the whole file's digest with the chunks staged in order after those it has; a worker
// that finds another at it leaves the work to that one (or to the assembly).
void AdvanceWholeHash(ChunkedFile& file, HANDLE staging, std::vector<unsigned char>& buffer) {
  std::unique_lock<std::mutex> hashing(file.hashLock, std::try_to_lock);
  if (!hashing) return;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(file.journalLock);
      if (file.hashedChunks >= file.list.chunks.size() || !file.staged[file.hashedChunks]) return;
    }
    const ChunkEntry& chunk = file.list.chunks[file.hashedChunks];
    buffer.resize(std::max<size_t>(buffer.size(), chunk.size));
    if (!ReadAt(staging, chunk.offset, buffer.data(), chunk.size)) return;
    file.wholeHash->Update(buffer.data(), chunk.size);
    ++file.hashedChunks;
  }
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
  file.staged.assign(file.list.chunks.size(), 0);
  file.wholeHash = std::make_unique<Hasher>(kHashSha256);
  FindLocalChunks(run, file);
  file.store = JoinPath(run.chunkStoreFolder, WideFromUtf8(entry.hash.str()));
  FindStagedChunks(file);
  // The staging file has the file's size from the start: a chunk is written at its offset.
  CreateDirectoryTree(file.store);
  UniqueHandle staging(CreateFileW(LongPath(StagingPath(file)).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  size.QuadPart = static_cast<LONGLONG>(entry.size);
  if (!staging.Valid() || !SetFilePointerEx(staging.Get(), size, nullptr, FILE_BEGIN) || !SetEndOfFile(staging.Get())) {
    LogWholeObjectFallback(entry, L"no room for the chunks");
    return false;
  }
  std::unordered_map<std::string, bool> wanted;  // one fetch per distinct hash
  for (size_t i = 0; i < file.list.chunks.size(); ++i) {
    if (file.staged[i] || file.localOffset[i] >= 0) wanted.emplace(file.list.chunks[i].sha256, true);
  }
  for (size_t i = 0; i < file.list.chunks.size(); ++i) {
    const ChunkEntry& chunk = file.list.chunks[i];
    if (!wanted.emplace(chunk.sha256, true).second) continue;
    file.missing.push_back(i);
    file.missingBytes += chunk.size;
  }
  return true;
}

bool FetchChunk(const DownloadRun& run, const ChunkTask& task, HttpClient& client, std::wstring& message) {
  ChunkedFile& file = *task.file;
  const ChunkEntry& chunk = file.list.chunks[task.chunk];
  message.clear();
  UniqueHandle staging(CreateFileW(LongPath(StagingPath(file)).c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(chunk.offset);
  GzipInflater inflater;
  if (!staging.Valid() || !SetFilePointerEx(staging.Get(), at, nullptr, FILE_BEGIN) || !inflater.Ready()) {
    message = WithSystemError(L"Geçici dosya oluşturulamadı", GetLastError());
    return false;
  }
  Hasher hasher(kHashSha256);
  uint64_t received = 0, written = 0;
  const GzipInflater::Sink writeOut = HashedFileWrites(staging.Get(), chunk.size, hasher, written, message);
  const std::wstring path = WideFromUtf8(file.entry->path);
  const bool ok = client.Get(
      GameObjectUrl(run.contentBaseUrl, chunk.sha256), {},
      [&](const HttpResponseInfo& info) {
        if (info.status == 200) return true;
        message = L"Dosya indirilemedi (HTTP " + DecimalText(static_cast<unsigned long long>(info.status)) + L"): " + path;
        return false;
      },
      [&](const uint8_t* data, uint32_t length) {
        received += length;
        if (received > chunk.size + chunk.size / 64 + 65536) return false;
        if (run.progress) run.progress->AddDownloaded(length);
        return inflater.Finished() || inflater.Feed(data, length, writeOut);
      },
      message, run.cancel);
  if (!ok || !inflater.Finished() || written != chunk.size || hasher.FinishHex() != chunk.sha256) {
    if (message.empty()) message = L"İndirilen dosya doğrulanamadı: " + path;
    if (run.progress) run.progress->TakeBackDownloaded(received);
    return false;
  }
  {
    const std::string line = std::to_string(chunk.offset) + " " + chunk.sha256 + "\n";
    std::lock_guard<std::mutex> lock(file.journalLock);
    file.staged[task.chunk] = 1;
    UniqueHandle journal(CreateFileW(LongPath(JournalPath(file)).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    uint32_t code = 0;
    if (journal.Valid()) WriteAll(journal.Get(), line.data(), line.size(), code);
  }
  EndAtSyncKillPoint(L"chunk-stored");
  std::vector<unsigned char> buffer;
  AdvanceWholeHash(file, staging.Get(), buffer);
  return true;
}

bool AssembleChunkedFile(const DownloadRun& run, ChunkedFile& file, std::wstring& message) {
  const ManifestFile& entry = *file.entry;
  const std::wstring path = WideFromUtf8(entry.path);
  const std::wstring destination = JoinPath(run.rootFolder, path);
  const std::wstring staging = StagingPath(file);
  UniqueHandle copy(CreateFileW(LongPath(destination).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr));
  UniqueHandle out(CreateFileW(LongPath(staging).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.Valid()) {
    message = WithSystemError(L"Geçici dosya oluşturulamadı", GetLastError());
    return false;
  }
  // Where each hash is staged now, for the repeats of a chunk fetched once.
  std::unordered_map<std::string, uint64_t> staged;
  for (size_t i = 0; i < file.list.chunks.size(); ++i) {
    if (file.staged[i]) staged.emplace(file.list.chunks[i].sha256, file.list.chunks[i].offset);
  }
  std::vector<unsigned char> buffer(kChunkMax);
  bool wrongBytes = false;
  for (size_t i = 0; i < file.list.chunks.size() && message.empty() && !wrongBytes; ++i) {
    const ChunkEntry& chunk = file.list.chunks[i];
    if (file.staged[i]) continue;
    const auto repeat = staged.find(chunk.sha256);
    // A chunk gone from the player's copy since the plan: the bytes are not there.
    if (file.localOffset[i] >= 0 && copy.Valid()) {
      wrongBytes = !ReadAt(copy.Get(), static_cast<uint64_t>(file.localOffset[i]), buffer.data(), chunk.size);
    } else {
      wrongBytes = repeat == staged.end() || !ReadAt(out.Get(), repeat->second, buffer.data(), chunk.size);
    }
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(chunk.offset);
    uint32_t code = 0;
    if (!wrongBytes && (!SetFilePointerEx(out.Get(), at, nullptr, FILE_BEGIN) ||
                        !WriteAll(out.Get(), buffer.data(), chunk.size, code))) {
      message = WithSystemError(L"Diske yazılamadı", code ? code : GetLastError());
    }
  }
  copy.Reset();
  if (message.empty() && !wrongBytes) {
    // The signed hash decides, over the file as it will be moved in: the rest of it after what
    // the workers digested as the chunks came.
    std::lock_guard<std::mutex> hashing(file.hashLock);
    uint64_t offset = file.hashedChunks < file.list.chunks.size() ? file.list.chunks[file.hashedChunks].offset : entry.size;
    while (offset < entry.size && !wrongBytes) {
      const size_t length = static_cast<size_t>(std::min<uint64_t>(buffer.size(), entry.size - offset));
      wrongBytes = !ReadAt(out.Get(), offset, buffer.data(), length);
      file.wholeHash->Update(buffer.data(), length);
      offset += length;
    }
    wrongBytes = wrongBytes || file.wholeHash->FinishHex() != entry.hash.str();
  }
  EndAtSyncKillPoint(L"chunks-assembled");
  if (message.empty() && !wrongBytes && !FlushFileBuffers(out.Get())) {
    message = WithSystemError(L"Diske yazılamadı", GetLastError());
  }
  out.Reset();
  if (wrongBytes) {
    // A list or a store that gave other bytes is not trusted again.
    LogWholeObjectFallback(entry, L"chunks did not make the file");
    DeleteTree(file.store);
    message = L"İndirilen dosya doğrulanamadı: " + path;
  }
  if (!message.empty()) return false;
  if (!MoveIntoPlace(staging, destination, path, message)) return false;
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
