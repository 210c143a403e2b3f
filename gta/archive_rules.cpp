#include "gta/archive_rules.h"

#include "base/text.h"

bool IsWantedArchiveEntry(const std::wstring& name) {
  std::wstring path = name;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  const std::wstring root = kGameFolderName;
  if (path.size() < root.size() || !EqualsIgnoreCase(path.substr(0, root.size()), root)) return false;
  if (path.size() > root.size() && path[root.size()] != L'\\') return false;
  if (path.find(L':') != std::wstring::npos) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find(L'\\', start);
    const std::wstring part = path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    if (part.empty() || part == L"." || part == L"..") return false;
    if (end == std::wstring::npos) return true;
    start = end + 1;
  }
}

bool IsCorruptArchiveCode(int code) { return code >= 12 && code <= 14; }

std::wstring ArchiveResultText(int code) {
  switch (code) {
    case 11: return L"Yetersiz bellek";
    case 12:
    case 13:
    case 14: return L"İndirilen arşiv bozuk; bir sonraki denemede yeniden indirilecek";
    case 15:
    case 18: return L"Arşiv okunamadı";
    case 16:
    case 19: return L"Dosyalar diske yazılamadı (disk dolu olabilir)";
    default: return L"Arşiv açılamadı (kod " + DecimalText(static_cast<long long>(code)) + L")";
  }
}

namespace {

// System error numbers, kept here so that the rules build without the system headers.
constexpr uint32_t kSharingViolation = 32, kLockViolation = 33, kHandleDiskFull = 39, kDiskFull = 112,
                   kVirusInfected = 225, kVirusDeleted = 226;

bool IsHeldError(uint32_t error) { return error == kSharingViolation || error == kLockViolation; }
bool IsAntivirusError(uint32_t error) { return error == kVirusInfected || error == kVirusDeleted; }

}  // namespace

bool IsMachineFailure(int code, uint32_t systemError) {
  return code == 11 || code == 16 || code == 19 || code == kUnpackedFileRemoved || IsHeldError(systemError) ||
         IsAntivirusError(systemError);
}

std::wstring UnpackFailureText(int code, uint32_t systemError, const std::wstring& file,
                               const std::wstring& systemText) {
  if (IsHeldError(systemError)) return L"Dosya başka bir program tarafından kullanılıyor: " + file;
  if (code == kUnpackedFileRemoved || IsAntivirusError(systemError)) {
    return L"Bir dosya antivirüs tarafından silinmiş olabilir: " + file;
  }
  if ((code != 16 && code != 19) || systemError == 0) return ArchiveResultText(code);
  if (systemError == kDiskFull || systemError == kHandleDiskFull) return L"Dosyalar diske yazılamadı: disk dolu";
  return L"Dosyalar diske yazılamadı: " + systemText;
}

std::string FailureRecordText(int code) { return std::to_string(code); }

bool DiscardArchiveAfterFailure(int code, uint32_t systemError, const std::string& previousRecord) {
  if (IsMachineFailure(code, systemError)) return false;
  return IsCorruptArchiveCode(code) || previousRecord == FailureRecordText(code);
}
