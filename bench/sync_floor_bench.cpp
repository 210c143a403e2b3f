// In-process floors for bench/sync_bench.sh: the launcher's own parts without the run around
// them, so that a run's figure can be read against what the same code does alone.
//   sync_floor_bench hash <folder> <threads>     the hash engine's code path and its speed in
//                                                memory beside BCrypt's, then every file under
//                                                folder through HashFiles on 1 thread and on
//                                                <threads> threads, best of three
//   sync_floor_bench verify <install> <cdn url> <threads>
//                                                one verify run of the game files in-process
//                                                with 1 and with <threads> hashing threads
//   sync_floor_bench fetch <objects url> <list> <workers>
//                                                every "<sha256> <size>" line of list fetched
//                                                with HttpClient from <objects url>/<aa>/<sha256>.gz
//                                                by <workers> threads, inflated and hashed,
//                                                nothing written
//   sync_floor_bench state <state file>          the read a run makes, then WriteInstalledState to
//                                                a copy beside it
//   sync_floor_bench scan <folder>               sizes and times of every file under folder,
//                                                one query per file and one listing per folder
//   sync_floor_bench list <game|server> <file>   a signed game manifest or a server's file list,
//                                                read from disk and parsed as a run parses it
//   sync_floor_bench check <install> <cdn url>   the parts of a check of the game files one by
//                                                one (fetch, manifest parse, state read, scan,
//                                                hash, manifest copy, state write), then one
//                                                whole check run in-process, without the process
//                                                start and the console
//   sync_floor_bench trust <certificate.der>     adds a certificate authority to the current
//                                                user's root store of this Wine prefix, for
//                                                runs over HTTPS in a prefix of the bench's own
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>
#include <psapi.h>

#include <cryptopp/cpu.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/files.h"
#include "base/gzip_inflater.h"
#include "base/text.h"
#include "manifest/hashing.h"
#include "manifest/installed_state.h"
#include "manifest/manifest.h"
#include "net/http_client.h"
#include "sync/client_files.h"
#include "sync/download_workers.h"
#include "sync/folder_scan.h"
#include "sync/game_sync.h"
#include "sync/parallel_hashing.h"

namespace {

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Highest working set of this process so far, in MiB.
double PeakMiB() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters.PeakWorkingSetSize / 1048576.0;
}

// User and kernel time of this process so far.
double ProcessorSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto seconds = [](const FILETIME& t) {
    return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

// Paths under folder relative to it, "/" separated, as a manifest would list them.
std::vector<ManifestFile> FilesUnder(const std::wstring& folder) {
  std::vector<ManifestFile> files;
  // The state folder is the launcher's own, not a file of the tree.
  const auto skip = [](const std::wstring& path) {
    return path.size() >= 11 && path.compare(path.size() - 11, 11, L"\\.talvoreen") == 0;
  };
  for (const std::wstring& full : ListTree(folder, skip).files) {
    std::wstring relative = full.substr(folder.size() + 1);
    for (wchar_t& c : relative) c = c == L'\\' ? L'/' : c;
    files.emplace_back();
    files.back().path = Utf8FromWide(relative);
  }
  return files;
}

// Bytes per second of one digest kind over a buffer in memory, one thread: the engine alone.
template <typename Digest>
double MemoryRate(const std::vector<unsigned char>& data, Digest digest) {
  const auto start = Clock::now();
  int rounds = 0;
  do {
    digest(data.data(), data.size());
    ++rounds;
  } while (Since(start) < 0.5);
  return rounds * static_cast<double>(data.size()) / Since(start) / 1e6;
}

// The previous engine, for the comparison: BCrypt, as on Windows before.
void BcryptDigest(const wchar_t* algorithm, const unsigned char* data, size_t length) {
  BCRYPT_ALG_HANDLE provider = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  unsigned char digest[32];
  BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr, 0);
  BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0);
  BCryptHashData(hash, const_cast<PUCHAR>(data), static_cast<ULONG>(length), 0);
  BCryptFinishHash(hash, digest, std::wcscmp(algorithm, BCRYPT_MD5_ALGORITHM) == 0 ? 16 : 32, 0);
  BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(provider, 0);
}

int Hash(const std::wstring& folder, unsigned threads) {
  // Which code the engine runs, and what it and BCrypt digest in memory on one thread.
  std::vector<unsigned char> data(64 * 1048576);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
  const auto engine = [](HashKind kind) {
    return [kind](const unsigned char* bytes, size_t length) {
      Hasher hasher(kind);
      hasher.Update(bytes, length);
      hasher.FinishHex();
    };
  };
  const auto bcrypt = [](const wchar_t* algorithm) {
    return [algorithm](const unsigned char* bytes, size_t length) { BcryptDigest(algorithm, bytes, length); };
  };
  std::printf("hash engine: %s; processor SHA instructions %s; %u hashing threads in a run\n",
              HashEngineDescription().c_str(), CryptoPP::HasSHA() ? "present" : "absent", HashThreadCount());
  std::printf("in memory, 1 thread: SHA-256 engine %.0f MB/s, BCrypt %.0f MB/s; MD5 engine %.0f MB/s, BCrypt %.0f MB/s\n",
              MemoryRate(data, engine(kHashSha256)), MemoryRate(data, bcrypt(BCRYPT_SHA256_ALGORITHM)),
              MemoryRate(data, engine(kHashMd5)), MemoryRate(data, bcrypt(BCRYPT_MD5_ALGORITHM)));
  data = std::vector<unsigned char>();

  std::vector<HashTask> tasks;
  uint64_t total = 0;
  for (const ManifestFile& file : FilesUnder(folder)) {
    tasks.push_back({file, ReadDiskFile(JoinPath(folder, WideFromUtf8(file.path)))});
    total += tasks.back().disk.size;
  }
  // Best of three, 1 and N threads in turn, so that a burst of load elsewhere on a shared
  // machine does not land on one thread count only. The processor time beside it tells how
  // much of the cores the run had: on a busy machine N threads may get no more than one.
  double best[2] = {1e30, 1e30}, cpu[2] = {0, 0};
  const unsigned counts[2] = {1u, threads};
  for (int round = 0; round < 3; ++round) {
    for (int c = 0; c < 2; ++c) {
      std::vector<HashedFile> results;
      const double cpuStart = ProcessorSeconds();
      const auto start = Clock::now();
      HashFiles(kHashSha256, folder, tasks, counts[c], nullptr, nullptr, results);
      const double seconds = Since(start);
      if (seconds < best[c]) best[c] = seconds, cpu[c] = ProcessorSeconds() - cpuStart;
    }
  }
  for (int c = 0; c < 2; ++c) {
    std::printf("hash %u thread(s) %.3f s %.1f MB/s (%zu files, %llu bytes, best of 3; processor time %.3f s)\n",
                counts[c], best[c], total / best[c] / 1e6, tasks.size(), static_cast<unsigned long long>(total), cpu[c]);
  }
  return 0;
}

// One verify run of the game files in-process on 1 and on N hashing threads, so that the
// whole verify can be split into the process, the run around the hashing and the hashing.
int Verify(const std::wstring& install, const std::wstring& cdn, unsigned threads) {
  for (unsigned count : {1u, threads}) {
    GameSync sync;
    sync.SetContentBaseUrl(cdn);
    sync.SetHashThreads(count);
    sync.SetInstallFolder(install);
    const auto start = Clock::now();
    sync.Start(SyncMode::Update, true);
    sync.Join();
    const double run = Since(start);
    const SyncSnapshot s = sync.GetSnapshot();
    std::printf("verify in-process %u thread(s): run %.3f s, %llu bytes hashed, %s\n", count, run,
                static_cast<unsigned long long>(s.bytesVerified), Utf8FromWide(SyncStatusName(s.status)).c_str());
    if (s.status != kSyncUpToDate) return 1;
  }
  return 0;
}

int Fetch(const std::wstring& objectsUrl, const std::wstring& listPath, unsigned workers) {
  struct Object {
    std::string hash;
    uint64_t size = 0;
  };
  std::vector<Object> objects;
  std::ifstream list(Utf8FromWide(listPath));
  Object object;
  while (list >> object.hash >> object.size) objects.push_back(object);
  std::atomic<size_t> next{0};
  std::atomic<uint64_t> inflated{0};
  std::atomic<unsigned> failures{0};
  const auto start = Clock::now();
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < workers; ++t) {
    pool.emplace_back([&] {
      HttpClient client;
      for (size_t i; (i = next.fetch_add(1)) < objects.size();) {
        GzipInflater inflater;
        Hasher hasher(kHashSha256);
        uint64_t written = 0;
        auto sink = [&](const uint8_t* data, size_t length) {
          hasher.Update(data, length);
          written += length;
          return true;
        };
        std::wstring error;
        const std::wstring url = objectsUrl + L"/" + WideFromUtf8(objects[i].hash.substr(0, 2)) + L"/" +
                                 WideFromUtf8(objects[i].hash) + L".gz";
        const bool ok = client.Get(
            url, {}, [](const HttpResponseInfo& info) { return info.status == 200; },
            [&](const uint8_t* data, uint32_t length) { return inflater.Finished() || inflater.Feed(data, length, sink); },
            error, nullptr);
        if (!ok || written != objects[i].size || hasher.FinishHex() != objects[i].hash) ++failures;
        inflated += written;
      }
    });
  }
  for (std::thread& thread : pool) thread.join();
  const double seconds = Since(start);
  std::printf("fetch+inflate+hash %u workers %.2f s %.1f MB/s (%zu objects, %u failed)\n", workers, seconds,
              inflated / seconds / 1e6, objects.size(), failures.load());
  return failures ? 1 : 0;
}

int State(const std::wstring& path) {
  auto start = Clock::now();
  const auto state = ReadStateFile(path).state;
  const double read = Since(start);
  if (!state) {
    std::printf("state: cannot read\n");
    return 1;
  }
  start = Clock::now();
  const bool written = WriteInstalledState(path + L".bench", *state);
  const double write = Since(start);
  DeleteFileW((path + L".bench").c_str());
  std::printf("state %zu files read %.3f s write %.3f s%s, peak working set %.0f MiB\n", state->files.size(), read, write,
              written ? "" : " (failed)", PeakMiB());
  return written ? 0 : 1;
}

int Scan(const std::wstring& folder) {
  const std::vector<ManifestFile> files = FilesUnder(folder);
  auto start = Clock::now();
  size_t found = 0;
  for (const ManifestFile& file : files) found += ReadDiskFile(JoinPath(folder, WideFromUtf8(file.path))).exists;
  const double each = Since(start);
  start = Clock::now();
  size_t listed = 0;
  for (const DiskFile& disk : ReadDiskFiles(folder, files)) listed += disk.exists;
  const double byFolder = Since(start);
  std::printf("scan %zu files: one query each %.3f s (%zu found), one listing per folder %.3f s (%zu found)\n",
              files.size(), each, found, byFolder, listed);
  return 0;
}

int List(const std::wstring& kind, const std::wstring& path) {
  std::string body;
  if (!ReadWholeFile(path, body)) return 1;
  Manifest manifest;
  std::wstring error;
  const auto start = Clock::now();
  const bool ok = kind == L"game" ? ParseGameManifest(body, manifest, error) : ParseClientFiles(body, manifest, error);
  const double seconds = Since(start);
  std::printf("list %zu files (%zu bytes) parsed %.3f s%s, peak working set %.0f MiB\n", manifest.files.size(), body.size(),
              seconds, ok ? "" : " (refused)", PeakMiB());
  return ok ? 0 : 1;
}

// The parts of a no-op check one after another, each as the run does it, then the whole run.
// The state write is what a run that changed nothing no longer does.
int Check(const std::wstring& install, const std::wstring& cdn) {
  const std::wstring stateFolder = JoinPath(install, L".talvoreen");
  const std::wstring statePath = JoinPath(stateFolder, L"installed.json");
  auto start = Clock::now();
  HttpClient client;
  std::string body;
  std::wstring error;
  const bool fetched =
      client.GetString(AppendNoCache(cdn + L"/game/stable/manifest.json"), body, error, kGameManifestLimit, nullptr);
  const double fetch = Since(start);
  start = Clock::now();
  Manifest manifest;
  const bool parsed = fetched && ParseGameManifest(body, manifest, error);
  const double parse = Since(start);
  start = Clock::now();
  const StateFileRead read = ReadStateFile(statePath);
  const double stateRead = Since(start);
  start = Clock::now();
  const std::vector<DiskFile> disk = ReadDiskFiles(install, manifest.files);
  const double scan = Since(start);
  start = Clock::now();
  const SyncPlan plan = ClassifyFiles(manifest, disk, read.state.value_or(InstalledState()), true, false);
  std::vector<HashedFile> hashed;
  HashFiles(kHashSha256, install, plan.toHash, HashThreadCount(), [](uint64_t) {}, nullptr, hashed);
  const double classify = Since(start);
  start = Clock::now();
  std::string copy;
  const bool same = ReadWholeFile(JoinPath(stateFolder, kManifestCopyName), copy) && copy == body;
  const double compare = Since(start);
  start = Clock::now();
  const bool written = read.state && WriteInstalledState(statePath + L".bench", *read.state);
  const double stateWrite = Since(start);
  DeleteFileW((statePath + L".bench").c_str());
  std::printf("check parts: fetch %.3f s, manifest parse %.3f s, state read %.3f s, scan %.3f s, "
              "classify + hash %zu .exe/.dll %.3f s, manifest copy compare %.3f s%s, state write %.3f s%s "
              "(skipped by a run that changes nothing)\n",
              fetch, parse, stateRead, scan, plan.toHash.size(), classify, compare, same ? "" : " (differs)", stateWrite,
              written ? "" : " (failed)");
  if (!parsed) return 1;

  GameSync sync;
  sync.SetContentBaseUrl(cdn);
  start = Clock::now();
  sync.SetInstallFolder(install);
  const double setUp = Since(start);
  start = Clock::now();
  sync.Start(SyncMode::Check, false);
  sync.Join();
  const double run = Since(start);
  const SyncSnapshot s = sync.GetSnapshot();
  // The state is read on a thread of SetInstallFolder's, which the run waits for: set-up
  // and run together hold the one read.
  std::printf("check in-process: set-up %.3f s, run %.3f s, together %.3f s, %s\n", setUp, run, setUp + run,
              Utf8FromWide(SyncStatusName(s.status)).c_str());
  return s.status == kSyncUpToDate ? 0 : 1;
}

int Trust(const std::wstring& path) {
  std::string der;
  if (!ReadWholeFile(path, der)) return 1;
  if (!CertAddEncodedCertificateToSystemStoreW(L"ROOT", reinterpret_cast<const BYTE*>(der.data()),
                                               static_cast<DWORD>(der.size()))) {
    std::fprintf(stderr, "the certificate could not be added: %lu\n", GetLastError());
    return 1;
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"hash" && argc == 4) return Hash(NormalizePath(argv[2]), static_cast<unsigned>(_wtoi(argv[3])));
  if (command == L"verify" && argc == 5) {
    return Verify(NormalizePath(argv[2]), argv[3], static_cast<unsigned>(_wtoi(argv[4])));
  }
  if (command == L"fetch" && argc == 5) return Fetch(argv[2], argv[3], static_cast<unsigned>(_wtoi(argv[4])));
  if (command == L"state" && argc == 3) return State(NormalizePath(argv[2]));
  if (command == L"scan" && argc == 3) return Scan(NormalizePath(argv[2]));
  if (command == L"list" && argc == 4) return List(argv[2], NormalizePath(argv[3]));
  if (command == L"check" && argc == 4) return Check(NormalizePath(argv[2]), argv[3]);
  if (command == L"trust" && argc == 3) return Trust(NormalizePath(argv[2]));
  std::fprintf(stderr, "usage: sync_floor_bench hash <folder> <threads> | verify <install> <cdn url> <threads> | "
                       "fetch <objects url> <list> <workers> | state <state file> | scan <folder> | list <game|server> <file> | check <install> <cdn url> | "
                       "trust <certificate.der>\n");
  return 2;
}
