#include "sync/resumable_object.h"

#include <windows.h>

#include <vector>

#include "base/files.h"
#include "base/format.h"
#include "base/gzip_inflater.h"
#include "base/handles.h"
#include "base/text.h"
#include "net/resumable_download.h"
#include "sync/chunked_download.h"
#include "sync/download_urls.h"
#include "sync/sync_kill_points.h"

bool WantsResumableObject(const DownloadRun& run, const ManifestFile& entry) {
  return WantsChunks(run, entry) && entry.zsize > kResumableObjectSize;
}

namespace {

// Inflates the object on disk into scratch, hashing as it goes; true when it gives the file.
bool InflateObject(const std::wstring& object, const std::wstring& scratch, const ManifestFile& entry,
                   const std::atomic<bool>* cancel, std::wstring& message, bool& wrongBytes) {
  wrongBytes = false;
  UniqueHandle in(CreateFileW(LongPath(object).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  UniqueHandle out(CreateFileW(LongPath(scratch).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!in.Valid() || !out.Valid()) {
    message = WithSystemError(L"Geçici dosya oluşturulamadı", GetLastError());
    return false;
  }
  GzipInflater inflater;
  Hasher hasher(kHashSha256);
  uint64_t written = 0;
  const GzipInflater::Sink sink = HashedFileWrites(out.Get(), entry.size, hasher, written, message);
  std::vector<uint8_t> buffer(kHashFileReadSize);
  bool fed = inflater.Ready();
  while (fed && !inflater.Finished()) {
    if (cancel && cancel->load()) return false;
    DWORD got = 0;
    if (!ReadFile(in.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      message = WithSystemError(L"Dosya okunamadı", GetLastError());
      return false;
    }
    if (got == 0) break;
    fed = inflater.Feed(buffer.data(), got, sink);
  }
  if (!message.empty()) return false;
  wrongBytes = !fed || !inflater.Finished() || written != entry.size || hasher.FinishHex() != entry.hash.str();
  if (!wrongBytes && !FlushFileBuffers(out.Get())) {
    message = WithSystemError(L"Diske yazılamadı", GetLastError());
    return false;
  }
  return !wrongBytes;
}

}  // namespace

bool DownloadResumableObject(const DownloadRun& run, const ManifestFile& entry, uint32_t index, std::wstring& message) {
  message.clear();
  const std::wstring path = WideFromUtf8(entry.path);
  const std::wstring store = JoinPath(run.chunkStoreFolder, WideFromUtf8(entry.hash.str()));
  const std::wstring object = JoinPath(store, L"whole.gz");
  if (!CreateDirectoryTree(store)) {
    message = L"Geçici klasör oluşturulamadı: " + store;
    return false;
  }
  if (!FileExists(object)) {
    ResumableDownload download;
    download.url = GameObjectUrl(run.contentBaseUrl, entry.hash.str());
    download.destinationFolder = run.rootFolder;
    download.cancel = run.cancel;
    download.spaceReserve = 0;  // the run checked the room for every file before it began
    download.freeSpace = [](const std::wstring&, uint64_t&) { return false; };
    download.onStarted = [&run](uint64_t, uint64_t done) {
      if (run.progress) run.progress->AddDownloaded(done);
    };
    download.onProgress = [&run](uint64_t bytes) {
      if (run.progress) run.progress->AddDownloaded(bytes);
      EndAtSyncKillPoint(L"object-part");
    };
    if (!download.Run(LongPath(object + L".part"), LongPath(object), message)) {
      message = L"Dosya indirilemedi: " + path + L" (" + message + L")";
      return false;
    }
  }
  const std::wstring scratch = JoinPath(run.scratchFolder, DecimalText(static_cast<long long>(index)) + L".part");
  bool wrongBytes = false;
  const bool inflated = InflateObject(object, scratch, entry, run.cancel, message, wrongBytes);
  if (!inflated) {
    DeleteFileRetrying(scratch);
    // Bytes that are not the file are not resumed from.
    if (wrongBytes) {
      DeleteTree(store);
      message = L"İndirilen dosya doğrulanamadı: " + path;
    }
    if (message.empty()) message = L"İndirme yarıda kesildi, tekrar dene";
    return false;
  }
  if (!MoveIntoPlace(scratch, JoinPath(run.rootFolder, path), path, message)) {
    DeleteFileRetrying(scratch);
    return false;
  }
  DeleteTree(store);
  return true;
}
