// The uninstall run modes: `--uninstall` asks, then hands over to a copy of the launcher in
// the temporary folder so that the installed launcher file can be deleted; `--uninstall-run`
// is that copy. Sections: message boxes and task dialogs; stage 1; stage 2.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <string>
#include <thread>

#include "base/files.h"
#include "base/game_copies.h"
#include "base/handles.h"
#include "base/log.h"
#include "base/version.h"
#include "base/worker_failure.h"
#include "launcher/run_modes.h"
#include "launcher/single_instance.h"
#include "system/game_launch.h"
#include "system/install.h"
#include "system/uninstall_stages.h"

namespace {

constexpr const wchar_t* kCaption = L"Talvoreen Multiplayer";
constexpr const wchar_t* kConfirmInstruction = L"Talvoreen Multiplayer kaldırılsın mı?";
constexpr const wchar_t* kContentWithGta =
    L"Oyun dosyaları, GTA: San Andreas, launcher, kısayollar ve oyunun ayarları silinecek. Ekran görüntülerin "
    L"silinmez.";
constexpr const wchar_t* kContentWithoutGta =
    L"Oyun dosyaları, launcher, kısayollar ve oyunun ayarları silinecek. Ekran görüntülerin silinmez.";
constexpr int kRemoveButtonId = 100;
constexpr int kCloseButtonId = 101;
constexpr DWORD kStageOneWaitMs = 30000;

using TaskDialogIndirectFunction = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// Looked up at run time: without the common-controls 6 manifest (or on old systems) the
// function is missing and the message boxes stand in.
TaskDialogIndirectFunction FindTaskDialog() {
  HMODULE comctl = LoadLibraryW(L"comctl32.dll");
  if (!comctl) return nullptr;
  return reinterpret_cast<TaskDialogIndirectFunction>(
      reinterpret_cast<void*>(GetProcAddress(comctl, "TaskDialogIndirect")));
}

void ShowBox(const std::wstring& text, UINT icon) { MessageBoxW(nullptr, text.c_str(), kCaption, MB_OK | icon); }

bool MutexExists(const wchar_t* name) {
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, name);
  if (mutex) {
    CloseHandle(mutex);
    return true;
  }
  return GetLastError() == ERROR_ACCESS_DENIED;
}

bool ConfirmUninstall(bool gtaPresent) {
  const wchar_t* content = gtaPresent ? kContentWithGta : kContentWithoutGta;
  if (TaskDialogIndirectFunction taskDialog = FindTaskDialog()) {
    const TASKDIALOG_BUTTON buttons[] = {{kRemoveButtonId, L"Kaldır"}};
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof(config);
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
    config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
    config.pszWindowTitle = kCaption;
    config.pszMainIcon = TD_WARNING_ICON;
    config.pszMainInstruction = kConfirmInstruction;
    config.pszContent = content;
    config.cButtons = 1;
    config.pButtons = buttons;
    config.nDefaultButton = IDCANCEL;
    int pressed = 0;
    if (SUCCEEDED(taskDialog(&config, &pressed, nullptr, nullptr))) return pressed == kRemoveButtonId;
  }
  const std::wstring text = std::wstring(kConfirmInstruction) + L"\n\n" + content;
  return MessageBoxW(nullptr, text.c_str(), kCaption, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

HRESULT CALLBACK ProgressCallback(HWND dialog, UINT notification, WPARAM, LPARAM, LONG_PTR data) {
  UninstallContext& context = *reinterpret_cast<UninstallContext*>(data);
  switch (notification) {
    case TDN_CREATED:
      SendMessageW(dialog, TDM_SET_PROGRESS_BAR_MARQUEE, TRUE, 0);
      SendMessageW(dialog, TDM_ENABLE_BUTTON, kCloseButtonId, FALSE);
      context.SetDialogWindow(dialog);
      break;
    case TDN_BUTTON_CLICKED:
      // S_FALSE keeps the dialog open: closing it early would leave the worker unwatched.
      return context.done.load() ? S_OK : S_FALSE;
    case TDN_TIMER:
      if (!context.done.load()) {
        WriteProgressText(context);
        SendMessageW(dialog, TDM_SET_ELEMENT_TEXT, TDE_CONTENT, reinterpret_cast<LPARAM>(context.progressText));
      } else {
        SendMessageW(dialog, TDM_ENABLE_BUTTON, kCloseButtonId, TRUE);
        SendMessageW(dialog, TDM_CLICK_BUTTON, kCloseButtonId, 0);
      }
      break;
    default:
      break;
  }
  return S_OK;
}

// Shows the progress until the worker is done. False when no task dialog could be shown.
bool ShowProgress(UninstallContext& context) {
  TaskDialogIndirectFunction taskDialog = FindTaskDialog();
  if (!taskDialog) return false;
  const TASKDIALOG_BUTTON buttons[] = {{kCloseButtonId, L"Kapat"}};
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof(config);
  config.dwFlags = TDF_SHOW_MARQUEE_PROGRESS_BAR | TDF_CALLBACK_TIMER;
  config.pszWindowTitle = kCaption;
  config.pszMainInstruction = L"Talvoreen Multiplayer kaldırılıyor";
  config.pszContent = L"Dosyalar siliniyor...";
  config.cButtons = 1;
  config.pButtons = buttons;
  config.nDefaultButton = kCloseButtonId;
  config.pfCallback = ProgressCallback;
  config.lpCallbackData = reinterpret_cast<LONG_PTR>(&context);
  const bool shown = SUCCEEDED(taskDialog(&config, nullptr, nullptr, nullptr));
  // A dialog that never came up must not keep the worker waiting for its window; one that
  // did is gone now.
  context.SetDialogWindow(nullptr);
  return shown;
}

// The worker must always end with done set, or the progress dialog would never close.
void UninstallThread(UninstallContext* context) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  try {
    RunUninstallWorker(*context);
  } catch (...) {
    // Reported as a failure: a worker that stopped half-way has not removed everything.
    if (context->failures.empty()) context->failures = L"Kaldırma yarıda kaldı (beklenmeyen hata)";
    CaughtExceptionText(L"uninstall");
  }
  context->done.store(true);
  if (SUCCEEDED(com)) CoUninitialize();
}

// The crash campaign's kill points: named in the environment, the stage ends there at once,
// as abruptly as a kill (no handler, no clean-up). Not in a release.
void EndAtKillPoint(const wchar_t* step) {
#ifdef TALVOREEN_RELEASE_BUILD
  (void)step;
#else
  wchar_t wanted[64] = {};
  const DWORD length = GetEnvironmentVariableW(L"TALVOREEN_UNINSTALL_KILL_AT", wanted, 64);
  if (length > 0 && length < 64 && std::wstring(wanted) == step) TerminateProcess(GetCurrentProcess(), 137);
#endif
}

// A copy in the temporary folder does the removal, so that this file is free to go.
bool HandOverToTemporaryCopy(const std::wstring& installDir) {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH) return false;
  const std::wstring temp(buffer, length);
  const std::wstring pid = std::to_wstring(GetCurrentProcessId());
  const std::wstring copy = JoinPath(temp, L"Talvoreen-Uninstall-" + pid + L".exe");
  if (!CopyFileUnmarked(GetModulePath(), copy)) return false;
  const std::wstring parameters = L"--uninstall-run " + QuotedCommandArgument(installDir) + L" --wait " + pid;
  unsigned long code = 0;
  return StartProgram(copy, parameters, temp, code);
}

}  // namespace

int RunUninstall() {
  const std::wstring installDir = FindUninstallFolder();

  if (MutexExists(kInstanceMutexName)) {
    ShowBox(L"Talvoreen Launcher açık. Önce launcher'ı kapat, sonra tekrar dene.", MB_ICONERROR);
    return 1;
  }
  if (CountRunningGameInstances() > 0) {
    ShowBox(L"Oyun açık. Önce oyunu kapat, sonra tekrar dene.", MB_ICONERROR);
    return 1;
  }
  const bool gtaPresent = !installDir.empty() && DirectoryExists(JoinPath(installDir, kGtaCopyFolder));
  if (!ConfirmUninstall(gtaPresent)) return 0;

  if (!installDir.empty() && HandOverToTemporaryCopy(installDir)) return 0;
  return RunUninstallStage2(installDir, 0);
}

int RunUninstallStage2(const std::wstring& folder, int waitProcessId) {
  if (waitProcessId != 0) {
    UniqueHandle firstStage(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(waitProcessId)));
    if (firstStage.Valid()) WaitForSingleObject(firstStage.Get(), kStageOneWaitMs);
  }

  UninstallContext context;
  context.installDir = AcceptedUninstallFolder(folder);
  context.afterStep = EndAtKillPoint;
  context.dialogExpected = FindTaskDialog() != nullptr;
  // The shared log lives in the folder being removed; it is only set up where that folder
  // already exists, so that logging never makes a plain folder look like an installation.
  if (!context.installDir.empty() && DirectoryExists(JoinPath(context.installDir, L"TALVOREEN"))) {
    SetLogDirectory(JoinPath(context.installDir, kLogFolder));
  }

  std::thread worker;
  if (TryStartThread(worker, L"uninstall", [&context] { UninstallThread(&context); })) {
    ShowProgress(context);
    worker.join();
  } else {
    context.failures = kThreadStartFailedText;
  }
  // A stage killed after the launcher went leaves a folder that is no longer accepted; when
  // nothing else is left in it, it goes now (only an empty folder can be removed this way).
  if (context.installDir.empty() && !IsRootOrDriveRelativeFolder(folder)) {
    const std::wstring given = NormalizePath(folder);
    if (given.size() > 3) RemoveDirectoryW(given.c_str());
  }

  if (context.failures.empty()) {
    std::wstring text = L"Talvoreen Multiplayer bilgisayarından kaldırıldı.";
    if (!context.screenshotsDir.empty()) {
      text += L"\n\nEkran görüntülerin burada duruyor:\n" + context.screenshotsDir;
    }
    ShowBox(text, MB_ICONINFORMATION);
    return 0;
  }
  if (context.nothingRemoved) {
    ShowBox(L"Talvoreen Multiplayer kaldırılamadı; hiçbir şey silinmedi:\n" + context.failures +
                L"\n\nKurulum klasörüne yazılabildiğinden emin olup tekrar dene.",
            MB_ICONERROR);
    return 1;
  }
  ShowBox(L"Talvoreen Multiplayer kaldırıldı, ancak bazı dosyalar silinemedi:\n" + context.failures +
              L"\n\nAçık bir program bu dosyaları kullanıyor olabilir; kapatıp klasörü elle silebilirsin.",
          MB_ICONERROR);
  return 1;
}
