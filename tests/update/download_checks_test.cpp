// What a download must pass before it replaces anything: its length, its size limit and pace,
// its entry's size, checksum and SHA-256, a whole expansion, and a target in an allowed folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "update/checksum.h"
#include "update/engine_fixture.h"
#include "update/szdd_writer.h"

namespace trawlex::update {
namespace {

using testing::Exists;
using ::testing::HasSubstr;
using testing::HttpTestServer;
using testing::ListDir;
using testing::ReadFile;
using testing::Refusal;
using ::testing::StartsWith;
using testing::WriteFile;

class DownloadChecksTest : public testing::HttpEngineTest {
 protected:
  /// Serves `response` as /name over an old file of that name, which must stay.
  void ExpectRefused(const std::string& name, const HttpTestServer::Response& response,
                     const ExpectedFile& expected, const std::string& why, bool compressed,
                     const std::string& old_name) {
    server_.Serve("/" + name, response);
    WriteFile(Target(old_name), "old");
    const std::string url = server_.Url("/" + name);
    EXPECT_FALSE(engine_.DownloadFile(url, compressed, dir_.path() + "/", expected)) << name;
    EXPECT_THAT(status_.back().text, StartsWith(Refusal(url, why)));
    EXPECT_EQ(ReadFile(Target(old_name)), "old") << name;
    if (old_name != name) {
      EXPECT_FALSE(Exists(Target(name))) << name;
    }
  }
};

TEST_F(DownloadChecksTest, CutShortTooLargeOrStalledReplacesNothing) {
  engine_.MaxDownloadSize = 65536;
  engine_.StallTimeout = 1;
  Reconnect();
  const std::string small = testing::SampleContent(20000, 12);
  const std::string big = testing::SampleContent(200000, 13);
  const struct {
    const char* name;
    HttpTestServer::Response response;
    ExpectedFile expected;
    const char* why;
  } cases[] = {
      {"cut.bin", {200, small, {}, 0, true, 5000}, {}, "the transfer broke off after 5000 bytes"},
      {"unannounced.bin",
       {200, small, {}, 0, false, 5000},
       {20000, -1, ""},
       "it has 5000 bytes, not the 20000 its entry gives"},
      {"endless.bin", {200, big, {}, 0, false}, {}, "it is larger than the 65536 bytes allowed"},
      {"larger.bin", {200, small}, {1000, -1, ""}, "it is larger than the 1000 bytes allowed"},
      // Last: the server holds this one until it is released.
      {"stalled.bin", {200, small, {}, 100}, {}, "the transfer broke off after 100 bytes"},
  };
  for (const auto& c : cases) ExpectRefused(c.name, c.response, c.expected, c.why, false, c.name);
  server_.Release();
  EXPECT_THAT(status_.back().text, HasSubstr("Operation too slow"));
  EXPECT_FALSE(engine_.Cancelled());
  EXPECT_TRUE(ListDir(temp_.path()).empty());
}

TEST_F(DownloadChecksTest, SizeChecksumAndSha256OfTheEntryAreVerified) {
  const std::string content = testing::SampleContent(20000, 14);
  WriteFile(Target("reference"), content);
  const int32_t sum = FileByteSum(Target("reference"));
  const int32_t crc = FileCrc32(Target("reference"));
  const std::string sha = testing::Sha256Sum(Target("reference"));
  std::string upper_sha = sha;
  for (char& c : upper_sha) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string wrong_sha = sha;
  wrong_sha[10] = wrong_sha[10] == 'a' ? 'b' : 'a';
  struct Case {
    int32_t size, checksum;
    std::string sha256;
    bool crc;
    std::string why;  // empty: installed
  };
  const std::vector<Case> cases = {
      {20001, -1, "", false, "it has 20000 bytes, not the 20001 its entry gives"},
      {0, sum + 1, "", false, "its checksum is " + std::to_string(sum)},
      {0, sum, "", true, "its checksum is " + std::to_string(crc)},
      {0, -1, wrong_sha, false, "its SHA-256 is " + sha + ", not the " + wrong_sha},
      {0, -1, "12ab", false, "its entry's sha256 value \"12ab\" is not 64 hexadecimal digits"},
      {20000, sum, upper_sha, false, ""},
      {20000, crc, sha, true, ""},
  };
  server_.Serve("/app.bin", {200, content});
  for (const auto& c : cases) {
    engine_.UseCRC32 = c.crc;
    WriteFile(Target("app.bin"), "old");
    const bool installed = engine_.DownloadFile(server_.Url("/app.bin"), false, dir_.path() + "/",
                                                {c.size, c.checksum, c.sha256});
    EXPECT_EQ(installed, c.why.empty()) << c.why;
    EXPECT_EQ(ReadFile(Target("app.bin")), installed ? content : "old");
    if (!c.why.empty()) {
      EXPECT_THAT(status_.back().text, StartsWith(Refusal(server_.Url("/app.bin"), c.why)));
    }
  }
  EXPECT_TRUE(ListDir(temp_.path()).empty());
}

TEST_F(DownloadChecksTest, DamagedCompressedFilesReplaceNothing) {
  const std::string program = testing::SampleContent(20000, 15);
  const auto packed = testing::SzddCompress({program.begin(), program.end()}, 'e');
  const std::string whole(packed.begin(), packed.end());
  auto with_missing = [&](char c) {
    std::string bytes = whole;
    bytes[9] = c;
    return bytes;
  };
  const struct {
    const char* stem;
    std::string bytes;
    ExpectedFile expected;
    const char* why;
  } cases[] = {
      {"truncated", whole.substr(0, 5170), {}, "it expands to only "},
      {"header", whole.substr(0, 14), {}, "it expands to only 0 of the 20000 bytes"},
      {"page", "<html>Not found</html>", {}, "it is marked compressed but is not SZDD"},
      {"padded", whole + "trailing bytes", {}, "it expands to more than the 20000 bytes"},
      {"slash", with_missing('/'), {}, "its compressed header records an unusable name"},
      {"bigger", whole, {10000, -1, ""}, "it would expand to 20000 bytes, more than the 10000"},
  };
  for (const auto& c : cases) {
    const std::string name = std::string(c.stem) + ".ex_";
    ExpectRefused(name, {200, c.bytes}, c.expected, c.why, true, std::string(c.stem) + ".exe");
  }
  EXPECT_TRUE(ListDir(temp_.path()).empty());
}

TEST_F(DownloadChecksTest, ReplacedFilesKeepTheirPermissionBitsOnly) {
  const std::string program = testing::SampleContent(3000, 16);
  const auto packed = testing::SzddCompress({program.begin(), program.end()}, 'e');
  server_.Serve("/tool.ex_", {200, std::string(packed.begin(), packed.end())});
  server_.Serve("/tool.exe", {200, program});
  const struct {
    const char* url;
    bool compressed;
    mode_t old_mode, new_mode;
  } cases[] = {
      {"/tool.exe", false, 02750, 0750},
      {"/tool.ex_", true, 04755, 0755},
  };
  for (const auto& c : cases) {
    WriteFile(Target("tool.exe"), "old");
    ASSERT_EQ(::chmod(Target("tool.exe").c_str(), c.old_mode), 0);
    EXPECT_TRUE(engine_.DownloadFile(server_.Url(c.url), c.compressed, dir_.path() + "/"));
    struct stat st {};
    ASSERT_EQ(::stat(Target("tool.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.new_mode) << c.url << " " << std::oct << c.old_mode;
    EXPECT_EQ(ReadFile(Target("tool.exe")), program);
  }
}

/// The program's folder is the current directory, the system's temporary directory a folder
/// of the test's own; "outside" is neither.
class ConfinedTargetTest : public testing::HttpEngineTest {
 protected:
  ConfinedTargetTest() : previous_tmpdir_(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "") {
    for (const char* name : {"app", "app/sub", "tmp", "outside"}) {
      ::mkdir(Target(name).c_str(), 0755);
    }
    ::symlink(Target("outside").c_str(), Target("app/link").c_str());
    ::setenv("TMPDIR", Target("tmp").c_str(), 1);
    cd_.emplace(Target("app"));
    server_.Serve("/payload.bin", {200, "payload"});
  }
  ~ConfinedTargetTest() override {
    cd_.reset();
    if (previous_tmpdir_.empty()) {
      ::unsetenv("TMPDIR");
    } else {
      ::setenv("TMPDIR", previous_tmpdir_.c_str(), 1);
    }
  }
  /// Downloads /name into the control-file target directory `targetdir`.
  bool Download(const std::string& name, const std::string& targetdir) {
    FileSection section;
    section.url = server_.Url("/" + name);
    section.targetdir = targetdir;
    const TFileDescription entry = engine_.MakeFileDescription(section);
    return engine_.DownloadFile(entry.URL, false, entry.TargetDir, entry.Expected());
  }

  std::string previous_tmpdir_;
  std::optional<testing::ScopedCurrentDir> cd_;
};

TEST_F(ConfinedTargetTest, OnlyTheProgramFolderAndTemporaryDirectoriesTakeFiles) {
  const struct {
    std::string name, targetdir, why;
  } refused[] = {
      {"payload.bin", "{APP}\\..\\outside", "lies outside the program's folder"},
      {"payload.bin", Target("outside"), "lies outside the program's folder"},
      {"payload.bin", "{APP}/link", "lies outside the program's folder"},
      {"payload.bin", "{APP}/missing", "its target folder"},
      {"..", "{APP}/sub", "names no file"},
  };
  for (const auto& c : refused) {
    EXPECT_FALSE(Download(c.name, c.targetdir)) << c.targetdir;
    EXPECT_THAT(status_.back().text, StartsWith("Cannot download update file : "));
    EXPECT_THAT(status_.back().text, HasSubstr(c.why)) << c.targetdir;
  }
  EXPECT_TRUE(server_.Requests().empty());
  for (const std::string& targetdir :
       {std::string("{APP}"), std::string("{APP}\\sub"), std::string("{TMP}"), temp_.path()}) {
    EXPECT_TRUE(Download("payload.bin", targetdir)) << targetdir;
  }
  EXPECT_EQ(ReadFile(Target("app/sub/payload.bin")), "payload");
  EXPECT_EQ(ReadFile(Target("tmp/payload.bin")), "payload");
  // File copies are held to the same folders.
  engine_.UpdateType = TWebUpdateType::fileUpdate;
  EXPECT_FALSE(engine_.DownloadFile(Target("tmp/payload.bin"), false, Target("outside") + "/"));
  EXPECT_TRUE(ListDir(Target("outside")).empty());
}

}  // namespace
}  // namespace trawlex::update
