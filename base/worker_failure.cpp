#include "base/worker_failure.h"

#include <new>

#include "base/log.h"
#include "base/text.h"

void LogThreadStartFailure(const std::wstring& tag, const std::exception& error) {
  LogLine(L"[" + tag + L"] a thread could not be started: " + WideFromUtf8(error.what()));
}

std::wstring CaughtExceptionText(const std::wstring& tag) {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return kOutOfMemoryText;
  } catch (const std::exception& error) {
    LogLine(L"[" + tag + L"] stopped by an exception: " + WideFromUtf8(error.what()));
  } catch (...) {
    LogLine(L"[" + tag + L"] stopped by an exception of unknown type");
  }
  return kUnexpectedErrorText;
}
