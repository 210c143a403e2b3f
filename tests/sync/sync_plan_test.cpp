// The decisions of a synchronisation run, from inline manifests, state records and disk facts.
#include "sync/sync_plan.h"

#include <gtest/gtest.h>

#include <map>

#include "manifest/installed_state.h"
#include "manifest/manifest.h"
#include "sync/client_files.h"

namespace {

const std::string kOld(64, 'a');
const std::string kNew(64, 'b');
constexpr uint64_t kTime = 133000000000000000ull;

// The game manifest every classification case uses; sizes are 10 unless a name says more.
const std::vector<std::tuple<std::string, std::string, uint64_t, bool>> kGameFiles = {
    // path, hash, zsize, keep
    {"data/trusted.txt", kOld, 5, false},  {"data/touched.txt", kOld, 5, false},
    {"data/resized.txt", kOld, 6, false},  {"data/missing.txt", kOld, 7, false},
    {"data/changed.txt", kNew, 5, false},  {"bin/game.dll", kOld, 5, false},
    {"Bin/Talvoreen.EXE", kOld, 5, false}, {"config/user.cfg", kOld, 5, true},
    {"config/new.cfg", kOld, 5, true},     {"Data/CaseState.txt", kOld, 5, false},
    {"data/folder", kOld, 5, false},       {"data/was-unavailable.txt", kOld, 5, false},
};

Manifest GameManifest() {
  std::string files;
  for (const auto& [path, hash, zsize, keep] : kGameFiles) {
    if (!files.empty()) files += ",";
    files += "{\"path\":\"" + path + "\",\"size\":10,\"sha256\":\"" + hash + "\",\"zsize\":" + std::to_string(zsize) +
             (keep ? ",\"keep\":true" : "") + "}";
  }
  Manifest manifest;
  std::wstring error;
  EXPECT_TRUE(ParseGameManifestDocument(
      "{\"schema\":1,\"product\":\"Talvoreen\",\"build\":\"b2\",\"files\":[" + files + "]}", manifest, error));
  return manifest;
}

// What the last run recorded: everything at size 10 and kTime with the old hash.
InstalledState GoodState() {
  std::string entries;
  for (const char* path : {"data/trusted.txt", "data/touched.txt", "data/resized.txt", "data/changed.txt",
                           "bin/game.dll", "Bin/Talvoreen.EXE", "data/casestate.txt", "data/missing.txt"}) {
    entries += "{\"path\":\"" + std::string(path) + "\",\"hash\":\"" + kOld +
               "\",\"size\":10,\"mtime\":" + std::to_string(kTime) + "},";
  }
  entries +=
      "{\"path\":\"config/"
      "user.cfg\",\"hash\":\"\",\"size\":4,\"mtime\":1,\"keep\":true},";
  entries +=
      "{\"path\":\"data/was-unavailable.txt\",\"hash\":\"" + kOld + "\",\"size\":0,\"mtime\":0,\"unavailable\":true}";
  auto state = ParseInstalledState("{\"version\":1,\"build\":\"b1\",\"complete\":true,\"files\":[" + entries + "]}");
  EXPECT_TRUE(state);
  return state.value_or(InstalledState{});
}

// The disk: touched has a new time, resized a new size, the user changed their config, missing
// and new.cfg are absent, "data/folder" is a folder, was-unavailable is an empty file that
// happens to match its unavailable record's numbers.
std::vector<DiskFile> GameDisk(const Manifest& manifest) {
  const std::map<std::string, DiskFile> special = {
      {"data/touched.txt", {true, 10, kTime + 1}}, {"data/resized.txt", {true, 11, kTime}},
      {"config/user.cfg", {true, 4, 2}},           {"data/missing.txt", {false, 0, 0}},
      {"config/new.cfg", {false, 0, 0}},           {"data/folder", {false, 0, 0}},
      {"data/was-unavailable.txt", {true, 0, 0}},
  };
  std::vector<DiskFile> disk;
  for (const ManifestFile& file : manifest.files) {
    auto it = special.find(file.path);
    disk.push_back(it == special.end() ? DiskFile{true, 10, kTime} : it->second);
  }
  return disk;
}

std::vector<std::string> Paths(const std::vector<InstalledFile>& files) {
  std::vector<std::string> paths;
  for (const InstalledFile& file : files) paths.push_back(file.path);
  return paths;
}
std::vector<std::string> Paths(const std::vector<ManifestFile>& files) {
  std::vector<std::string> paths;
  for (const ManifestFile& file : files) paths.push_back(file.path);
  return paths;
}
std::vector<std::string> Paths(const std::vector<HashTask>& tasks) {
  std::vector<std::string> paths;
  for (const HashTask& task : tasks) paths.push_back(task.file.path);
  return paths;
}

using Names = std::vector<std::string>;

TEST(ClassifyFiles, TrustRuleByStateAndMode) {
  struct Case {
    const char* what;
    bool lostState, gameMode, verify;
    Names current, hashed, downloaded;
  };
  // The empty file matches the numbers of its unavailable record, which describes no file.
  const Names alwaysDownloaded = {"data/resized.txt", "data/missing.txt", "config/new.cfg", "data/folder",
                                  "data/was-unavailable.txt"};
  const std::vector<Case> cases = {
      {"state trusted; libraries and programs hashed anyway",
       false,
       true,
       false,
       {"data/trusted.txt", "config/user.cfg", "Data/CaseState.txt"},
       {"data/touched.txt", "data/changed.txt", "bin/game.dll", "Bin/Talvoreen.EXE"},
       alwaysDownloaded},
      {"state lost: everything of the right size hashed",
       true,
       true,
       false,
       {"config/user.cfg"},
       {"data/trusted.txt", "data/touched.txt", "data/changed.txt", "bin/game.dll", "Bin/Talvoreen.EXE",
        "Data/CaseState.txt"},
       alwaysDownloaded},
      {"verify: everything but keep files hashed",
       false,
       true,
       true,
       {"config/user.cfg"},
       {"data/trusted.txt", "data/touched.txt", "data/changed.txt", "bin/game.dll", "Bin/Talvoreen.EXE",
        "Data/CaseState.txt"},
       alwaysDownloaded},
      {"server lists trust libraries and programs too",
       false,
       false,
       false,
       {"data/trusted.txt", "bin/game.dll", "Bin/Talvoreen.EXE", "config/user.cfg", "Data/CaseState.txt"},
       {"data/touched.txt", "data/changed.txt"},
       alwaysDownloaded},
  };
  const Manifest manifest = GameManifest();
  for (const Case& c : cases) {
    const SyncPlan plan =
        ClassifyFiles(manifest, GameDisk(manifest), c.lostState ? InstalledState{} : GoodState(), c.gameMode, c.verify);
    EXPECT_EQ(Paths(plan.current), c.current) << c.what;
    EXPECT_EQ(Paths(plan.toHash), c.hashed) << c.what;
    EXPECT_EQ(Paths(plan.toDownload), c.downloaded) << c.what;
    EXPECT_EQ(plan.bytesToVerify, 10 * c.hashed.size()) << c.what;
  }
}

TEST(ClassifyFiles, RecordsWhatTheDiskSaysAndKeepsTheUsersFile) {
  const Manifest manifest = GameManifest();
  const SyncPlan plan = ClassifyFiles(manifest, GameDisk(manifest), GoodState(), true, false);
  ASSERT_EQ(plan.current.size(), 3u);
  const InstalledFile& trusted = plan.current[0];
  EXPECT_EQ(trusted.hash, kOld);
  EXPECT_EQ(trusted.size, 10u);
  EXPECT_EQ(trusted.mtime, kTime);
  EXPECT_FALSE(trusted.keep);
  // The player's config differs in size, time and content: kept as it is, never hashed.
  const InstalledFile& config = plan.current[1];
  EXPECT_EQ(config.path, "config/user.cfg");
  EXPECT_EQ(config.hash, "");
  EXPECT_EQ(config.size, 4u);
  EXPECT_EQ(config.mtime, 2u);
  EXPECT_TRUE(config.keep);
  // The path is recorded as the manifest spells it, not as the old record did.
  EXPECT_EQ(plan.current[2].path, "Data/CaseState.txt");
  // Disk facts shorter than the manifest: the rest counts as missing.
  const SyncPlan partial = ClassifyFiles(manifest, {}, GoodState(), true, false);
  EXPECT_EQ(partial.toDownload.size(), manifest.files.size());
}

TEST(PreviousRecord, TheFirstEntryOfAFileCountsAndOnlyWhatARunActsOnIsKeptWhole) {
  const Manifest manifest = GameManifest();
  InstalledState state = GoodState();
  state.files.push_back({"DATA/TRUSTED.TXT", kNew, 1, 1, false, false});  // a later entry of the same file
  state.files.push_back({"old/gone.txt", kOld, 3, 3, false, false});
  std::vector<DiskFile> disk = GameDisk(manifest);
  const PreviousRecord record = RecordOf(manifest, disk, state);
  ASSERT_EQ(record.files.size(), manifest.files.size());
  EXPECT_TRUE(record.files[0].known && record.files[0].trusted);
  EXPECT_FALSE(record.files[4].trusted);  // data/changed.txt has a new hash
  EXPECT_FALSE(record.files[8].known);    // config/new.cfg was never recorded
  EXPECT_TRUE(record.files[9].known);     // recorded as data/casestate.txt
  // Trust needs the disk's size and time as recorded, and a file on the disk at all.
  disk[0].mtime += 1;
  disk[9].exists = false;
  const PreviousRecord touched = RecordOf(manifest, disk, state);
  EXPECT_FALSE(touched.files[0].trusted);
  EXPECT_TRUE(touched.files[9].known && !touched.files[9].trusted);
  EXPECT_EQ(Paths(record.unavailable), std::vector<std::string>{"data/was-unavailable.txt"});
  EXPECT_EQ(Paths(record.unlisted), std::vector<std::string>{"old/gone.txt"});
  EXPECT_EQ(record.build, "b1");
  // Every entry counts for the comparison with the next record, in any order.
  EXPECT_EQ(record.entries, state.files.size());
  EXPECT_TRUE(SameAsPrevious(state, record));
  std::swap(state.files.front(), state.files.back());
  EXPECT_TRUE(SameAsPrevious(state, record));
  state.files.pop_back();
  EXPECT_FALSE(SameAsPrevious(state, record));
}

TEST(SettleHashedFile, OnlyAnUnchangedMatchingFileBecomesCurrent) {
  const HashTask task{ManifestFile{"data/a.txt", kNew, 10, 4, false}, DiskFile{true, 10, kTime}};
  struct Case {
    const char* what;
    std::string digest;
    DiskFile after;
    bool current;
  };
  const std::vector<Case> cases = {
      {"match", kNew, {true, 10, kTime}, true},
      {"other content", kOld, {true, 10, kTime}, false},
      {"upper-case digest is not the manifest's text", std::string(64, 'B'), {true, 10, kTime}, false},
      {"gone afterwards", kNew, {false, 0, 0}, false},
      {"grew while hashed", kNew, {true, 11, kTime}, false},
      {"written while hashed", kNew, {true, 10, kTime + 5}, false},
  };
  for (const Case& c : cases) {
    SyncPlan plan;
    SettleHashedFile(plan, task, c.digest, c.after);
    EXPECT_EQ(plan.current.size(), c.current ? 1u : 0u) << c.what;
    EXPECT_EQ(plan.toDownload.size(), c.current ? 0u : 1u) << c.what;
    if (c.current) {
      EXPECT_EQ(plan.current[0].hash, kNew);
      EXPECT_EQ(plan.current[0].mtime, kTime);
    }
  }
}

TEST(SyncPlan, LostStateDownloadsNothingThatIsAlreadyCorrect) {
  const Manifest manifest = GameManifest();
  SyncPlan plan = ClassifyFiles(manifest, GameDisk(manifest), InstalledState{}, true, false);
  const std::vector<HashTask> tasks = plan.toHash;
  for (const HashTask& task : tasks) {
    // Every file on disk holds the old content.
    SettleHashedFile(plan, task, kOld, task.disk);
  }
  PrepareDownloads(plan, PreviousRecord{}, SyncMode::Update, true);
  Names downloaded = Paths(plan.toDownload);
  std::sort(downloaded.begin(), downloaded.end());
  EXPECT_EQ(downloaded, (Names{"config/new.cfg", "data/changed.txt", "data/folder", "data/missing.txt",
                               "data/resized.txt", "data/was-unavailable.txt"}));
  EXPECT_EQ(plan.current.size() + plan.toDownload.size(), manifest.files.size());
}

TEST(PrepareDownloads, LargestFirstWithTotals) {
  SyncPlan plan;
  for (const auto& [path, zsize] :
       std::vector<std::pair<std::string, uint64_t>>{{"a", 5}, {"b", 9}, {"c", 5}, {"d", 0}, {"e", 9000000000ull}}) {
    plan.toDownload.push_back(ManifestFile{path, kOld, 1, zsize, false});
  }
  PrepareDownloads(plan, PreviousRecord{}, SyncMode::Check, true);
  EXPECT_EQ(Paths(plan.toDownload), (Names{"e", "b", "a", "c", "d"}));
  EXPECT_EQ(plan.bytesToDownload, 9000000019ull);
  EXPECT_TRUE(plan.stillUnavailable.empty());
}

TEST(PrepareDownloads, CheckRunOfAServerListSetsAsideFilesStillUnavailable) {
  const std::string md5a = "0123456789abcdef0123456789abcdef", md5b = "fedcba9876543210fedcba9876543210";
  Manifest list;
  std::wstring error;
  ASSERT_TRUE(
      ParseClientFiles("{\"schema\":1,\"resources\":[{\"name\":\"race\",\"files\":["
                       "{\"path\":\"gone.dff\",\"size\":100,\"md5\":\"" +
                           md5a +
                           "\"},"
                           "{\"path\":\"changed.dff\",\"size\":50,\"md5\":\"" +
                           md5b +
                           "\"},"
                           "{\"path\":\"new.lua\",\"size\":7,\"md5\":\"" +
                           md5a + "\"}]}]}",
                       list, error));
  const auto previous = ParseInstalledState(
      "{\"build\":\"server\",\"complete\":true,\"files\":["
      "{\"path\":\"RESOURCES/race/gone.dff\",\"hash\":\"" +
      md5a +
      "\",\"size\":0,\"mtime\":0,\"unavailable\":true},"
      "{\"path\":\"resources/race/changed.dff\",\"hash\":\"" +
      md5a + "\",\"size\":0,\"mtime\":0,\"unavailable\":true}]}");
  ASSERT_TRUE(previous);

  struct Case {
    const char* what;
    SyncMode mode;
    bool gameMode;
    Names downloaded, setAside;
    uint64_t bytes;
  };
  const std::vector<Case> cases = {
      {"server check",
       SyncMode::Check,
       false,
       {"resources/race/changed.dff", "resources/race/new.lua"},
       {"RESOURCES/race/gone.dff"},
       57},
      {"server update retries it",
       SyncMode::Update,
       false,
       {"resources/race/gone.dff", "resources/race/changed.dff", "resources/race/new.lua"},
       {},
       157},
      {"game check has no such record",
       SyncMode::Check,
       true,
       {"resources/race/gone.dff", "resources/race/changed.dff", "resources/race/new.lua"},
       {},
       157},
  };
  for (const Case& c : cases) {
    const std::vector<DiskFile> missing(list.files.size());
    const PreviousRecord recorded = RecordOf(list, missing, *previous);
    SyncPlan plan = ClassifyFiles(list, missing, recorded, c.gameMode, false);
    PrepareDownloads(plan, recorded, c.mode, c.gameMode);
    EXPECT_EQ(Paths(plan.toDownload), c.downloaded) << c.what;
    EXPECT_EQ(Paths(plan.stillUnavailable), c.setAside) << c.what;
    EXPECT_EQ(plan.bytesToDownload, c.bytes) << c.what;
    for (const InstalledFile& entry : plan.stillUnavailable) EXPECT_TRUE(entry.unavailable);
    // Nothing else to fetch: the new record keeps the file marked unavailable.
    const InstalledState next = NewRunState("server", plan);
    EXPECT_EQ(Paths(next.files), c.setAside) << c.what;
  }
}

// The merged record as a check run writes it: the previous entries as they pass, then the rest.
std::vector<InstalledFile> Merged(const std::vector<InstalledFile>& previous,
                                  const std::vector<InstalledFile>& verified, bool& changed) {
  CheckedStateMerger merger(verified);
  std::vector<InstalledFile> merged;
  for (const InstalledFile& entry : previous) {
    if (const InstalledFile* kept = merger.Add(entry)) merged.push_back(*kept);
  }
  for (const InstalledFile* file : merger.Rest()) merged.push_back(*file);
  changed = merger.Changed();
  return merged;
}

TEST(CheckedStateMerger, VerifiedEntriesReplaceOrAppendAndTheRestStays) {
  const std::vector<InstalledFile> previous = {{"data/a.txt", kOld, 1, 1, false, false},
                                               {"DATA/B.txt", kOld, 2, 2, false, false},
                                               {"data/c.txt", kOld, 3, 3, false, false},
                                               {"data/b.txt", kOld, 9, 9, false, false}};
  const std::vector<InstalledFile> verified = {{"data/b.txt", kNew, 20, 20, false, false},
                                               {"config/user.cfg", "", 4, 4, true, false}};
  bool changed = false;
  const std::vector<InstalledFile> merged = Merged(previous, verified, changed);
  EXPECT_EQ(Paths(merged), (Names{"data/a.txt", "data/b.txt", "data/c.txt", "config/user.cfg"}));
  EXPECT_EQ(merged[1].hash, kNew);
  EXPECT_EQ(merged[1].size, 20u);
  EXPECT_TRUE(merged[3].keep);
  EXPECT_TRUE(changed);

  // After a lost state file the record holds exactly what this check verified.
  EXPECT_EQ(Paths(Merged({}, verified, changed)), (Names{"data/b.txt", "config/user.cfg"}));
  // A record that already holds every verified entry as it is stays as it is; one path recorded
  // twice, a verified entry that differs in any field or one not recorded changes it.
  const std::vector<InstalledFile> same = {previous[0], verified[0], verified[1]};
  EXPECT_EQ(Merged(same, verified, changed), same);
  EXPECT_FALSE(changed);
  Merged({previous[0], verified[0], verified[1], verified[0]}, verified, changed);
  EXPECT_TRUE(changed);
  std::vector<InstalledFile> touched = same;
  touched[1].mtime += 1;
  Merged(touched, verified, changed);
  EXPECT_TRUE(changed);
  Merged({previous[0], verified[0]}, verified, changed);
  EXPECT_TRUE(changed);
}

TEST(NewRunState, CurrentFilesThenTheStillUnavailable) {
  SyncPlan plan;
  plan.current = {{"a", kOld, 1, 2, false, false}};
  plan.stillUnavailable = {{"b", kOld, 0, 0, false, true}};
  const InstalledState state = NewRunState("b7", plan);
  EXPECT_EQ(state.build, "b7");
  EXPECT_FALSE(state.complete);
  EXPECT_EQ(Paths(state.files), (Names{"a", "b"}));
}

TEST(CheckFreeSpace, ReserveOf64MiBAboveTheInstalledSizes) {
  const std::vector<ManifestFile> downloads = {{"a", kOld, 1000000, 10, false},
                                               {"b", kOld, 48576, 999999999, false}};
  EXPECT_EQ(SpaceNeeded(downloads), 1048576u);
  std::wstring error;
  EXPECT_TRUE(CheckFreeSpace(downloads, 1048576 + 67108864, error));
  EXPECT_EQ(error, L"");
  EXPECT_FALSE(CheckFreeSpace(downloads, 1048576 + 67108863, error));
  EXPECT_EQ(error, L"Diskte yeterli yer yok: 1,0 MB gerekli, 65,0 MB boş");
  EXPECT_FALSE(CheckFreeSpace(downloads, 0, error));
  EXPECT_TRUE(CheckFreeSpace({}, 67108864, error));
  EXPECT_FALSE(CheckFreeSpace({}, 67108863, error));
  // A need near the top of the range does not wrap around the reserve.
  const std::vector<ManifestFile> huge = {{"h", kOld, UINT64_MAX - 10, 1, false}};
  EXPECT_FALSE(CheckFreeSpace(huge, UINT64_MAX, error));
}

TEST(EntriesLeftManifest, DeletesRecordedFilesThatLeftButNeverKeepFiles) {
  Manifest manifest = GameManifest();
  manifest.files.push_back({"\xC5\x9F" "ehir/\xC3\xA4.dat", kOld, 10, 5, false});  // şehir/ä.dat
  InstalledState previous = GoodState();
  previous.files.push_back({"old/removed.txt", kOld, 1, 1, false, false});
  previous.files.push_back({"old/user-notes.txt", "", 1, 1, true, false});
  previous.files.push_back({"DATA/TRUSTED.TXT", kOld, 10, kTime, false, false});  // still listed
  previous.files.push_back({"Old/Removed.txt", kOld, 1, 1, false, false});        // same file twice
  previous.files.push_back({"\xC5\x9E" "EHIR/\xC3\x84.DAT", kOld, 10, 1, false, false});  // ŞEHIR/Ä.DAT: listed
  previous.files.push_back({"\xC4\xB0ndex.txt", kOld, 1, 1, false, false});  // İndex.txt: not "index.txt"
  Names gone;
  for (const InstalledFile& entry : EntriesLeftManifest(RecordOf(manifest, GameDisk(manifest), previous))) gone.push_back(entry.path);
  EXPECT_EQ(gone, (Names{"old/removed.txt", "\xC4\xB0ndex.txt"}));
  EXPECT_TRUE(EntriesLeftManifest(RecordOf(manifest, GameDisk(manifest), InstalledState{})).empty());
}

TEST(OwnedPaths, PreviousStateAndManifestWithoutKeepFiles) {
  InstalledState previous;
  previous.files = {{"Data/Old.TXT", kOld, 1, 1, false, false}, {"config/mine.cfg", "", 1, 1, true, false},
                    {"res/gone.lua", kOld, 0, 0, false, true}};
  OwnedPaths owned;
  owned.Add(previous);
  owned.Add(GameManifest());
  for (const char* path : {"data/old.txt", "DATA/OLD.txt", "res/gone.lua", "data/folder", "BIN/talvoreen.exe"}) {
    EXPECT_TRUE(owned.Contains(path)) << path;
  }
  for (const char* path : {"config/mine.cfg", "config/user.cfg", "data/other.txt", "data"}) {
    EXPECT_FALSE(owned.Contains(path)) << path;
  }
}

TEST(NeedsNewerLauncher, ComparesWithThisVersion) {
  const std::vector<std::pair<std::string, bool>> cases = {{"", false},       {"0.4.21", false}, {"0.4.3", false},
                                                           {"0.3.99", false}, {"0.4.22", true},  {"0.5", true},
                                                           {"1", true}};
  for (const auto& [version, newer] : cases) {
    Manifest manifest;
    manifest.minLauncherVersion = version;
    EXPECT_EQ(NeedsNewerLauncher(manifest), newer) << version;
  }
}

TEST(ServerDownloadLimits, WorkerCountFromThreadsAndThreshold) {
  struct Case {
    uint32_t threads, dos, workers;
  };
  const std::vector<Case> cases = {
      {8, 20, 6},  {0, 0, 6}, {1, 0, 1},   {2, 0, 1},          {3, 0, 1},      {0, 2, 1},
      {4, 250, 2}, {0, 5, 2}, {100, 0, 8}, {1000, 100000, 16}, {18, 1000, 16}, {17, 1000, 15},
  };
  const std::wstring url = L"http://game.example:22005/.talvoreen/client-files.json";
  for (const Case& c : cases) {
    Manifest list;
    list.httpThreads = c.threads;
    list.httpDosThreshold = c.dos;
    const DownloadLimits limits = ServerDownloadLimits(url, list);
    EXPECT_EQ(limits.workerCount, c.workers) << c.threads << " " << c.dos;
    EXPECT_TRUE(limits.sameOrigin);
    EXPECT_EQ(limits.downloadBase, L"http://game.example:22005");
  }
}

TEST(ServerDownloadLimits, DownloadBaseOriginAndPacing) {
  const std::wstring url = L"http://game.example:22005/.talvoreen/client-files.json";
  struct Case {
    std::string httpDownloadUrl;
    uint32_t threads;
    std::wstring base;
    bool sameOrigin;
    uint32_t workers;
  };
  const std::vector<Case> cases = {
      {"", 4, L"http://game.example:22005", true, 2},
      {"HTTP://Game.Example:22005/files", 4, L"HTTP://Game.Example:22005/files", true, 2},
      {"https://cdn.example/srv", 4, L"https://cdn.example/srv", false, 16},
      {"http://game.example:22006", 4, L"http://game.example:22006", false, 16},
  };
  for (const Case& c : cases) {
    Manifest list;
    list.httpDownloadUrl = c.httpDownloadUrl;
    list.httpThreads = c.threads;
    const DownloadLimits limits = ServerDownloadLimits(url, list);
    EXPECT_EQ(limits.downloadBase, c.base) << c.httpDownloadUrl;
    EXPECT_EQ(limits.sameOrigin, c.sameOrigin) << c.httpDownloadUrl;
    EXPECT_EQ(limits.workerCount, c.workers) << c.httpDownloadUrl;
    EXPECT_EQ(PacingIntervalMicros(limits, 0), c.sameOrigin ? 16666u : 0u) << c.httpDownloadUrl;
  }

  Manifest list;
  list.httpDosThreshold = 100;  // 3 requests a second per kept-alive request
  const DownloadLimits limits = ServerDownloadLimits(url, list);
  EXPECT_DOUBLE_EQ(limits.requestRate, 3.0);
  EXPECT_EQ(PacingIntervalMicros(limits, 0), 3333u);
  EXPECT_EQ(PacingIntervalMicros(limits, 50), 6666u);
  EXPECT_EQ(PacingIntervalMicros(limits, 1), 333333u);

  const DownloadLimits game = GameDownloadLimits();
  EXPECT_EQ(game.workerCount, 16u);
  EXPECT_EQ(PacingIntervalMicros(game, 100), 0u);
}

TEST(UrlOrigin, SchemeAndAuthority) {
  EXPECT_EQ(UrlOrigin(L"http://h:22005/.talvoreen/client-files.json"), L"http://h:22005");
  EXPECT_EQ(UrlOrigin(L"https://h"), L"https://h");
  EXPECT_EQ(UrlOrigin(L"https://h/"), L"https://h");
  EXPECT_EQ(UrlOrigin(L"h/x"), L"h/x");
}

TEST(ManifestFetch, TextsOfARequestThatFailsAtOnce) {
  FetchFacts facts;
  facts.error = L"Sunucu beklenmeyen yanıt verdi (HTTP 404)";
  facts.status = 404;
  facts.remoteAddress = L"127.0.0.1:22005";
  EXPECT_TRUE(FailsWithoutRetry(facts));
  EXPECT_EQ(RequestFailedLogLine(L"server sf", L"http://h:22005/.talvoreen/client-files.json", facts),
            L"[server sf] http://h:22005/.talvoreen/client-files.json: HTTP 404 from 127.0.0.1:22005: "
            L"Sunucu beklenmeyen yanıt verdi (HTTP 404)");
  struct Case {
    bool gameMode;
    uint32_t status;
    std::wstring text;
    std::wstring error = L"E";
  };
  const std::vector<Case> cases = {
      {false, 404, L"Sunucu dosya listesini vermiyor (sunucu sürümü eski)"},
      {false, 503, L"Sunucu henüz hazır değil, biraz sonra tekrar dene"},
      {false, 0, L"Sunucuya ulaşılamadı: E"},
      {false, 500, L"Sunucuya ulaşılamadı: E"},
      {true, 404, L"Güncellemeler denetlenemedi: E"},
      {true, 503, L"Güncellemeler denetlenemedi: E"},
      // A reason that already names the server says it once.
      {false, 0, L"Sunucuya bağlanılamadı", L"Sunucuya bağlanılamadı"},
      {false, 0, L"Sunucu zamanında yanıt vermedi", L"Sunucu zamanında yanıt vermedi"},
      {false, 0, L"Sunucuya ulaşılamadı: Bağlantı koptu", L"Bağlantı koptu"},
      {false, 0, L"Sunucuya ulaşılamadı: Sun ışığı", L"Sun ışığı"},
  };
  for (const Case& c : cases) {
    FetchFacts failed;
    failed.error = c.error;
    failed.status = c.status;
    EXPECT_EQ(RequestFailedText(c.gameMode, failed), c.text) << c.status;
  }
  // Only a cut-off body is tried again; a body the parser refused is tried again too.
  FetchFacts cutOff;
  cutOff.incomplete = true;
  EXPECT_FALSE(FailsWithoutRetry(cutOff));
  FetchFacts refused;
  refused.requestOk = true;
  EXPECT_FALSE(FailsWithoutRetry(refused));
}

TEST(ManifestFetch, DiagnosticLineOfAFailedTry) {
  FetchFacts facts;
  facts.error = L"Yanıt yarım geldi (1 / 2 KB)";
  facts.status = 200;
  facts.contentType = L"application/json";
  facts.hasContentLength = true;
  facts.contentLength = 2048;
  facts.incomplete = true;
  const std::string body = "{\"schema\":1,\r\n\t\"x\":\"\xC5\x9F\"" + std::string(400, 'z');
  facts.received = body.size();
  const std::wstring line =
      TryDiagnosticLine(L"game", L"https://cdn/game/stable/manifest.json?nocache=1", 2, facts, body);
  const std::wstring start = L"{\"schema\":1,...\"x\":\"..\"" + std::wstring(300 - 23, L'z');
  EXPECT_EQ(line,
            L"[game] https://cdn/game/stable/manifest.json?nocache=1 try 2: Yanıt yarım geldi (1 / 2 KB) | HTTP 200 "
            L"from ?, type 'application/json', length 2048, received " +
                std::to_wstring(body.size()) + L" (cut off), starts: " + start);

  FetchFacts refused;
  refused.requestOk = true;
  refused.error = L"Sunucunun dosya listesi okunamadı";
  refused.status = 200;
  refused.remoteAddress = L"[0:0:0:0:0:0:0:1]:22005";
  EXPECT_EQ(TryDiagnosticLine(L"server sf", L"u", 3, refused, ""),
            L"[server sf] u try 3: Sunucunun dosya listesi okunamadı | HTTP 200 from [0:0:0:0:0:0:0:1]:22005, "
            L"type '', length none, received 0, starts: ");
}

TEST(ManifestFetch, TextAfterTheLastTry) {
  struct Case {
    const char* what;
    bool gameMode, incomplete;
    std::string body;
    std::wstring contentType;
    std::wstring text;
  };
  const std::string kib3(3 * 1024 + 1023, 'x');
  const std::vector<Case> cases = {
      {"game, cut off", true, true, kib3, L"", L"Güncellemeler denetlenemedi: E"},
      {"game, refused", true, false, "<html>", L"text/html", L"E"},
      {"server, cut off", false, true, kib3, L"text/html",
       L"Sunucunun dosya listesi yarım geldi, bağlantı kesiliyor (3 / 10 KB)"},
      {"server, page by its first byte", false, false, " \r\n\t<!DOCTYPE html>", L"application/json",
       L"Sunucunun dosya listesi yerine bir web sayfası geldi (DNS, proxy ya da ağ filtresi olabilir)"},
      {"server, page by its type", false, false, "Sign in", L"Text/HTML; charset=utf-8",
       L"Sunucunun dosya listesi yerine bir web sayfası geldi (DNS, proxy ya da ağ filtresi olabilir)"},
      {"server, other", false, false, kib3.substr(2) + " <", L"application/json",
       L"E (3 KB geldi; ayrıntı: TALVOREEN\\logs\\launcher.log)"},
      {"server, empty", false, false, "", L"", L"E (0 KB geldi; ayrıntı: TALVOREEN\\logs\\launcher.log)"},
  };
  for (const Case& c : cases) {
    FetchFacts facts;
    facts.requestOk = !c.incomplete;
    facts.incomplete = c.incomplete;
    facts.error = L"E";
    facts.contentType = c.contentType;
    facts.hasContentLength = true;
    facts.contentLength = 10 * 1024 + 1000;
    facts.received = c.body.size();
    EXPECT_EQ(LastTryFailedText(c.gameMode, facts, c.body), c.text) << c.what;
    // A body kept on disk is shown by its start and counted whole.
    if (!c.gameMode && c.body.size() > 300) {
      EXPECT_EQ(LastTryFailedText(c.gameMode, facts, c.body.substr(0, 300)), c.text) << c.what;
    }
  }
}

}  // namespace
