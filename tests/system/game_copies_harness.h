// Game copies for tests: mutexes held as running copies hold them, an install folder whose
// game executable is the stand-in client (game_stand_in.exe beside the test), and the
// stand-in's events. Windows tests only.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/game_copies.h"
#include "base/handles.h"
#include "base/text.h"
#include "tests/support/test_support.h"
#include "tests/system/game_stand_in.h"

inline constexpr DWORD kStandInWaitLimit = 60000;  // only ever reached when something is broken

// Mutexes of game copies held by this process, as running copies hold them.
class HeldCopies {
 public:
  explicit HeldCopies(const std::vector<int>& copies, SECURITY_ATTRIBUTES* security = nullptr) {
    for (int copy : copies) {
      HANDLE mutex = CreateMutexW(security, FALSE, GameInstanceMutexName(copy).c_str());
      EXPECT_NE(mutex, nullptr) << copy;
      mutexes_.emplace_back(mutex);
    }
  }

 private:
  std::vector<UniqueHandle> mutexes_;
};

using Record = std::map<std::string, std::string>;

// An install folder whose Talvoreen.exe is the stand-in.
class GameFolder {
 public:
  GameFolder() { EXPECT_TRUE(CopyFileW(testing_support::TestFile(L"game_stand_in.exe").c_str(), Exe().c_str(), FALSE)); }
  const std::wstring& Path() const { return dir_.Path(); }
  std::wstring Exe() const { return dir_.Join(L"Talvoreen.exe"); }
  std::wstring RecordPath(int copy) const { return dir_.Join(StandInRecordName(copy)); }

  Record ReadRecord(int copy) const {
    Record record;
    std::istringstream lines(testing_support::ReadBytes(RecordPath(copy)));
    std::string line;
    while (std::getline(lines, line)) {
      const size_t equals = line.find('=');
      if (equals != std::string::npos) record[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return record;
  }

 private:
  testing_support::TempDir dir_;
};

// The events of a copy's stand-in, made before it starts so that no signal is lost.
class StandInEvents {
 public:
  explicit StandInEvents(int copy)
      : ready_(CreateEventW(nullptr, TRUE, FALSE, StandInEventName(copy, L"ready").c_str())),
        exit_(CreateEventW(nullptr, TRUE, FALSE, StandInEventName(copy, L"exit").c_str())),
        refused_(CreateEventW(nullptr, TRUE, FALSE, kStandInRefusedEvent)) {
    ResetEvent(ready_.Get());
    ResetEvent(exit_.Get());
    ResetEvent(refused_.Get());
  }
  // True once the stand-in holds its mutex; false as soon as a stand-in refused to run.
  bool WaitReady() const {
    const HANDLE events[] = {ready_.Get(), refused_.Get()};
    return WaitForMultipleObjects(2, events, FALSE, kStandInWaitLimit) == WAIT_OBJECT_0;
  }

  // Asks the stand-in named by the record to end and waits until its process is gone.
  bool Close(const Record& record) const {
    const auto pid = record.find("pid");
    if (pid == record.end()) return false;
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::stoul(pid->second))));
    SetEvent(exit_.Get());
    return process.Valid() && WaitForSingleObject(process.Get(), kStandInWaitLimit) == WAIT_OBJECT_0;
  }

 private:
  UniqueHandle ready_, exit_, refused_;
};
