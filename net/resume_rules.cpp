#include "net/resume_rules.h"

#include <cwchar>

#include "base/format.h"
#include "base/text.h"
#include "net/http_rules.h"

bool IsSafeValidator(const std::wstring& value) {
  if (value.empty() || value.size() > kMaxValidatorBytes) return false;
  for (wchar_t c : value) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

std::wstring ChooseValidator(const std::wstring& etag, const std::wstring& lastModified) {
  const std::wstring& chosen = !etag.empty() && etag.rfind(L"W/", 0) != 0 ? etag : lastModified;
  return IsSafeValidator(chosen) ? chosen : std::wstring();
}

bool ParseContentRange(const std::wstring& text, uint64_t& first, uint64_t& last, uint64_t& total) {
  // Bounded numbers only: a saturated one would make the remaining size wrap.
  size_t pos = 0;
  auto literal = [&](const wchar_t* expected) {
    const size_t length = std::wcslen(expected);
    if (text.compare(pos, length, expected) != 0) return false;
    pos += length;
    return true;
  };
  return literal(L"bytes ") && ReadAnnouncedSize(text, pos, first) && literal(L"-") &&
         ReadAnnouncedSize(text, pos, last) && literal(L"/") && ReadAnnouncedSize(text, pos, total);
}

ResumeDecision DecideResume(uint32_t status, uint64_t resumeOffset, bool hasContentLength, uint64_t contentLength,
                            const std::wstring& contentRange) {
  ResumeDecision decision;
  if (status == 206 && resumeOffset > 0) {
    uint64_t first = 0, last = 0, total = 0;
    // A total below the offset cannot continue our bytes; it would also make the
    // remaining size negative.
    if (!ParseContentRange(contentRange, first, last, total) || first != resumeOffset || total < resumeOffset) {
      decision.verdict = ResumeVerdict::Restart;
      return decision;
    }
    decision.verdict = ResumeVerdict::Append;
    decision.resumeOffset = resumeOffset;
    decision.expectedTotal = total;
  } else if (status == 200 && hasContentLength) {
    decision.verdict = ResumeVerdict::Overwrite;
    decision.expectedTotal = contentLength;
  } else if (status == 416) {
    decision.verdict = ResumeVerdict::Restart;
  }
  return decision;
}

std::wstring NotEnoughSpaceText(uint64_t needed, uint64_t available) {
  return L"Diskte yeterli yer yok: " + FormatSize(needed) + L" gerekli, " + FormatSize(available) + L" boş";
}
