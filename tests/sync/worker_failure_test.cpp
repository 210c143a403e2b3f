// Runs that the system refuses a thread, and runs stopped by an exception.
#include <gtest/gtest.h>

#include <windows.h>

#include <new>
#include <stdexcept>
#include <vector>

#include "base/keep_awake.h"
#include "base/log.h"
#include "base/worker_failure.h"
#include "sync/download_workers.h"
#include "sync/game_sync.h"
#include "tests/support/test_support.h"

using testing_support::ReadBytes;
using testing_support::TempDir;

namespace {

const std::wstring kThreadRefused =
    L"İşlem başlatılamadı: Windows yeni bir iş parçacığı açamadı (sistem kaynakları tükenmiş olabilir)";

// The request is the thread's; SetThreadExecutionState without ES_CONTINUOUS only reads it.
TEST(KeepAwake, HoldsTheSystemAwakeAndGivesBackWhatTheThreadHadBefore) {
  constexpr EXECUTION_STATE kAwake = ES_CONTINUOUS | ES_SYSTEM_REQUIRED;
  auto state = [] { return SetThreadExecutionState(0) & (ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED); };
  SetThreadExecutionState(ES_CONTINUOUS);
  {
    const KeepAwake outer;
    EXPECT_EQ(state(), kAwake);
    { const KeepAwake inner; }
    EXPECT_EQ(state(), kAwake);  // the inner one ends without ending the outer one's request
  }
  EXPECT_EQ(state(), DWORD(ES_CONTINUOUS));
  // A thread that also keeps the display on gets exactly that back.
  SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED);
  { const KeepAwake awake; }
  EXPECT_EQ(state(), DWORD(ES_CONTINUOUS | ES_DISPLAY_REQUIRED));
  SetThreadExecutionState(ES_CONTINUOUS);
}

// Reserves every free stretch of the address space of 256 KiB or more, so that no thread can
// get a stack (a 32-bit process; threads reserve at least that much) while small heap blocks
// still come from the heap's existing segments.
class AddressSpaceFull {
 public:
  AddressSpaceFull() {
    for (SIZE_T size = 1u << 30; size >= (256u << 10); size /= 2) {
      while (void* block = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS)) blocks_.push_back(block);
    }
  }
  ~AddressSpaceFull() {
    for (void* block : blocks_) VirtualFree(block, 0, MEM_RELEASE);
  }

 private:
  std::vector<void*> blocks_;
};

TEST(WorkerFailure, RefusedThreadsFailTheRunWithTheirText) {
  TempDir dir;
  SetLogDirectory(dir.Path());
  GameSync sync;
  sync.SetInstallFolder(dir.Join(L"install"));
  std::vector<ManifestFile> files(3);
  DownloadRun run;
  DownloadJob job(run, files);
  {
    AddressSpaceFull full;
    sync.Start(SyncMode::Check, false);
    RunWorkers(job, 3);
  }
  sync.Join();
  const SyncSnapshot snapshot = sync.GetSnapshot();
  EXPECT_FALSE(sync.IsRunning());
  EXPECT_EQ(snapshot.status, kSyncFailed);
  EXPECT_EQ(snapshot.message, kThreadRefused);
  EXPECT_TRUE(job.stop.load());
  EXPECT_EQ(job.firstError, kThreadRefused);
  const std::string log = ReadBytes(dir.Join(L"launcher.log"));
  EXPECT_NE(log.find("[game] a thread could not be started: "), std::string::npos) << log;
  EXPECT_NE(log.find("[download] a thread could not be started: "), std::string::npos) << log;
}

TEST(WorkerFailure, OnlyOutOfMemoryReadsAsSuch) {
  TempDir dir;
  SetLogDirectory(dir.Path());
  auto textOf = [](auto&& thrower) {
    try {
      thrower();
    } catch (...) {
      return CaughtExceptionText(L"test");
    }
    return std::wstring(L"nothing thrown");
  };
  EXPECT_EQ(textOf([] { throw std::bad_alloc(); }), L"Yetersiz bellek");
  const std::wstring general = L"Beklenmeyen bir hata oluştu (ayrıntı: TALVOREEN\\logs\\launcher.log)";
  EXPECT_EQ(textOf([] { throw std::length_error("basic_string::_M_create\r\nforged"); }), general);
  EXPECT_EQ(textOf([] { throw 7; }), general);
  const std::string log = ReadBytes(dir.Join(L"launcher.log"));
  EXPECT_EQ(log.find("Yetersiz"), std::string::npos);
  EXPECT_NE(log.find("[test] stopped by an exception: basic_string::_M_create\\r\\nforged\r\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("[test] stopped by an exception of unknown type\r\n"), std::string::npos) << log;
}

}  // namespace
