// The work behind the two uninstall stages started from Windows: the guard service, the
// launcher's files, shortcuts, registry entries and shared data. No dialogs here; the
// dialogs in launcher/uninstall_mode.cpp show this work's progress and outcome.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
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
  bool nothingRemoved = false;  // failed before anything was removed (no marker could be written)
  std::wstring screenshotsDir;  // kept screenshots folder, empty when none or empty
  wchar_t progressText[128] = {};
  // Called after each step of kUninstallSteps: what a kill at that moment would leave.
  std::function<void(const wchar_t* step)> afterStep;

  // The progress dialog's window (an HWND), owner of the guard's elevation prompt: a worker
  // thread has no active window, and an ownerless prompt may only flash on the taskbar.
  // dialogExpected is set before the worker starts when a dialog will be shown; the dialog
  // calls SetDialogWindow once it exists, or with null when it could not be shown. The wait
  // for it is bounded (10 s) and returns null when no dialog is expected.
  bool dialogExpected = false;
  void SetDialogWindow(void* window);
  void* WaitForDialogWindow();

 private:
  std::mutex dialogMutex_;
  std::condition_variable dialogSettled_;
  bool dialogSettledFlag_ = false;
  void* dialogWindow_ = nullptr;
};

// The moments between the worker's steps, in order: the marker is written; the game files,
// GTA and the launcher's data went; the shortcuts and registration went; the marker went;
// the launcher went.
inline constexpr const wchar_t* kUninstallSteps[] = {L"marker-written", L"files-removed", L"registration-removed",
                                                     L"marker-removed", L"launcher-removed"};

// The failure of a run that could not write its marker and so removed nothing; followed by
// " (<marker path>): <system text>".
inline constexpr const wchar_t* kMarkerNotWrittenText = L"Kaldırma kaydı yazılamadı";

// The folder a second stage may remove: the normalised folder when it holds an installation,
// the launcher or an uninstall marker and is more than a drive root; otherwise empty.
std::wstring AcceptedUninstallFolder(const std::wstring& folder);

// "TalvoreenGuard.exe" in "Talvoreen Multiplayer" under the 32-bit Program Files folder;
// empty when that folder is unknown.
std::wstring InstalledGuardExecutable();

// The folder "--uninstall" removes: the running launcher's own folder when it is an
// installation or holds an uninstall marker, else the registered one; empty when none. A
// launcher beside nothing of ours (a download next to the player's own game and mods) never
// takes its own folder.
std::wstring FindUninstallFolder();

// Runs the guard's own "--uninstall" elevated, only from its installed place under Program
// Files, which only administrators can write: an elevated program in a folder any process
// can write to would load whatever DLL was planted beside it. owner (an HWND) owns the
// elevation prompt. Problems are logged, never reported.
void RemoveGuardService(void* owner = nullptr);

// Starts the program elevated and hidden and waits up to 120 s. exitCode is STILL_ACTIVE
// (259) when it was still running then. False when it did not start; errorCode says why.
bool RunElevated(const std::wstring& executable, const std::wstring& parameters, unsigned long& exitCode,
                 unsigned long& errorCode, void* owner = nullptr);

// Everything the uninstall removes, in order; sets done last. COM must be initialised on the
// calling thread (shortcuts are read through the shell).
void RunUninstallWorker(UninstallContext& context);

// progressText = "<removedCount> dosya silindi".
void WriteProgressText(UninstallContext& context);
