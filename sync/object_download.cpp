#include "sync/object_download.h"

#include <windows.h>

#include "base/files.h"
#include "base/format.h"
#include "base/gzip_inflater.h"
#include "base/handles.h"
#include "base/text.h"
#include "net/http_client.h"
#include "sync/download_urls.h"

void DownloadProgress::AddDownloaded(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  counts_.bytesDownloaded += bytes;
}

void DownloadProgress::TakeBackDownloaded(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  counts_.bytesDownloaded = counts_.bytesDownloaded > bytes ? counts_.bytesDownloaded - bytes : 0;
}

void DownloadProgress::FileDownloaded() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++counts_.filesDownloaded;
}

void DownloadProgress::FileUnavailable(uint64_t downloadSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++counts_.filesUnavailable;
  counts_.bytesToDownload = counts_.bytesToDownload > downloadSize ? counts_.bytesToDownload - downloadSize : 0;
}

void DownloadProgress::SetBytesToDownload(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  counts_.bytesToDownload = bytes;
}

void DownloadProgress::ReplaceBytesToDownload(uint64_t before, uint64_t after) {
  std::lock_guard<std::mutex> lock(mutex_);
  counts_.bytesToDownload = (counts_.bytesToDownload > before ? counts_.bytesToDownload - before : 0) + after;
}

void DownloadProgress::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  counts_ = Counts();
}

DownloadProgress::Counts DownloadProgress::Snapshot() {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_;
}

std::function<bool(const uint8_t* data, size_t length)> HashedFileWrites(void* file, uint64_t size, Hasher& hasher,
                                                                        uint64_t& written, std::wstring& message) {
  return [file, size, &hasher, &written, &message](const uint8_t* data, size_t length) {
    written += length;
    if (written > size) return false;
    hasher.Update(data, length);
    uint32_t code = 0;
    if (WriteAll(file, data, length, code)) return true;
    message = WithSystemError(L"Diske yazılamadı", code);
    return false;
  };
}

bool MoveIntoPlace(const std::wstring& scratch, const std::wstring& destination, const std::wstring& path,
                   std::wstring& message) {
  CreateDirectoryTree(ParentPath(destination));
  SetFileAttributesW(LongPath(destination).c_str(), FILE_ATTRIBUTE_NORMAL);
  constexpr DWORD kMove = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
  if (MoveFileRetrying(scratch, destination, kMove)) return true;
  const DWORD error = GetLastError();
  message = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION
                ? L"Dosya başka bir program tarafından kullanılıyor: " + path
                : WithSystemError(L"Dosya yerine konamadı", error);
  return false;
}

bool DownloadObject(const DownloadRun& run, const ManifestFile& entry, uint32_t index, HttpClient& client,
                    std::wstring& message, bool& unavailable) {
  unavailable = false;
  message.clear();
  const bool raw = entry.serverFile;
  const std::wstring path = WideFromUtf8(entry.path);
  const std::wstring scratch = JoinPath(run.scratchFolder, DecimalText(static_cast<long long>(index)) + L".part");

  UniqueHandle file(CreateFileW(LongPath(scratch).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    const DWORD code = GetLastError();
    message = WithSystemError(L"Geçici dosya oluşturulamadı", code);
    return false;
  }
  GzipInflater inflater;
  if (!raw && !inflater.Ready()) {
    file.Reset();
    DeleteFileRetrying(scratch);
    message = L"Açma bileşeni başlatılamadı";
    return false;
  }
  Hasher hasher(raw ? kHashMd5 : kHashSha256);

  uint64_t received = 0;
  uint64_t written = 0;
  auto writeOut = [&](const uint8_t* data, size_t length) {
    written += length;
    if (written > entry.size) {
      message = L"İndirilen dosya beklenenden büyük: " + path;
      if (raw) unavailable = true;
      return false;
    }
    hasher.Update(data, length);
    uint32_t code = 0;
    if (!WriteAll(file.Get(), data, length, code)) {
      message = WithSystemError(L"Diske yazılamadı", code);
      return false;
    }
    return true;
  };
  const std::wstring url = raw ? ServerFileUrl(run.serverDownloadBaseUrl, ServerUrlPath(entry), entry.hash)
                               : GameObjectUrl(run.contentBaseUrl, entry.hash);
  const bool ok = client.Get(
      url, {},
      [&](const HttpResponseInfo& info) {
        if (info.status == 200) return true;
        message = L"Dosya indirilemedi (HTTP " + DecimalText(static_cast<unsigned long long>(info.status)) + L"): " + path;
        if (raw && (info.status == 403 || info.status == 404 || info.status == 410)) unavailable = true;
        return false;
      },
      [&](const uint8_t* data, uint32_t length) {
        received += length;
        // Deflate adds a few bytes per block at worst; more than this is a body without end
        // (bytes after the end of the gzip stream are otherwise skipped).
        if (received > entry.size + entry.size / 64 + 65536) {
          message = L"İndirilen dosya beklenenden büyük: " + path;
          if (raw) unavailable = true;
          return false;
        }
        if (run.progress) run.progress->AddDownloaded(length);
        if (raw) return writeOut(data, length);
        if (inflater.Finished()) return true;
        if (inflater.Feed(data, length, writeOut)) return true;
        if (message.empty()) message = L"İndirilen dosya bozuk: " + path;  // the sink sets its own texts
        return false;
      },
      message, run.cancel);
  bool verified = false;
  if (ok) {
    verified = (raw || inflater.Finished()) && written == entry.size && hasher.Valid() && hasher.FinishHex() == entry.hash;
    if (!verified) {
      message = L"İndirilen dosya doğrulanamadı: " + path;
      if (raw) unavailable = true;
    }
  }
  // The bytes reach the disk before the file is moved into place: the state file that will
  // trust it is written through, and after a power cut it must not trust a file of zeros.
  // Flushing this one handle costs far less than flushing the volume after the run.
  if (verified && run.flush && !FlushFileBuffers(file.Get())) {
    const DWORD code = GetLastError();
    message = WithSystemError(L"Diske yazılamadı", code);
    verified = false;
  }
  file.Reset();

  if (verified && MoveIntoPlace(scratch, JoinPath(run.rootFolder, path), path, message)) return true;
  DeleteFileRetrying(scratch);
  if (run.progress) run.progress->TakeBackDownloaded(received);
  return false;
}
