#include "update/launcher_updater.h"

#include <windows.h>

#include "base/files.h"
#include "base/format.h"
#include "base/gzip_inflater.h"
#include "base/handles.h"
#include "base/keep_awake.h"
#include "base/log.h"
#include "base/text.h"
#include "base/worker_failure.h"
#include "manifest/hashing.h"
#include "manifest/manifest.h"
#include "net/http_client.h"

LauncherUpdater::~LauncherUpdater() {
  cancel_ = true;
  Join();
}

void LauncherUpdater::Join() {
  if (thread_.joinable()) thread_.join();
}

void LauncherUpdater::Init(std::wstring contentBaseUrl, std::wstring target, std::string ownVersion) {
  contentBaseUrl_ = std::move(contentBaseUrl);
  target_ = std::move(target);
  ownVersion_ = std::move(ownVersion);
}

void LauncherUpdater::Start() {
  if (running_.exchange(true)) return;
  Join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = UpdateSnapshot();
    status_.state = kUpdateChecking;
  }
  const bool started = TryStartThread(thread_, L"launcher-update", [this] {
    const KeepAwake awake;
    try {
      Run();
    } catch (...) {
      CaughtExceptionText(L"launcher-update");  // logs the message; the run keeps its own text
      DeleteFileW((target_ + L".new").c_str());
      SetResult(kUpdateFailed, L"Launcher güncellemesi indirilemedi");
    }
    running_ = false;
  });
  if (!started) {
    SetResult(kUpdateFailed, kThreadStartFailedText);
    running_ = false;
  }
}

UpdateSnapshot LauncherUpdater::GetSnapshot() {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

void LauncherUpdater::SetResult(int state, const std::wstring& text) {
  if (state == kUpdateFailed) LogLine(L"[launcher-update] failed: " + text);
  std::lock_guard<std::mutex> lock(mutex_);
  status_.state = state;
  status_.message = text;
}

void LauncherUpdater::Run() {
  const std::wstring manifestUrl = AppendNoCache(contentBaseUrl_ + L"/launcher/stable/manifest.json");
  uint32_t status = 0;
  std::string body;
  std::wstring error;
  {
    HttpClient client;
    const bool ok = client.Get(
        manifestUrl, {},
        [&](const HttpResponseInfo& info) {
          status = info.status;
          return info.status == 200;
        },
        [&](const uint8_t* data, uint32_t length) {
          if (body.size() + length > kMaxLauncherManifestBytes) return false;
          body.append(reinterpret_cast<const char*>(data), length);
          return true;
        },
        error, &cancel_);
    if (!ok) {
      if (status == 404) {
        SetResult(kUpdateNoUpdate, L"");
      } else {
        SetResult(kUpdateFailed, L"Launcher güncellemesi denetlenemedi: " + error);
      }
      return;
    }
  }
  LauncherManifest manifest;
  if (!ParseLauncherManifest(body, manifest, error)) {
    SetResult(kUpdateFailed, error);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.remoteVersion = manifest.version;
  }
  if (CompareVersions(manifest.version, ownVersion_) <= 0) {
    SetResult(kUpdateNoUpdate, L"");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_.state = kUpdateDownloading;
    status_.bytesTotal = manifest.file.zsize;
  }

  const std::wstring staged = target_ + L".new";
  bool good = false;
  DWORD writeError = 0;  // read where a write failed, before any other call
  error.clear();
  {
    UniqueHandle file(CreateFileW(staged.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file.Valid()) {
      SetResult(kUpdateFailed, L"Launcher güncellemesi yazılamadı: " + WindowsErrorText(GetLastError()));
      return;
    }
    const std::string& sha = manifest.file.hash;
    const std::wstring objectUrl = contentBaseUrl_ + L"/game/objects/" + WideFromUtf8(sha.substr(0, 2)) + L"/" +
                                   WideFromUtf8(sha) + L".gz";
    GzipInflater inflater;
    Hasher hasher(kHashSha256);
    uint64_t inflated = 0;
    auto sink = [&](const uint8_t* data, size_t length) {
      inflated += length;
      if (inflated > manifest.file.size) return false;  // longer than announced: stop at once
      hasher.Update(data, length);
      uint32_t code = 0;
      if (WriteAll(file.Get(), data, length, code)) return true;
      writeError = code;
      return false;
    };
    HttpClient client;
    const bool ok = client.Get(
        objectUrl, {},
        [&](const HttpResponseInfo& info) {
          if (info.status == 200) return true;
          error = L"HTTP " + DecimalText(static_cast<unsigned long long>(info.status));
          return false;
        },
        [&](const uint8_t* data, uint32_t length) {
          {
            std::lock_guard<std::mutex> lock(mutex_);
            status_.bytesDone += length;
          }
          return inflater.Finished() || inflater.Feed(data, length, sink);
        },
        error, &cancel_);
    good = ok && inflater.Finished() && inflated == manifest.file.size && hasher.Valid() && hasher.FinishHex() == sha;
    // On the disk before it can be swapped in: a power cut must not leave a launcher of zeros.
    if (good && !FlushFileBuffers(file.Get())) writeError = GetLastError();
  }
  if (writeError != 0) {
    DeleteFileW(staged.c_str());
    SetResult(kUpdateFailed, L"Launcher güncellemesi yazılamadı: " + WindowsErrorText(writeError));
    return;
  }
  if (!good) {
    DeleteFileW(staged.c_str());
    SetResult(kUpdateFailed, L"Launcher güncellemesi indirilemedi" + (error.empty() ? std::wstring() : L": " + error));
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  status_.stagedPath = staged;
  status_.state = kUpdateReady;
}

// Both renames reach the disk before the call returns: after a power cut the start-up
// recovery must find either the old launcher or the new one under the target's name, never a
// swap that is only half on disk. The staged file itself was flushed when it was verified.
bool LauncherUpdater::ApplyUpdate(const std::wstring& stagedPath, const std::wstring& target, std::wstring& error) {
  constexpr DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  const std::wstring old = target + L".old";
  DeleteFileRetrying(old);
  if (FileExists(target) && !MoveFileRetrying(target, old, kMoveFlags)) {
    const DWORD code = GetLastError();
    error = L"Launcher güncellenemedi: " + WindowsErrorText(code);
    return false;
  }
  if (MoveFileRetrying(stagedPath, target, kMoveFlags)) return true;
  const DWORD code = GetLastError();
  error = L"Launcher güncellenemedi: " + WindowsErrorText(code);
  if (!MoveFileRetrying(old, target, kMoveFlags)) {
    LogLine(L"[launcher-update] the previous launcher could not be put back: " + WindowsErrorText(GetLastError()));
  }
  return false;
}

void LauncherUpdater::CleanupAfterUpdate(const std::wstring& target) {
  const std::wstring old = target + L".old";
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (!FileExists(old) || DeleteFileW(old.c_str())) break;
    Sleep(250);
  }
  DeleteFileW((target + L".new").c_str());
}

bool LauncherUpdater::RecoverInterruptedSwap(const std::wstring& target) {
  const std::wstring old = target + L".old";
  if (FileExists(target) || !FileExists(old)) return false;
  return MoveFileRetrying(old, target, MOVEFILE_WRITE_THROUGH);
}
