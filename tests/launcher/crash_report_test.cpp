// Crash reports: a child process of this test program installs the reporter and crashes on
// purpose; the built launcher, started with its writer option, dumps it. The parent checks
// the minidump, the log line and the console line.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "base/files.h"
#include "base/handles.h"
#include "base/log.h"
#include "base/text.h"
#include "launcher/crash_report.h"
#include "tests/support/test_support.h"

using testing_support::LauncherExePath;
using testing_support::ProcessResult;
using testing_support::QuoteArgument;
using testing_support::ReadBytes;
using testing_support::RunChild;
using testing_support::StartChild;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

void InstallReporter(bool consoleLine) {
  InstallCrashReporter(consoleLine, QuoteArgument(LauncherExePath()) + L" " + kCrashDumpWriterOption);
}

// Each frame holds a page the compiler cannot drop, until the stack runs out.
volatile bool g_recurse = true;
int Recurse(int depth) {
  if (!g_recurse) return depth;
  volatile char page[4096];
  page[depth % sizeof(page)] = static_cast<char>(depth);
  return Recurse(depth + 1) + page[0];
}

// args: log folder, "fault", "throw", "overflow" (on a worker thread) or "overflow-main",
// "console" or "quiet", and optionally "hang" or "die": the writer hangs, or dies, with the
// child suspended.
TV_CHILD_ROLE(crash_on_purpose) {
  SetLogDirectory(args.at(0));
  LogLine(L"about to crash");
  if (args.size() > 3 && args.at(3) == L"hang") SetEnvironmentVariableW(L"TALVOREEN_CRASH_DUMP_HANG", L"3000");
  if (args.size() > 3 && args.at(3) == L"die") SetEnvironmentVariableW(L"TALVOREEN_CRASH_DUMP_DIE", L"1");
  InstallReporter(args.at(2) == L"console");
  if (args.at(1) == L"overflow-main") return Recurse(0);
  std::thread worker([&] {
    if (args.at(1) == L"throw") throw std::runtime_error("left the thread");
    if (args.at(1) == L"overflow") Recurse(0);
    volatile int* nowhere = nullptr;
    *nowhere = 1;
  });
  worker.join();
  return 0;
}

// args: log folder. The first thread faults; the second raises another code as soon as the
// first one's report has begun (a report file shows up), so it faults while that is written.
TV_CHILD_ROLE(fault_twice) {
  const std::wstring folder = args.at(0);
  SetLogDirectory(folder);
  InstallReporter(false);
  std::thread second([&folder] {
    const ULONGLONG deadline = GetTickCount64() + 60000;
    WIN32_FIND_DATAW found{};
    HANDLE find = INVALID_HANDLE_VALUE;
    while ((find = FindFirstFileW(JoinPath(folder, L"crash-*").c_str(), &found)) == INVALID_HANDLE_VALUE &&
           GetTickCount64() < deadline) {
      SwitchToThread();
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    RaiseException(0xE0000002, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  });
  std::thread first([] {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
  });
  first.join();
  second.join();
  return 0;
}

std::vector<std::wstring> ReportsIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  HANDLE find = FindFirstFileW(JoinPath(folder, L"crash-*.dmp").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.emplace_back(found.cFileName);
  while (FindNextFileW(find, &found));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

template <class T>
T Read(const std::string& bytes, size_t offset) {
  T value{};
  if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

// The header's signature and version, and a stream directory inside the file that holds
// the thread, module and exception streams.
void ExpectValidMinidump(const std::string& dump) {
  ASSERT_GE(dump.size(), 32u);
  EXPECT_EQ(Read<uint32_t>(dump, 0), 0x504D444Du);  // "MDMP"
  EXPECT_EQ(Read<uint32_t>(dump, 4) & 0xFFFF, 0xA793u);
  const uint32_t streams = Read<uint32_t>(dump, 8);
  const uint32_t directory = Read<uint32_t>(dump, 12);
  ASSERT_GT(streams, 0u);
  ASSERT_LE(static_cast<uint64_t>(directory) + streams * 12ull, dump.size());
  bool threads = false, modules = false, exception = false;
  for (uint32_t i = 0; i < streams; ++i) {
    const uint32_t type = Read<uint32_t>(dump, directory + i * 12);
    const uint32_t size = Read<uint32_t>(dump, directory + i * 12 + 4);
    const uint32_t rva = Read<uint32_t>(dump, directory + i * 12 + 8);
    EXPECT_LE(static_cast<uint64_t>(rva) + size, dump.size()) << "stream " << type;
    // Stream types of the minidump format: 3 threads, 4 modules, 6 the exception.
    threads |= type == 3 && size > 0;
    modules |= type == 4 && size > 0;
    exception |= type == 6 && size > 0;
  }
  EXPECT_TRUE(threads);
  EXPECT_TRUE(modules);
  EXPECT_TRUE(exception);
}

TEST(CrashReport, FileNameHasFixedWidthStamps) {
  EXPECT_EQ(CrashReportFileName(2026, 1, 2, 3, 4, 5, 77), L"crash-20260102-030405-77.dmp");
}

TEST(CrashReport, AFaultOnAWorkerThreadLeavesAMinidumpALogLineAndAConsoleLine) {
  TempDir dir;
  const std::wstring logs = dir.Join(L"TALVOREEN\\logs");
  // Six older reports: with the new one only the five newest stay.
  ASSERT_TRUE(CreateDirectoryTree(logs));
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(WriteBytes(JoinPath(logs, L"crash-2000010" + std::to_wstring(i + 1) + L"-000000-1.dmp"), "old"));
  }
  const ProcessResult r = RunChild("crash_on_purpose", {logs, L"fault", L"console"});
  EXPECT_EQ(r.exitCode, 0xC0000005u);  // as Windows ends a process on an access violation

  const std::vector<std::wstring> reports = ReportsIn(logs);
  ASSERT_EQ(reports.size(), 5u);
  EXPECT_EQ(reports[0], L"crash-20000103-000000-1.dmp");
  const std::wstring report = JoinPath(logs, reports.back());
  EXPECT_EQ(reports.back().rfind(L"crash-2", 0), 0u);
  ExpectValidMinidump(ReadBytes(report));

  const std::string log = ReadBytes(JoinPath(logs, L"launcher.log"));
  EXPECT_NE(log.find("about to crash"), std::string::npos);
  EXPECT_NE(log.find("crash: exception 0xC0000005, report " + Utf8FromWide(report) + "\r\n"), std::string::npos)
      << log;
  EXPECT_EQ(r.output, "crash report " + Utf8FromWide(report) + "\n");
}

// A stack overflow leaves almost no stack for the handler, on a thread of the program's own
// as on the main thread.
TEST(CrashReport, AnExceptionLeavingAThreadAndAStackOverflowAreReportedToo) {
  const struct {
    const wchar_t* crash;
    DWORD exitCode;
  } cases[] = {{L"throw", 0xE0545646u}, {L"overflow", 0xC00000FDu}, {L"overflow-main", 0xC00000FDu}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8FromWide(c.crash));
    TempDir dir;
    const ProcessResult r = RunChild("crash_on_purpose", {dir.Path(), c.crash, L"quiet"});
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_TRUE(r.output.empty());
    const std::vector<std::wstring> reports = ReportsIn(dir.Path());
    ASSERT_EQ(reports.size(), 1u);
    ExpectValidMinidump(ReadBytes(dir.Join(reports[0])));
    EXPECT_NE(ReadBytes(dir.Join(L"launcher.log")).find(", report " + Utf8FromWide(dir.Join(reports[0]))),
              std::string::npos);
  }
}

// The writer suspends the crashed process and never returns, as a dump can when a suspended
// thread holds a lock it needs: the process still ends, with its exception's code, and
// leaves no report and no scratch file.
// A writer that dies mid-dump (an antivirus kills it, or it crashes) leaves the process
// suspended, which must end all the same rather than hold the single-instance lock for good.
TEST(CrashReport, AWriterThatHangsOrDiesStillEndsTheProcess) {
  for (const wchar_t* writer : {L"hang", L"die"}) {
    SCOPED_TRACE(Utf8FromWide(writer));
    TempDir dir;
    UniqueHandle child(StartChild("crash_on_purpose", {dir.Path(), L"fault", L"quiet", writer}));
    ASSERT_TRUE(child.Valid());
    const bool ended = WaitForSingleObject(child.Get(), 120000) == WAIT_OBJECT_0;  // a safety net, not a measure
    if (!ended) TerminateProcess(child.Get(), 1);
    ASSERT_TRUE(ended);
    if (writer == std::wstring(L"hang")) {
      DWORD exitCode = 0;
      ASSERT_TRUE(GetExitCodeProcess(child.Get(), &exitCode));
      EXPECT_EQ(exitCode, 0xC0000005u);
      EXPECT_EQ(ListTree(dir.Path()).files, std::vector<std::wstring>{dir.Join(L"launcher.log")});
    }
  }
}

// Another log writer holds the log's lock for the whole crash: the report must neither wait
// for it nor be cut short by the second thread, which waits for the first report instead.
TEST(CrashReport, ASecondFaultingThreadWaitsForTheFirstReport) {
  TempDir dir;
  const std::wstring log = dir.Join(L"launcher.log");
  UniqueHandle held(CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held.Valid());
  OVERLAPPED region{};
  region.Offset = 0xFFFFFFF0u;
  region.OffsetHigh = 0x7FFFFFFFu;
  ASSERT_TRUE(LockFileEx(held.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &region));

  const ProcessResult r = RunChild("fault_twice", {dir.Path()});
  EXPECT_EQ(r.exitCode, 0xC0000005u);
  const std::vector<std::wstring> reports = ReportsIn(dir.Path());
  ASSERT_EQ(reports.size(), 1u);
  ExpectValidMinidump(ReadBytes(dir.Join(reports[0])));
  std::vector<std::wstring> everything;
  for (const std::wstring& file : ListTree(dir.Path()).files) everything.push_back(file);
  std::sort(everything.begin(), everything.end());
  EXPECT_EQ(everything, (std::vector<std::wstring>{dir.Join(reports[0]), log}));
  EXPECT_NE(ReadBytes(log).find("crash: exception 0xC0000005, report " + Utf8FromWide(dir.Join(reports[0])) + "\r\n"),
            std::string::npos);
  UnlockFileEx(held.Get(), 0, 1, 0, &region);
}

}  // namespace
