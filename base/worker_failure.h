// How a worker run ends when the system refuses it a thread or when an exception stops it.
// Windows only (writes the log).
#pragma once

#include <exception>
#include <string>
#include <thread>
#include <utility>

inline constexpr wchar_t kOutOfMemoryText[] = L"Yetersiz bellek";
inline constexpr wchar_t kThreadStartFailedText[] =
    L"İşlem başlatılamadı: Windows yeni bir iş parçacığı açamadı (sistem kaynakları tükenmiş olabilir)";
inline constexpr wchar_t kUnexpectedErrorText[] =
    L"Beklenmeyen bir hata oluştu (ayrıntı: TALVOREEN\\logs\\launcher.log)";

// Logs why a thread could not be started ("[" + tag + "] ").
void LogThreadStartFailure(const std::wstring& tag, const std::exception& error);

// Starts thread with body. The system can refuse a thread (std::system_error, or memory for
// its state); then thread stays empty, the reason is logged and false comes back, so that the
// caller fails its run instead of the process ending.
template <class Body>
bool TryStartThread(std::thread& thread, const std::wstring& tag, Body&& body) {
  try {
    thread = std::thread(std::forward<Body>(body));
    return true;
  } catch (const std::exception& error) {
    LogThreadStartFailure(tag, error);
    return false;
  }
}

// Only inside a catch block: the text a run stopped by the current exception fails with.
// std::bad_alloc is "Yetersiz bellek"; anything else gets kUnexpectedErrorText, and its
// message goes to the log as "[" + tag + "] stopped by an exception: " + message.
std::wstring CaughtExceptionText(const std::wstring& tag);
