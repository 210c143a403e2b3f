#include "net/resumable_download.h"

#include <windows.h>

#include <vector>

#include "base/files.h"
#include "base/format.h"
#include "base/handles.h"
#include "base/text.h"
#include "net/http_client.h"
#include "net/http_rules.h"
#include "net/resume_rules.h"

namespace {

uint64_t ExistingFileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) return 0;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
  return (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

std::wstring ReadValidator(const std::wstring& path) {
  if (!FileExists(path) || ExistingFileSize(path) > kMaxValidatorBytes) return {};
  std::string bytes;
  if (!ReadWholeFile(path, bytes) || bytes.size() > kMaxValidatorBytes) return {};
  // Written by this code only after the same check, unless the file was tampered with.
  const std::wstring validator = WideFromUtf8(bytes);
  return IsSafeValidator(validator) ? validator : std::wstring();
}

}  // namespace

bool FreeSpaceForFolder(const std::wstring& folder, uint64_t& available) {
  std::wstring probe = folder;
  while (!probe.empty() && !DirectoryExists(probe)) {
    const std::wstring parent = ParentPath(probe);
    if (parent == probe) break;
    probe = parent;
  }
  if (probe.size() == 2 && probe[1] == L':') probe += L'\\';
  if (probe.empty()) return false;
  ULARGE_INTEGER free{};
  if (!GetDiskFreeSpaceExW(probe.c_str(), &free, nullptr, nullptr)) return false;
  available = free.QuadPart;
  return true;
}

bool ResumableDownload::Run(const std::wstring& partPath, const std::wstring& finalPath, std::wstring& error) const {
  const std::wstring validatorPath = partPath + L".validator";
  for (int pass = 0; pass < 2; ++pass) {
    const uint64_t partSize = ExistingFileSize(partPath);
    const std::wstring validator = ReadValidator(validatorPath);
    std::vector<std::wstring> headers;
    uint64_t resumeOffset = 0;
    if (partSize > 0 && !validator.empty()) {
      headers.push_back(L"Range: bytes=" + DecimalText(static_cast<unsigned long long>(partSize)) + L"-");
      headers.push_back(L"If-Range: " + validator);
      resumeOffset = partSize;
    }

    bool restart = false;
    uint64_t expectedTotal = 0;
    UniqueHandle part;
    auto onHeaders = [&](const HttpResponseInfo& info) {
      const ResumeDecision decision =
          DecideResume(info.status, resumeOffset, info.hasContentLength, info.contentLength, info.contentRange);
      if (decision.verdict == ResumeVerdict::Restart) {
        restart = true;
        return false;
      }
      if (decision.verdict == ResumeVerdict::Refuse) {
        error = L"Sunucu hata döndürdü (HTTP " + DecimalText(static_cast<unsigned long long>(info.status)) + L")";
        return false;
      }
      resumeOffset = decision.resumeOffset;
      expectedTotal = decision.expectedTotal;
      const uint64_t needed = expectedTotal - resumeOffset + spaceReserve;
      uint64_t available = 0;
      const bool known = freeSpace ? freeSpace(destinationFolder, available) : FreeSpaceForFolder(destinationFolder, available);
      if (known && available < needed) {
        error = NotEnoughSpaceText(needed, available);
        return false;
      }
      const bool append = decision.verdict == ResumeVerdict::Append;
      part.Reset(CreateFileW(partPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!part.Valid() || (append && SetFilePointer(part.Get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
                            GetLastError() != NO_ERROR)) {
        error = WithSystemError(L"Dosya oluşturulamadı", GetLastError());
        part.Reset();
        return false;
      }
      const std::wstring chosen = ChooseValidator(info.etag, info.lastModified);
      if (!chosen.empty()) {
        WriteFileAtomic(validatorPath, Utf8FromWide(chosen));
      } else {
        DeleteFileW(validatorPath.c_str());
      }
      if (onStarted) onStarted(expectedTotal, resumeOffset);
      return true;
    };
    uint64_t arrived = 0;
    auto onData = [&](const uint8_t* data, uint32_t length) {
      // A body without a length of its own would otherwise fill the disk.
      arrived += length;
      if (arrived > expectedTotal - resumeOffset) {
        error = kResponseTooLargeText;
        return false;
      }
      uint32_t code = 0;
      if (!WriteAll(part.Get(), data, length, code)) {
        error = WithSystemError(L"Diske yazılamadı", code);
        return false;
      }
      if (onProgress) onProgress(length);
      return true;
    };

    error.clear();
    bool ok;
    {
      HttpClient client;
      ok = client.Get(url, headers, onHeaders, onData, error, cancel);
    }
    part.Reset();

    if (restart && pass == 0) {
      DeleteFileW(partPath.c_str());
      DeleteFileW(validatorPath.c_str());
      continue;
    }
    if (ok) {
      if (ExistingFileSize(partPath) != expectedTotal || !FileExists(partPath)) {
        error = L"İndirme yarıda kesildi, tekrar dene";
        return false;
      }
      if (!MoveFileRetrying(partPath, finalPath, MOVEFILE_REPLACE_EXISTING)) {
        error = WithSystemError(L"İndirilen dosya kaydedilemedi", GetLastError());
        return false;
      }
      return true;
    }
    if (error.empty()) error = L"Sunucu indirmeyi sürdürmeyi reddetti";
    return false;
  }
  error = L"Sunucu indirmeyi sürdürmeyi reddetti";
  return false;
}
