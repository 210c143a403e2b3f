// mingw ships comdef.h but not the comsupp library behind _bstr_t; UnRAR's Windows-version
// probe needs only these two conversions.
#include <comdef.h>

namespace _com_util {

BSTR WINAPI ConvertStringToBSTR(const char* text) {
  if (!text) return nullptr;
  int chars = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (chars <= 0) return nullptr;
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(chars - 1));
  if (result) MultiByteToWideChar(CP_ACP, 0, text, -1, result, chars);
  return result;
}

char* WINAPI ConvertBSTRToString(BSTR text) {
  if (!text) return nullptr;
  int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return nullptr;
  char* result = new char[bytes];
  WideCharToMultiByte(CP_ACP, 0, text, -1, result, bytes, nullptr, nullptr);
  return result;
}

}  // namespace _com_util
