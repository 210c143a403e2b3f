#include <gtest/gtest.h>

#include "base/files.h"
#include "base/format.h"
#include "base/text.h"
#include "manifest/installed_state.h"
#include "tests/support/test_support.h"

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

InstalledState SampleState() {
  InstalledState state;
  state.build = "2026.12.1";
  state.complete = true;
  state.files.push_back({"data/a.txt", std::string(64, 'e'), 5, 133456789012345678ull, false, false});
  state.files.push_back({"cfg/user.cfg", "", 8, 9, true, false});
  return state;
}

TEST(InstalledStateFile, WritesAndReadsBack) {
  TempDir dir;
  const std::wstring path = dir.Join(L"installed.json");
  ASSERT_TRUE(WriteInstalledState(path, SampleState()));
  EXPECT_EQ(ReadBytes(path), SerializeInstalledState(SampleState()));
  EXPECT_EQ(ListTree(dir.Path()).files.size(), 1u);  // no temporary file left
  auto state = ReadInstalledState(path);
  ASSERT_TRUE(state);
  EXPECT_EQ(state->build, "2026.12.1");
  EXPECT_TRUE(state->complete);
  ASSERT_EQ(state->files.size(), 2u);
  EXPECT_EQ(state->files[0].mtime, 133456789012345678ull);
  EXPECT_TRUE(state->files[1].keep);
}

TEST(InstalledStateFile, MissingOrBrokenFilesReadAsNothing) {
  TempDir dir;
  EXPECT_FALSE(ReadInstalledState(dir.Join(L"missing.json")));
  ASSERT_TRUE(WriteBytes(dir.Join(L"broken.json"), "{\"files\":[{\"path\":"));
  EXPECT_FALSE(ReadInstalledState(dir.Join(L"broken.json")));
  // A repeated "files" member is read with the last one counting, as json-c reads it.
  ASSERT_TRUE(WriteBytes(dir.Join(L"twice.json"), "{\"files\":[{\"path\":\"a\"}],\"files\":[{\"path\":\"b\"}]}"));
  const auto twice = ReadInstalledState(dir.Join(L"twice.json"));
  ASSERT_TRUE(twice);
  ASSERT_EQ(twice->files.size(), 1u);
  EXPECT_EQ(twice->files[0].path, "b");
  EXPECT_FALSE(ReadInstalledState(dir.Path()));
}

TEST(InstalledStateFile, TheLimitIsReadOneByteMoreIsNot) {
  TempDir dir;
  std::string text = "{\"build\":\"big\",\"files\":[]}";
  text.resize(kMaxStateFileBytes, ' ');
  ASSERT_TRUE(WriteBytes(dir.Join(L"exact.json"), text));
  auto state = ReadInstalledState(dir.Join(L"exact.json"));
  ASSERT_TRUE(state);
  EXPECT_EQ(state->build, "big");
  text.push_back(' ');
  ASSERT_TRUE(WriteBytes(dir.Join(L"over.json"), text));
  EXPECT_FALSE(ReadInstalledState(dir.Join(L"over.json")));
}

TEST(InstalledStateFile, AFailedWriteKeepsThePreviousFile) {
  TempDir dir;
  const std::wstring path = dir.Join(L"installed.json");
  ASSERT_TRUE(WriteInstalledState(path, SampleState()));
  const std::string before = ReadBytes(path);
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  InstalledState other;
  other.build = "other";
  EXPECT_FALSE(WriteInstalledState(path, other));
  CloseHandle(held);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(ListTree(dir.Path()).files.size(), 1u);
  EXPECT_FALSE(WriteInstalledState(dir.Join(L"no-such-folder\\installed.json"), other));

  // A record whose text would pass the limit the reader takes is never written.
  InstalledState huge = SampleState();
  const std::string folder(200, 'p');
  for (int i = 0; huge.files.size() < 380000; ++i) {
    huge.files.push_back({folder + "/" + std::to_string(i), std::string(32, 'f'), 1, 1, false, false});
  }
  bool tooLarge = false;
  EXPECT_FALSE(WriteInstalledState(path, huge, &tooLarge));
  EXPECT_TRUE(tooLarge);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_TRUE(WriteInstalledState(path, SampleState(), &tooLarge));
  EXPECT_FALSE(tooLarge);

  // Entries written as they are made: a maker that gives up part-way (a record that could not
  // be read again) leaves the previous file; one that finishes writes the record's own text.
  const auto oneEntry = [](bool finish) {
    return [finish](const EmitStateEntry& emit) { return emit(SampleState().files[0]) && finish; };
  };
  EXPECT_FALSE(WriteInstalledStateEntries(path, "other", false, oneEntry(false)));
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(ListTree(dir.Path()).files.size(), 1u);
  ASSERT_TRUE(WriteInstalledStateEntries(path, "other", false, oneEntry(true)));
  EXPECT_EQ(ReadBytes(path), SerializeInstalledState(InstalledState{"other", false, {SampleState().files[0]}}));
}

TEST(InstalledStateFile, AWriteToAFullDiskSaysSoAndKeepsThePreviousFile) {
  const std::wstring disk = testing_support::SmallDisk(TALVOREEN_SMALL_DISK);
  if (disk.empty()) {
    GTEST_SKIP() << "no 1 MiB disk mounted at " << TALVOREEN_SMALL_DISK
                 << " (mounting a tmpfs needs root; tests/sync/small_disk.sh said why)";
  }
  const std::wstring folder = JoinPath(disk, L"state");
  DeleteTree(folder);
  ASSERT_TRUE(CreateDirectoryTree(folder));
  const std::wstring path = JoinPath(folder, L"installed.json");
  ASSERT_TRUE(WriteInstalledState(path, SampleState()));
  const std::string before = ReadBytes(path);
  {
    // Whatever fits of 2 MiB stays behind and fills the disk.
    HANDLE filler = CreateFileW(JoinPath(folder, L"filler").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(filler, INVALID_HANDLE_VALUE);
    const std::string bytes(2u << 20, 'x');
    uint32_t code = 0;
    EXPECT_FALSE(WriteAll(filler, bytes.data(), bytes.size(), code));
    EXPECT_EQ(code, static_cast<uint32_t>(ERROR_DISK_FULL));
    CloseHandle(filler);
  }
  InstalledState other = SampleState();
  other.build = "other";
  std::wstring error;
  EXPECT_FALSE(WriteInstalledState(path, other, nullptr, &error));
  const std::wstring expected = WindowsErrorText(ERROR_DISK_FULL);
  EXPECT_EQ(Utf8FromWide(error), Utf8FromWide(expected));
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(ListTree(folder).files.size(), 2u);  // the file and the filler, no temporary file
  DeleteTree(folder);
}

}  // namespace
