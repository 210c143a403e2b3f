#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>

#include "base/files.h"
#include "base/log.h"
#include "base/text.h"
#include "tests/support/test_support.h"

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));  // an unterminated tail is a fault the tests will see
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string Body(const std::string& line) {
  size_t pos = line.find("] ");
  return pos == std::string::npos ? std::string() : line.substr(pos + 2);
}

TEST(Log, LinesHaveTheTimestampAndProcessPrefix) {
  TempDir dir;
  LogFile log;
  log.SetDirectory(dir.Path());
  log.Line(L"hello");
  log.Line(L"");
  log.Line(L"Türkçe: çalışıyor ğ İ");
  const std::string text = ReadBytes(dir.Join(L"launcher.log"));
  const auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 3u);
  const std::string pid = std::to_string(GetCurrentProcessId());
  const std::regex prefix("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} \\[" + pid + "\\] ");
  for (const auto& line : lines) EXPECT_TRUE(std::regex_search(line, prefix)) << line;
  EXPECT_EQ(Body(lines[0]), "hello");
  EXPECT_EQ(lines[1].substr(lines[1].size() - 2), "] ");  // only the prefix
  EXPECT_EQ(Body(lines[2]), "T\xC3\xBCrk\xC3\xA7" "e: \xC3\xA7" "al\xC4\xB1\xC5\x9F\xC4\xB1yor \xC4\x9F \xC4\xB0");
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

// Text from outside (a link, a server's error text, a file name) cannot forge a line.
TEST(Log, ControlCharactersStayInsideTheirLine) {
  TempDir dir;
  LogFile log;
  log.SetDirectory(dir.Path());
  log.Line(L"link talvoreen://x\r\n2026-01-01 00:00:00 [1] forged\n");
  log.Line(L"a\tb\x01\x1b[31m\x7f\x85\x2028" L"c\\d ş");
  const auto lines = Lines(ReadBytes(dir.Join(L"launcher.log")));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Body(lines[0]), "link talvoreen://x\\r\\n2026-01-01 00:00:00 [1] forged\\n");
  EXPECT_EQ(Body(lines[1]), "a\\tb\\x01\\x1B[31m\\x7F\\x85\\u2028c\\d \xC5\x9F");
}

TEST(Log, PendingLinesAreBoundedAndWrittenInOrder) {
  TempDir dir;
  LogFile log;
  for (int i = 0; i < 600; ++i) log.Line(L"line " + std::to_wstring(i));
  EXPECT_EQ(log.Path(), L"");
  log.SetDirectory(dir.Join(L"TALVOREEN\\logs"));  // created with its parents
  log.Line(L"after");
  const auto lines = Lines(ReadBytes(dir.Join(L"TALVOREEN\\logs\\launcher.log")));
  ASSERT_EQ(lines.size(), 501u);
  for (int i = 0; i < 500; ++i) EXPECT_EQ(Body(lines[i]), "line " + std::to_string(i));
  EXPECT_EQ(Body(lines[500]), "after");
}

TEST(Log, UnusableFolderKeepsLinesWaiting) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.Join(L"blocked"), "a file, not a folder"));
  LogFile log;
  log.Line(L"early");
  log.SetDirectory(dir.Join(L"blocked\\logs"));
  log.SetDirectory(L"");
  EXPECT_EQ(log.Path(), L"");
  log.Line(L"still early");
  log.SetDirectory(dir.Join(L"good"));
  const auto lines = Lines(ReadBytes(dir.Join(L"good\\launcher.log")));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Body(lines[0]), "early");
  EXPECT_EQ(Body(lines[1]), "still early");
}

TEST(Log, MovingToAnotherFolderLeavesOldLinesBehind) {
  TempDir first, second;
  LogFile log;
  log.SetDirectory(first.Path());
  log.Line(L"one");
  log.SetDirectory(second.Path());
  log.Line(L"two");
  EXPECT_EQ(Lines(ReadBytes(first.Join(L"launcher.log"))).size(), 1u);
  const auto lines = Lines(ReadBytes(second.Join(L"launcher.log")));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Body(lines[0]), "two");
}

// The launcher's own removal of the game files deletes its log folder; the next line makes it
// again, but only while the folder it lives in is there: never a new folder elsewhere.
TEST(Log, ARemovedFolderComesBackOnlyInsideItsInstallFolder) {
  TempDir dir;
  struct Case {
    const wchar_t* folder;   // the log folder, under dir
    const wchar_t* removed;  // what goes, under dir
    bool recreated;
  };
  const Case cases[] = {
      {L"install\\TALVOREEN\\logs", L"install\\TALVOREEN", true},
      {L"install\\TALVOREEN\\logs", L"install", false},
      {L"plain\\logs", L"plain\\logs", true},
      {L"plain\\logs", L"plain", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8FromWide(std::wstring(c.folder) + L" without " + c.removed));
    const std::wstring folder = dir.Join(c.folder);
    LogFile log;
    log.SetDirectory(folder);
    log.Line(L"before");
    testing_support::RemoveTree(dir.Join(c.removed));
    ASSERT_FALSE(DirectoryExists(dir.Join(c.removed)));
    log.Line(L"after");
    log.Line(L"later");
    EXPECT_EQ(DirectoryExists(dir.Join(c.removed)), c.recreated);
    const auto lines = Lines(ReadBytes(JoinPath(folder, L"launcher.log")));
    ASSERT_EQ(lines.size(), c.recreated ? 2u : 0u);
    if (c.recreated) {
      EXPECT_EQ(Body(lines[0]), "after");
    }
  }
}

TEST(Log, RotatesOnlyAboveTwoMebibytes) {
  TempDir dir;
  const std::wstring path = dir.Join(L"launcher.log");
  LogFile log;
  log.SetDirectory(dir.Path());

  ASSERT_TRUE(WriteBytes(path, std::string(2097152, 'a')));
  log.Line(L"kept");
  EXPECT_FALSE(FileExists(path + L".1"));
  EXPECT_EQ(ReadBytes(path).size() > 2097152u, true);

  // Now the file is above the limit: the next line starts a fresh file.
  ASSERT_TRUE(WriteBytes(path + L".1", "older generation"));
  log.Line(L"fresh");
  const std::string rotated = ReadBytes(path + L".1");
  EXPECT_EQ(rotated.substr(0, 2097152), std::string(2097152, 'a'));
  EXPECT_NE(rotated.find("kept"), std::string::npos);
  const auto lines = Lines(ReadBytes(path));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Body(lines[0]), "fresh");
}

TEST(Log, ManyThreadsNeverTearALine) {
  TempDir dir;
  LogFile log;
  log.SetDirectory(dir.Path());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 100; ++i) log.Line(L"thread " + std::to_wstring(t) + L" line " + std::to_wstring(i));
    });
  }
  for (auto& thread : threads) thread.join();
  const auto lines = Lines(ReadBytes(dir.Join(L"launcher.log")));
  ASSERT_EQ(lines.size(), 400u);
  std::vector<int> next(4, 0);
  for (const auto& line : lines) {
    int t = -1, i = -1;
    ASSERT_EQ(sscanf(Body(line).c_str(), "thread %d line %d", &t, &i), 2) << line;
    ASSERT_TRUE(t >= 0 && t < 4);
    EXPECT_EQ(i, next[t]++);  // each thread's lines stay in its own order
  }
}

TV_CHILD_ROLE(log_writer) {
  LogFile log;
  log.SetDirectory(args.at(0));
  for (int i = 0; i < 300; ++i) log.Line(L"writer " + args.at(1) + L" line " + std::to_wstring(i));
  return 0;
}

TEST(Log, TwoProcessesShareTheFileLineByLine) {
  TempDir dir;
  HANDLE a = testing_support::StartChild("log_writer", {dir.Path(), L"A"});
  HANDLE b = testing_support::StartChild("log_writer", {dir.Path(), L"B"});
  ASSERT_TRUE(a && b);
  HANDLE both[] = {a, b};
  WaitForMultipleObjects(2, both, TRUE, INFINITE);
  DWORD codeA = 1, codeB = 1;
  GetExitCodeProcess(a, &codeA);
  GetExitCodeProcess(b, &codeB);
  CloseHandle(a);
  CloseHandle(b);
  ASSERT_EQ(codeA, 0u);
  ASSERT_EQ(codeB, 0u);
  const auto lines = Lines(ReadBytes(dir.Join(L"launcher.log")));
  ASSERT_EQ(lines.size(), 600u);
  int countA = 0, countB = 0;
  for (const auto& line : lines) {
    const std::string body = Body(line);
    if (body.rfind("writer A line ", 0) == 0) ++countA;
    else if (body.rfind("writer B line ", 0) == 0) ++countB;
    else ADD_FAILURE() << "torn line: " << line;
  }
  EXPECT_EQ(countA, 300);
  EXPECT_EQ(countB, 300);
}

}  // namespace
