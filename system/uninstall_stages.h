// The work behind the two uninstall stages started from Windows: the guard service, the
// launcher's files, shortcuts, registry entries and shared data. No dialogs here; the
// dialogs in launcher/uninstall_mode.cpp show this work's progress and outcome.
#pragma once

#include <atomic>
#include <functional>
#include <string>

inline constexpr const wchar_t* kGuardServiceName = L"TalvoreenGuard";
inline constexpr const wchar_t* kGuardExeName = L"TalvoreenGuard.exe";
inline constexpr const wchar_t* kGuardProgramFolder = L"Talvoreen Multiplayer";

// Shared between the uninstall worker and the progress dialog. The dialog reads only
// removedCount and done while the worker runs; failures and screenshotsDir are read after
// the worker thread has been joined.
struct UninstallContext {
  std::wstring installDir;  // empty: only shortcuts, registry, shared data and the guard go
  std::atomic<bool> done{false};
  std::atomic<unsigned> removedCount{0};
  std::wstring failures;        // first failure, empty when everything went
  std::wstring screenshotsDir;  // kept screenshots folder, empty when none or empty
  wchar_t progressText[128] = {};
  // Called after each step of kUninstallSteps: what a kill at that moment would leave.
  std::function<void(const wchar_t* step)> afterStep;
};

// The moments between the worker's steps, in order: the marker is written; the game files,
// GTA and the launcher's data went; the shortcuts and registration went; the launcher went.
inline constexpr const wchar_t* kUninstallSteps[] = {L"marker-written", L"files-removed", L"registration-removed",
                                                     L"launcher-removed"};

// The folder a second stage may remove: the normalised folder when it holds an installation,
// the launcher or an uninstall marker and is more than a drive root; otherwise empty.
std::wstring AcceptedUninstallFolder(const std::wstring& folder);

// "TalvoreenGuard.exe" in "Talvoreen Multiplayer" under the 32-bit Program Files folder;
// empty when that folder is unknown.
std::wstring InstalledGuardExecutable();

// The folder "--uninstall" removes: the running launcher's own folder when it holds an
// installation or an uninstall marker, else the registered one, else the own folder when the
// running launcher is the one installed there (its registration may be gone already).
// Empty when none.
std::wstring FindUninstallFolder();

// Runs the guard's own "--uninstall" when the service or its installed executable exists.
// Problems are logged, never reported.
void RemoveGuardService(const std::wstring& installDir);

// Starts the program elevated and hidden and waits up to 120 s. exitCode is STILL_ACTIVE
// (259) when it was still running then. False when it did not start; errorCode says why.
bool RunElevated(const std::wstring& executable, const std::wstring& parameters, unsigned long& exitCode,
                 unsigned long& errorCode);

// Everything the uninstall removes, in order; sets done last. COM must be initialised on the
// calling thread (shortcuts are read through the shell).
void RunUninstallWorker(UninstallContext& context);

// progressText = "<removedCount> dosya silindi".
void WriteProgressText(UninstallContext& context);
