// The built launcher over HTTPS: nginx with TLS on 127.0.0.1 (tests/net/https_server.sh),
// trusted through a test authority that this program adds to its Wine prefix's root store
// for its own run.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <sstream>

#include "base/files.h"
#include "base/install_layout.h"
#include "base/registry.h"
#include "base/text.h"
#include "tests/support/test_support.h"
#include "tools/publish/publish.h"

using testing_support::LauncherExePath;
using testing_support::ProcessResult;
using testing_support::ReadBytes;
using testing_support::RegistryValueGuard;
using testing_support::RunLauncher;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

constexpr const char* kSecureText = "Güvenli bağlantı kurulamadı (sistem saatini kontrol et)";

std::wstring ServerFile(const std::wstring& relative) {
  return NormalizePath(JoinPath(WideFromUtf8(TALVOREEN_HTTPS_SERVER), relative));
}

// Ports of the server with the trusted certificate, the untrusted one and the one for another name.
std::vector<std::string> Ports() {
  std::istringstream lines(ReadBytes(ServerFile(L"ports")));
  std::vector<std::string> ports;
  for (std::string port; std::getline(lines, port);) ports.push_back(port);
  return ports;
}

// The certificate in the current user's root store for the life of the object. (Windows asks
// the user before a root goes in there; Wine does not.)
class TrustedRoot {
 public:
  explicit TrustedRoot(const std::string& der)
      : cert_(CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                           static_cast<DWORD>(der.size()))) {
    added_ = cert_ && CertAddEncodedCertificateToSystemStoreW(L"ROOT", cert_->pbCertEncoded, cert_->cbCertEncoded);
  }
  ~TrustedRoot() {
    // The registry store itself: deleting through the system store's view does not last under Wine.
    if (HCERTSTORE store =
            CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT")) {
      if (PCCERT_CONTEXT found =
              CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert_, nullptr)) {
        CertDeleteCertificateFromStore(found);
      }
      CertCloseStore(store, 0);
    }
    if (cert_) CertFreeCertificateContext(cert_);
  }
  TrustedRoot(const TrustedRoot&) = delete;
  TrustedRoot& operator=(const TrustedRoot&) = delete;
  bool Added() const { return added_; }

 private:
  PCCERT_CONTEXT cert_;
  bool added_ = false;
};

uint64_t SizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) return 0;
  return (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

// Lines of the TLS server's access log: "<target> <status> "<Range header>"".
std::vector<std::string> AccessLog() {
  std::istringstream lines(ReadBytes(ServerFile(L"nginx\\access.log")));
  std::vector<std::string> out;
  for (std::string line; std::getline(lines, line);) out.push_back(line);
  return out;
}

class Https : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    trust_ = new TrustedRoot(ReadBytes(ServerFile(L"trusted-ca.der")));
    std::vector<std::string> args = {"game", Utf8FromWide(ServerFile(L"tree\\game")), "--out",
                                     Utf8FromWide(ServerFile(L"www\\cdn")), "--key",
                                     Utf8FromWide(testing_support::TestFile(L"keys\\development.key")), "--build",
                                     "https-1"};
    for (const auto& [path, content] : kGame) {
      const std::wstring full = JoinPath(ServerFile(L"tree\\game"), WideFromUtf8(path));
      CreateDirectoryTree(ParentPath(full));
      WriteBytes(full, content);
    }
    std::ostringstream out, err;
    published_ = publish::RunPublisher(args, out, err) == 0;
  }
  static void TearDownTestSuite() { delete trust_; }

  void SetUp() override {
    ASSERT_EQ(ports.size(), 3u) << "tests/net/https_server.sh did not run";
    ASSERT_TRUE(trust_->Added()) << "the test authority could not be added to the root store";
    ASSERT_TRUE(published_);
  }

  std::wstring Url(int server, const std::string& path) {
    return WideFromUtf8("https://localhost:" + ports[server] + path);
  }

  static inline TrustedRoot* trust_ = nullptr;
  static inline bool published_ = false;
  static inline const std::vector<std::pair<std::string, std::string>> kGame = {
      {"Talvoreen.exe", std::string(300000, 'T')}, {"data/gta.dat", "weather=clear\n"}, {"models/empty.img", ""}};
  std::vector<std::string> ports = Ports();
  TempDir dir;
  std::wstring install = dir.Join(L"install");
};

TEST_F(Https, FreshSyncThenANoOpCheck) {
  ProcessResult sync = RunLauncher({L"--headless", L"sync", L"--dir", install, L"--cdn", Url(0, "/cdn")});
  EXPECT_EQ(sync.exitCode, 0u) << sync.output;
  EXPECT_NE(sync.output.find("result up-to-date build https-1 unavailable 0\n"), std::string::npos) << sync.output;
  for (const auto& [path, content] : kGame) EXPECT_EQ(ReadBytes(JoinPath(install, WideFromUtf8(path))), content) << path;

  const size_t before = AccessLog().size();
  ProcessResult check = RunLauncher({L"--headless", L"check", L"--dir", install, L"--cdn", Url(0, "/cdn")});
  EXPECT_EQ(check.exitCode, 0u) << check.output;
  EXPECT_NE(check.output.find("result up-to-date build https-1"), std::string::npos) << check.output;
  const std::vector<std::string> log = AccessLog();
  ASSERT_GT(log.size(), before);
  for (size_t i = before; i < log.size(); ++i) EXPECT_EQ(log[i].find("/cdn/game/objects/"), std::string::npos) << log[i];
}

TEST_F(Https, AnInterruptedGtaDownloadResumesWithARange) {
  RegistryValueGuard registry{kCommonRegistryKey, kGtaFolderValue};
  DeleteRegistryValue(kCommonRegistryKey, kGtaFolderValue);
  const std::wstring archive = ServerFile(L"www\\gta\\talvoreen-gtasa.rar");
  const std::wstring part = JoinPath(install, L".talvoreen\\gta\\talvoreen-gtasa.rar.part");
  const std::vector<std::wstring> job = {L"--headless", L"gta", L"--dir", install, L"--gta-url",
                                         Url(0, "/gta/talvoreen-gtasa.rar")};

  // The server sends the first MiB at once and then trickles: the launcher is killed while the
  // rest is on its way.
  HANDLE first = testing_support::StartProcess(LauncherExePath(), job);
  ASSERT_NE(first, nullptr);
  uint64_t size = 0;
  for (int i = 0; i < 2400 && size < 900000; ++i) {
    if (WaitForSingleObject(first, 50) == WAIT_OBJECT_0) break;
    size = SizeOf(part);
  }
  TerminateProcess(first, 9);
  WaitForSingleObject(first, 30000);
  CloseHandle(first);
  const uint64_t total = SizeOf(archive), kept = SizeOf(part);
  ASSERT_GE(kept, 900000u);
  ASSERT_LT(kept, total);

  ProcessResult second = RunLauncher(job);
  EXPECT_EQ(second.exitCode, 0u) << second.output;
  EXPECT_EQ(ReadBytes(JoinPath(install, L"GTA-SA\\models\\gta3.img")),
            ReadBytes(ServerFile(L"tree\\GTA-SA\\models\\gta3.img")));
  const std::vector<std::string> log = AccessLog();
  const std::string resumed = "/gta/talvoreen-gtasa.rar 206 \"bytes=" + std::to_string(kept) + "-\"";
  EXPECT_NE(std::find(log.begin(), log.end(), resumed), log.end()) << "no request for the rest of the archive";
}

// A certificate from an authority nobody trusts, and one the trusted authority made for
// another name: each job fails with the secure-connection text before writing anything but its log.
TEST_F(Https, UntrustedOrMisnamedCertificatesFailWithNothingWritten) {
  RegistryValueGuard registry{kCommonRegistryKey, kGtaFolderValue};
  DeleteRegistryValue(kCommonRegistryKey, kGtaFolderValue);
  for (int server : {1, 2}) {
    const std::vector<std::vector<std::wstring>> jobs = {
        {L"sync", L"--cdn", Url(server, "/cdn")},
        {L"gta", L"--gta-url", Url(server, "/gta/talvoreen-gtasa.rar")},
    };
    for (const std::vector<std::wstring>& job : jobs) {
      SCOPED_TRACE("server " + std::to_string(server) + ", " + Utf8FromWide(job[0]));
      const std::wstring folder = dir.Join(L"fail-" + std::to_wstring(server) + job[0]);
      std::vector<std::wstring> args = {L"--headless", job[0], L"--dir", folder};
      args.insert(args.end(), job.begin() + 1, job.end());
      ProcessResult r = RunLauncher(args);
      EXPECT_EQ(r.exitCode, 1u) << r.output;
      EXPECT_NE(r.output.find(kSecureText), std::string::npos) << r.output;
      for (const std::wstring& file : ListTree(folder).files) {
        EXPECT_EQ(file, JoinPath(folder, L"TALVOREEN\\logs\\launcher.log"));
      }
    }
  }
}

}  // namespace
