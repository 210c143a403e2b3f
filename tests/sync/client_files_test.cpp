// The server file list parser, from inline documents and from what talvoreen-publish writes.
#include "sync/client_files.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "manifest/envelope.h"
#include "manifest/installed_state.h"
#include "tests/support/pieces.h"
#include "tests/support/signing.h"
#include "tools/publish/fileio.h"
#include "tools/publish/keys.h"
#include "tools/publish/publish.h"

namespace fs = std::filesystem;
using testing_support::EnvelopeText;

namespace {

const std::string kMd5 = "900150983cd24fb0d6963f7d28e17f72";

std::string FileJson(const std::string& path, const std::string& size = "3", const std::string& md5 = kMd5) {
  return "{\"path\":\"" + path + "\",\"size\":" + size + ",\"md5\":\"" + md5 + "\"}";
}

std::string Document(const std::string& resources, const std::string& extra = "") {
  return "{\"schema\":1," + extra + "\"resources\":[" + resources + "]}";
}

std::string Resource(const std::string& name, const std::string& files) {
  return "{\"name\":\"" + name + "\",\"files\":[" + files + "]}";
}

std::vector<std::string> Paths(const Manifest& list) {
  std::vector<std::string> paths;
  for (const ManifestFile& file : list.files) paths.push_back(file.path);
  return paths;
}

// The list read in pieces of pieceBytes, as it is read from the file it was downloaded to.
bool ParseInPieces(const std::string& body, size_t pieceBytes, Manifest& list, std::wstring& error) {
  return ParseClientFiles(ReadInPieces(body, pieceBytes), list, error);
}

// Whole, and in pieces small enough to cut every word, escape and comment: the same list.
Manifest ParseOk(const std::string& body) {
  Manifest list;
  std::wstring error = L"unchanged";
  EXPECT_TRUE(ParseClientFiles(body, list, error)) << body;
  EXPECT_EQ(error, L"");
  for (size_t piece : {1, 2, 5}) {
    Manifest again;
    EXPECT_TRUE(ParseInPieces(body, piece, again, error)) << piece << body;
    EXPECT_EQ(Paths(again), Paths(list)) << piece << body;
    EXPECT_TRUE(SameClientList(again, list)) << piece << body;
  }
  return list;
}

TEST(ParseClientFiles, AcceptedFileBecomesManifestEntryUnderResources) {
  const Manifest list =
      ParseOk(Document(Resource("race", FileJson("client/car.lua", "3", "900150983CD24FB0D6963F7D28E17F72")) + "," +
                       Resource("hud", FileJson("img/x.png", "8589934592"))));
  ASSERT_EQ(list.files.size(), 2u);
  const ManifestFile& car = list.files[0];
  EXPECT_EQ(car.path, "resources/race/client/car.lua");
  EXPECT_EQ(ServerUrlPath(car), "race/client/car.lua");
  EXPECT_TRUE(car.serverFile);
  EXPECT_EQ(car.size, 3u);
  EXPECT_EQ(car.zsize, 3u);
  EXPECT_EQ(car.hash, kMd5);  // stored lower-cased
  EXPECT_FALSE(car.keep);
  EXPECT_EQ(list.files[1].size, 8589934592ull);
  EXPECT_EQ(list.totalSize, 8589934595ull);
  EXPECT_EQ(list.build, "server");
  EXPECT_FALSE(list.required);
  EXPECT_EQ(list.minLauncherVersion, "");
  EXPECT_EQ(list.httpDownloadUrl, "");
  EXPECT_EQ(list.httpThreads, 0u);
  EXPECT_EQ(list.httpDosThreshold, 0u);
}

TEST(ParseClientFiles, DocumentLevelFailuresLeaveTheOutputUntouched) {
  const std::vector<std::string> bad = {
      "",
      "[]",
      "{\"schema\":1}",
      "{\"schema\":2,\"resources\":[]}",
      "{\"schema\":1.0,\"resources\":[]}",
      "{\"schema\":\"1\",\"resources\":[]}",
      "{\"schema\":1,\"resources\":{}}",
      "{\"schema\":1,\"resources\":[]",  // cut off
      "<html><body>proxy login</body></html>",
      // Beyond the hand-written forms: \' (no escape), a quote that never closes, NUL bytes, a
      // comment that never ends, a lone comma, a tab after a backslash, NaN where 1 must be, a word
      // cut short, forms of no reader.
      "{'schema':1,'x':'it\\'s','resources':[]}",
      "{'schema':1,\"resources\":[]}\"}",
      "{\"schema\":1,\"resources\":[],\"x\":tru}",
      "{\"schema\":1,\"resources\":[]}" + std::string(1, '\0') + "}",
      "{\"schema\":1,\"resources\":[]} /* open",
      "{\"schema\":1,\"resources\":[,]}",
      "{\"schema\":1,,\"resources\":[]}",
      "{\"schema\":1,\"x\":\"a\\\tb\",\"resources\":[]}",
      "{\"schema\":NaN,\"resources\":[]}",
      "{\"schema\":1,\"resources\":[]} // end\n}",
      "{\"schema\":1 / 2,\"resources\":[]}",
      // The last of a repeated key counts.
      "{\"schema\":1,\"resources\":[],\"schema\":2}",
      "{\"schema\":1,\"resources\":[],\"resources\":7}",
      // Deeper than 32 levels, wherever it is.
      Document("{\"name\":\"r\",\"x\":" + std::string(30, '[') + std::string(30, ']') + ",\"files\":[]}"),
  };
  for (const std::string& body : bad) {
    Manifest list;
    list.build = "before";
    std::wstring error;
    EXPECT_FALSE(ParseClientFiles(body, list, error)) << body;
    EXPECT_EQ(error, L"Sunucunun dosya listesi okunamadı");
    EXPECT_EQ(list.build, "before");
    EXPECT_FALSE(ParseInPieces(body, 2, list, error)) << body;
    EXPECT_EQ(list.build, "before");
  }
  EXPECT_TRUE(ParseOk(Document("")).files.empty());
  EXPECT_TRUE(ParseOk(Document("{\"name\":\"r\",\"x\":" + std::string(29, '[') + std::string(29, ']') + ",\"files\":[]}"))
                  .files.empty());
}

// Members in any order, the last of a repeated key counting, as in any JSON object.
TEST(ParseClientFiles, ObjectMembersInAnyOrderLastRepeatWins) {
  const std::string filesFirst = "{\"files\":[" + FileJson("a.lua") + "],\"name\":\"late\"}";
  const std::string renamed = "{\"name\":\"old\",\"files\":[" + FileJson("b.lua") + "],\"name\":\"new\"}";
  const std::string refiled = "{\"name\":\"f\",\"files\":[" + FileJson("c.lua") + "],\"files\":[" +
                              FileJson("d.lua") + "]}";
  const std::string unnamed = "{\"name\":\"gone\",\"files\":[" + FileJson("e.lua") + "],\"name\":[]}";
  const std::string fileRepeats = "{\"md5\":\"x\",\"path\":\"a/../x\",\"size\":-1,\"path\":\"g.lua\",\"size\":4,\"md5\":\"" +
                                  kMd5 + "\",\"more\":{\"path\":1}}";
  const Manifest list = ParseOk(Document(filesFirst + "," + renamed + "," + refiled + "," + unnamed + "," +
                                         Resource("h", fileRepeats + "," + FileJson("i.lua") + "," +
                                                           "{\"path\":\"j.lua\",\"size\":3,\"md5\":\"" + kMd5 +
                                                           "\",\"size\":\"3\"}")));
  EXPECT_EQ(Paths(list), (std::vector<std::string>{"resources/late/a.lua", "resources/new/b.lua", "resources/f/d.lua",
                                                   "resources/h/g.lua", "resources/h/i.lua"}));
  EXPECT_EQ(list.files[3].size, 4u);

  // A repeated "resources" replaces everything the first one gave, including the paths seen.
  const Manifest replaced = ParseOk("{\"resources\":[" + Resource("r", FileJson("a.lua")) + "],\"schema\":1," +
                                    "\"httpThreads\":5,\"httpThreads\":{},\"resources\":[" +
                                    Resource("r", FileJson("A.lua")) + "]}");
  EXPECT_EQ(Paths(replaced), (std::vector<std::string>{"resources/r/A.lua"}));
  EXPECT_EQ(replaced.httpThreads, 0u);
}

// Operators write their lists by hand: what the earlier tree reader took from them is read the
// same way, and a form that breaks one file's rule still skips only that file.
TEST(ParseClientFiles, HandWrittenFormsAreRead) {
  struct Case {
    const char* what;
    std::string body;
    std::vector<std::string> paths;
  };
  const std::string a = FileJson("a.lua"), b = FileJson("b.lua");
  const std::vector<std::string> both = {"resources/r/a.lua", "resources/r/b.lua"};
  const std::vector<Case> cases = {
      {"trailing commas everywhere",
       "{\"schema\":1,\"resources\":[{\"name\":\"r\",\"files\":[" + a + "," + b + ",],},],}", both},
      {"line comments", "// made by hand\n" + Document(Resource("r", a + ", // the first\n" + b)) + "// end", both},
      {"block comments with quotes and stars inside",
       Document(Resource("r", a + "/* \"b.lua\" was here **/," + b), "/* a \"quote\" */"), both},
      {"raw tab and line feed in a string of no interest",
       Document(Resource("r", a + "," + b), "\"note\":\"tab\there\nand a line\","), both},
      {"raw tab in a path skips that file", Document(Resource("r", a + "," + FileJson("x\ty.lua") + "," + b)), both},
      {"NaN and Infinity sizes skip their files",
       Document(Resource("r", a + "," + FileJson("n.lua", "NaN") + "," + FileJson("i.lua", "Infinity") + "," +
                                  FileJson("m.lua", "-Infinity") + "," + b)),
       both},
      {"single quotes around keys and strings, a double quote and an escape inside",
       "{'schema':1,'resources':[{'name':'r','files':[{'path':'a.lua','size':3,'md5':'" + kMd5 + "'}," + b +
           "]}],'note':'say \"hi\" \\\"twice\\\"\t'}",
       both},
      {"the five words in any letter case",
       Document(Resource("r", a + "," + FileJson("n.lua", "nan") + "," + FileJson("i.lua", "INFINITY") + "," +
                                  FileJson("m.lua", "-infinity") + "," + b),
                "\"x\":[TRUE,False,NULL,nAn,'true'],"),
       both},
      {"escapes still work next to raw characters",
       Document(Resource("r", FileJson("t\\u0061b.lua") + "," + b), "\"x\":\"\\\"\t\\\\\","),
       {"resources/r/tab.lua", "resources/r/b.lua"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Paths(ParseOk(c.body)), c.paths) << c.what;
  }
  const Manifest settings =
      ParseOk(Document("", "\"httpThreads\":NaN,/* slow */\"httpDosThreshold\":Infinity,\"httpDownloadUrl\":\"http://x\ty\","));
  EXPECT_EQ(settings.httpThreads, 0u);
  EXPECT_EQ(settings.httpDosThreshold, 0u);
  EXPECT_EQ(settings.httpDownloadUrl, "");
}

// The envelope and the state file are written by machines: the hand-written forms are refused
// there, each beside the same text without it, which is read.
TEST(ParseClientFiles, MachineWrittenDocumentsStayStrict) {
  const std::vector<std::pair<std::string, std::string>> forms = {
      {",\"n\":1", ",\"n\":1,"},
      {"", "/* c */"},
      {"", "// c\n"},
      {",\"n\":1.5", ",\"n\":NaN"},
      {",\"n\":1.5", ",\"n\":-Infinity"},
      {",\"n\":\"a\\tb\"", ",\"n\":\"a\tb\""},
      {",\"n\":\"a\"", ",\"n\":'a'"},
      {",\"n\":true", ",\"n\":TRUE"},
      {",\"n\":null", ",\"n\":Null"},
  };
  const publish::SigningKey key = testing_support::DevelopmentKey();
  const std::string payload = "{\"schema\":1}";
  const std::string signature = publish::SignMessage(key, payload);
  const std::string publicKey = publish::EncodeBase64(key.publicKey);
  const std::string format = "talvoreen-signed-v1";
  for (const auto& [plain, handWritten] : forms) {
    std::string read;
    std::wstring error;
    EXPECT_TRUE(VerifyEnvelopeWithKey(EnvelopeText(payload, signature, format, plain), publicKey, read, error)) << plain;
    EXPECT_FALSE(VerifyEnvelopeWithKey(EnvelopeText(payload, signature, format, handWritten), publicKey, read, error))
        << handWritten;
    const std::string state = "{\"version\":1,\"build\":\"b\",\"complete\":true,\"files\":[]";
    EXPECT_TRUE(ParseInstalledState(state + plain + "}")) << plain;
    EXPECT_FALSE(ParseInstalledState(state + handWritten + "}")) << handWritten;
  }
}

TEST(ParseClientFiles, FilesBreakingARuleAreSkippedAlone) {
  struct Case {
    const char* what;
    std::string file;
  };
  const std::vector<Case> skipped = {
      {"md5 of 31 digits", FileJson("a.lua", "3", kMd5.substr(1))},
      {"md5 with g", FileJson("a.lua", "3", "g" + kMd5.substr(1))},
      {"size above 8 GiB", FileJson("a.lua", "8589934593")},
      {"negative size", FileJson("a.lua", "-1")},
      {"size not an integer", FileJson("a.lua", "3.0")},
      {"size as text", FileJson("a.lua", "\"3\"")},
      {"no path", "{\"size\":3,\"md5\":\"" + kMd5 + "\"}"},
      {"no md5", "{\"path\":\"a.lua\",\"size\":3}"},
      {"not an object", "\"a.lua\""},
      {"parent segment", FileJson("../a.lua")},
      {"backslash", FileJson("x\\\\a.lua")},
      {"device name", FileJson("con.lua")},
      {"absolute", FileJson("/a.lua")},
      {"empty path", FileJson("")},
      {"not UTF-8", FileJson("bad\xFF.lua")},
      {"cut-off UTF-8", FileJson("bad\xC5.lua")},
      {"first.lua again beyond ASCII case", FileJson("FIRST.lua")},
      {"a file under first.lua", FileJson("first.lua/x.lua")},
  };
  for (const Case& c : skipped) {
    const Manifest list =
        ParseOk(Document(Resource("r", FileJson("first.lua") + "," + c.file + "," + FileJson("last.lua"))));
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"resources/r/first.lua", "resources/r/last.lua"})) << c.what;
  }
}

TEST(ParseClientFiles, ResourcesWithoutAUsableNameOrFileArrayAreSkipped) {
  const Manifest list = ParseOk(Document(Resource("a/b", FileJson("x.lua")) + "," + Resource("", FileJson("x.lua")) +
                                         "," + "{\"name\":\"nofiles\"}," + "{\"name\":7,\"files\":[" +
                                         FileJson("x.lua") + "]}," + "\"text\"," + Resource("ok", FileJson("x.lua"))));
  EXPECT_EQ(Paths(list), (std::vector<std::string>{"resources/ok/x.lua"}));
}

TEST(ParseClientFiles, BothPathsMustBeSafeAndLocalPathsUnique) {
  // ".talvoreen" is refused as the first segment of the server path, allowed deeper locally.
  const Manifest list =
      ParseOk(Document(Resource(".talvoreen", FileJson("x.lua")) + "," + Resource("Race", FileJson("Car.lua")) + "," +
                       Resource("race", FileJson("car.LUA") + "," + FileJson("other.lua"))));
  EXPECT_EQ(Paths(list), (std::vector<std::string>{"resources/Race/Car.lua", "resources/race/other.lua"}));
  // Case beyond ASCII (Şehir, şehir) and a folder of an earlier file's path are one file too.
  const Manifest folded = ParseOk(Document(Resource("ui", FileJson("\xC5\x9E" "ehir/a.lua") + "," +
                                                              FileJson("\xC5\x9F" "ehir/a.lua") + "," +
                                                              FileJson("\xC5\x9F" "ehir") + "," + FileJson("b.lua"))));
  EXPECT_EQ(Paths(folded), (std::vector<std::string>{"resources/ui/\xC5\x9E" "ehir/a.lua", "resources/ui/b.lua"}));

  // The local path is 10 bytes longer than the server path; 240 is the limit for both.
  const std::string name(200, 'n');
  const std::string fits(240 - 10 - name.size() - 1, 'f');
  const Manifest longest = ParseOk(Document(Resource(name, FileJson(fits) + "," + FileJson(fits + "x"))));
  ASSERT_EQ(longest.files.size(), 1u);
  EXPECT_EQ(longest.files[0].path.size(), 240u);
}

TEST(ParseClientFiles, OptionalServerSettings) {
  struct Case {
    std::string members;
    std::string url;
    uint32_t threads, dos;
  };
  const std::vector<Case> cases = {
      {"\"httpDownloadUrl\":\"https://cdn.example.org/srv//\",", "https://cdn.example.org/srv", 0, 0},
      {"\"httpDownloadUrl\":\"http://"
       "h:8080\",\"httpThreads\":1000,\"httpDosThreshold\":100000,",
       "http://h:8080", 1000, 100000},
      {"\"httpDownloadUrl\":\"https://h/"
       "x?y\",\"httpThreads\":5000,\"httpDosThreshold\":100001,",
       "", 0, 0},
      {"\"httpDownloadUrl\":\"ftp://"
       "h\",\"httpThreads\":-1,\"httpDosThreshold\":20.0,",
       "", 0, 0},
      {"\"httpDownloadUrl\":\"https://h/a b\",\"httpThreads\":\"4\",", "", 0, 0},
      {"\"httpDownloadUrl\":\"https://h/#x\",", "", 0, 0},
      {"\"httpDownloadUrl\":\"https://h/<x>\",", "", 0, 0},
      {"\"httpDownloadUrl\":\"http:////\",", "", 0, 0},
      {"\"httpDownloadUrl\":\"https:///h\",", "", 0, 0},
      {"\"httpDownloadUrl\":\"https://\",", "", 0, 0},
      {"\"httpDownloadUrl\":\"https://h/\",", "https://h", 0, 0},
      {"\"httpDownloadUrl\":5,\"httpThreads\":0,\"httpDosThreshold\":0,", "", 0, 0},
      {"\"httpDownloadUrl\":\"https://" + std::string(2047 - 8, 'h') + "\",", "https://" + std::string(2039, 'h'), 0,
       0},
      {"\"httpDownloadUrl\":\"https://" + std::string(2048 - 8, 'h') + "\",", "", 0, 0},
  };
  for (const Case& c : cases) {
    const Manifest list = ParseOk(Document(Resource("r", FileJson("a.lua")), c.members));
    EXPECT_EQ(list.httpDownloadUrl, c.url) << c.members.substr(0, 80);
    EXPECT_EQ(list.httpThreads, c.threads) << c.members.substr(0, 80);
    EXPECT_EQ(list.httpDosThreshold, c.dos) << c.members.substr(0, 80);
    EXPECT_EQ(list.files.size(), 1u);
  }
}

TEST(ParseClientFiles, MoreThan200000AcceptedFilesFailTheDocument) {
  auto manyFiles = [](size_t count, const std::string& prefix) {
    std::string files;
    files.reserve(count * 70);
    for (size_t i = 0; i < count; ++i) {
      if (i) files += ",";
      files += FileJson(prefix + std::to_string(i));
    }
    return files;
  };
  // Skipped files do not count towards the limit.
  const std::string limit =
      Document(Resource("a", manyFiles(100000, "f")) + "," + Resource("b", manyFiles(100000, "f")) + "," +
               Resource("c", FileJson("../skipped")));
  Manifest list;
  std::wstring error;
  ASSERT_TRUE(ParseClientFiles(limit, list, error));
  EXPECT_EQ(list.files.size(), 200000u);

  const std::string over = Document(Resource("a", manyFiles(100000, "f")) + "," +
                                    Resource("b", manyFiles(100000, "f")) + "," + Resource("c", FileJson("one")));
  EXPECT_FALSE(ParseClientFiles(over, list, error));
  EXPECT_EQ(error, L"Sunucunun dosya listesi okunamadı");
  EXPECT_FALSE(ParseInPieces(over, 65536, list, error));
}

// ---- What talvoreen-publish writes is what the launcher reads ---------------------------

class Folder {
 public:
  Folder() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = fs::temp_directory_path() / ("tvclientfiles-" + std::to_string(stamp) + "-" + std::to_string(++counter));
    fs::create_directories(path_);
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  fs::path operator/(const std::string& relative) const { return path_ / publish::PathFromUtf8(relative); }

 private:
  fs::path path_;
};

void Write(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(ParseClientFiles, ReadsWhatThePublisherWrites) {
  Folder resources, out;
  Write(resources / "race/client/car.lua", "abc");
  Write(resources / "race/meta.xml", "");
  Write(resources /
            "hud/img/\xC5\x9F"
            "ehir.png",
        std::string(70000, 'p'));
  Write(resources / "empty/.keep", "k");
  const std::string listPath = publish::Utf8FromPath(out / "client-files.json");
  std::ostringstream stdoutText, stderrText;
  ASSERT_EQ(
      publish::RunPublisher({"client-files", publish::Utf8FromPath(resources / ""), "--out", listPath, "--download-url",
                             "https://files.example.org/srv/", "--threads", "4", "--dos-threshold", "250"},
                            stdoutText, stderrText),
      0)
      << stderrText.str();
  std::string body, error;
  ASSERT_TRUE(publish::ReadFileBytes(out / "client-files.json", body, error)) << error;

  const Manifest list = ParseOk(body);
  EXPECT_EQ(list.httpDownloadUrl, "https://files.example.org/srv");
  EXPECT_EQ(list.httpThreads, 4u);
  EXPECT_EQ(list.httpDosThreshold, 250u);
  std::vector<std::string> paths = Paths(list);
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{"resources/empty/.keep",
                                             "resources/hud/img/\xC5\x9F"
                                             "ehir.png",
                                             "resources/race/client/car.lua", "resources/race/meta.xml"}));
  for (const ManifestFile& file : list.files) {
    if (ServerUrlPath(file) == "race/client/car.lua") {
      EXPECT_EQ(file.hash, kMd5);
      EXPECT_EQ(file.size, 3u);
    }
    if (ServerUrlPath(file) == "race/meta.xml") {
      EXPECT_EQ(file.hash, "d41d8cd98f00b204e9800998ecf8427e");
    }
    if (file.path.str().find("img/") != std::string::npos) {
      EXPECT_EQ(file.size, 70000u);
    }
  }
  EXPECT_EQ(list.totalSize, 70004u);
}

TEST(AcceptHttpDownloadUrl, PublisherRefusesWhatTheLauncherWouldIgnore) {
  Folder resources, out;
  Write(resources / "r/a.lua", "a");
  for (const std::string url :
       {"https://h/x?y", "ftp://h", "https://h/a b", "http://h/\"", "https://h/#", "http:////"}) {
    std::string accepted;
    EXPECT_FALSE(AcceptHttpDownloadUrl(url, accepted)) << url;
    std::ostringstream stdoutText, stderrText;
    EXPECT_EQ(publish::RunPublisher({"client-files", publish::Utf8FromPath(resources / ""), "--out",
                                     publish::Utf8FromPath(out / "x.json"), "--download-url", url},
                                    stdoutText, stderrText),
              1)
        << url;
  }
}

}  // namespace
