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

std::string FailureRecordText(int code) { return std::to_string(code); }

bool DiscardArchiveAfterFailure(int code, const std::string& previousRecord) {
  return IsCorruptArchiveCode(code) || previousRecord == FailureRecordText(code);
}
