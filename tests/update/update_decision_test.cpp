#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <filesystem>

#include "update/engine_fixture.h"

namespace trawlex::update {
namespace {

using testing::Status;
using testing::TempDir;

class UpdateDecisionTest : public ::testing::Test {
 protected:
  UpdateDecisionTest() { testing::RecordStatus(engine_, &status_); }

  UpdateDecision Decide(const std::string& text) {
    return engine_.FindUpdateKind(ControlFile::FromText(text));
  }
  /// Sets a file's modification time to `year`-06-15.
  static void SetAge(const std::string& path, int year) {
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = 5;
    t.tm_mday = 15;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    const utimbuf times{mktime(&t), mktime(&t)};
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
  }

  TWebUpdate engine_;
  std::vector<Status> status_;
  TempDir dir_;
};

TEST_F(UpdateDecisionTest, NoKindGivesNothingNew) {
  const UpdateDecision d = Decide("[update]\ndescr=Nothing\n[files]\ncount=0\n");
  EXPECT_EQ(d.result, kUpdateNothingNew);
  EXPECT_EQ(d.description, "Nothing");
  EXPECT_TRUE(status_.empty());
}

TEST_F(UpdateDecisionTest, NewerDateWinsOverUnconditionalAndVersion) {
  const std::string local = dir_.File("app");
  testing::WriteFile(local, "x");
  SetAge(local, 2001);
  const UpdateDecision d = Decide("[update]\ndate=24/12/2002\ntime=18:30\nlocalversion=" + local +
                                  "\nunconditional=1\nnewversion=9.9.9.9\n");
  EXPECT_EQ(d.result, kUpdateDateNewer);
  EXPECT_EQ(status_, (std::vector<Status>{{"Date based update found", 3, 0},
                                          {"New version found : 24/12/2002", 5, 0}}));
}

TEST_F(UpdateDecisionTest, OlderDateFallsThroughToUnconditional) {
  const std::string local = dir_.File("app");
  testing::WriteFile(local, "x");
  SetAge(local, 2005);
  const UpdateDecision d =
      Decide("[update]\ndate=24/12/2002\nlocalversion=" + local + "\nunconditional=yes\n");
  EXPECT_EQ(d.result, kUpdateUnconditional);
  EXPECT_EQ(status_.back(), (Status{"No new version found", 4, 0}));
}

TEST_F(UpdateDecisionTest, DateThatDoesNotParseNeverMakesAnUpdate) {
  const UpdateDecision d = Decide("[update]\ndate=2002-12-24\n");
  EXPECT_EQ(d.result, kUpdateNothingNew);
  EXPECT_EQ(status_.back().text, "No new version found");
}

TEST_F(UpdateDecisionTest, LocalDateFromMissingFileIs1980) {
  const UpdateDecision d = Decide("[update]\ndate=02/01/1980\nlocalversion=" + dir_.File("none"));
  EXPECT_EQ(d.result, kUpdateDateNewer);
  EXPECT_EQ(d.installed_date, DefaultDateTime());
}

TEST_F(UpdateDecisionTest, ChecksumSizeAndVersionKinds) {
  const std::string local = dir_.File("app.exe");
  testing::WriteVersionedExecutable(local, "1.2.3.3");
  const auto base = "[update]\nnewversion=1.2.3.4\nlocalversion=" + local + "\n";

  EXPECT_EQ(Decide(base + "newchecksum=12345\n").result, kUpdateChecksumDiffers);
  EXPECT_EQ(status_.front(), (Status{"Checksum based update found", 3, 0}));
  status_.clear();

  EXPECT_EQ(Decide(base + "newsize=1\n").result, kUpdateSizeDiffers);
  EXPECT_EQ(status_.front(), (Status{"File size based update found", 3, 0}));
  status_.clear();

  const UpdateDecision v = Decide(base);
  EXPECT_EQ(v.result, kUpdateNewerVersion);
  EXPECT_EQ(v.new_version, "1.2.3.4");
  EXPECT_EQ(v.local_version, "1.2.3.3");
  EXPECT_EQ(status_, (std::vector<Status>{{"Version based update found", 3, 0},
                                          {"New version found : 1.2.3.4", 5, 0}}));
}

TEST_F(UpdateDecisionTest, NegativeFileTestSetsNothingNew) {
  const std::string local = dir_.File("app.exe");
  testing::WriteVersionedExecutable(local, "1.2.3.4");
  const UpdateDecision d = Decide("[update]\nnewversion=1,2,3,4\nlocalversion=" + local + "\n");
  EXPECT_EQ(d.result, kUpdateNothingNew);
  EXPECT_EQ(status_.back(), (Status{"No new version found", 4, 0}));
}

TEST_F(UpdateDecisionTest, VersionsCompareWithTheBlockOfALinuxProgram) {
  std::string newer = "99.0.0.0";
  std::string local = VERSION_PROBE_PATH;
  EXPECT_TRUE(engine_.IsNewerFile(newer, local, -1, 0));
  EXPECT_EQ(local, TRAWLEX_PROJECT_VERSION_4);
  std::string same = TRAWLEX_PROJECT_VERSION_4;
  local = VERSION_PROBE_PATH;
  EXPECT_FALSE(engine_.IsNewerFile(same, local, -1, 0));
}

TEST_F(UpdateDecisionTest, NewVersionWithoutLocalFileReportsButStaysNothingNew) {
  const UpdateDecision d = Decide("[update]\nnewversion=2.0.0.0\n");
  EXPECT_EQ(d.result, kUpdateNothingNew);
  EXPECT_EQ(status_, (std::vector<Status>{{"New version found : 2.0.0.0", 5, 0}}));
}

TEST_F(UpdateDecisionTest, CustomValidatorDecidesAlone) {
  std::string seen;
  engine_.OnCustomValidate = [&](TWebUpdate& sender, const std::string& msg,
                                 const std::string& param, bool& allow) {
    EXPECT_EQ(&sender, &engine_);
    EXPECT_TRUE(allow);
    seen = msg + "|" + param;
  };
  const std::string text = "[update]\nunconditional=1\n[custom]\nvalidatemsg=m\nvalidateparam=p\n";
  EXPECT_EQ(Decide(text).result, kUpdateAcceptedByHost);
  EXPECT_EQ(seen, "m|p");
  engine_.OnCustomValidate = [](TWebUpdate&, const std::string&, const std::string&, bool& allow) {
    allow = false;
  };
  EXPECT_EQ(Decide(text).result, kUpdateNothingNew);
}

TEST_F(UpdateDecisionTest, FileEntriesExpandAndFilter) {
  testing::ScopedCurrentDir cd(dir_.path());
  const ControlFile c = ControlFile::FromText(
      "[files]\ncount=3\n[file1]\nurl=http://h/a.txt\ntargetdir={APP}\\sub\\dir\n"
      "localversion={APP}\\a.txt\ndate=01/01/2099\n[file2]\nurl=b.txt\nlocalversion=b.txt\n"
      "newsize=3\n[file3]\nurl=c.txt\ncustomversion=7\ncompressed=1\n[file4]\nurl=ignored\n");
  ASSERT_EQ(c.FileCount(), 3);
  const TFileDescription first = engine_.MakeFileDescription(c.File(1));
  const std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(first.TargetDir, cwd + "/sub/dir/");
  EXPECT_EQ(first.LocalVersion, cwd + "/a.txt");
  EXPECT_FALSE(first.Compressed);
  EXPECT_TRUE(engine_.MakeFileDescription(c.File(3)).Compressed);
  EXPECT_EQ(engine_.MakeFileDescription(c.File(2)).TargetDir, "");

  testing::WriteFile("a.txt", "old");
  EXPECT_TRUE(engine_.IsFileEntryKept(first));  // dated 2099
  testing::WriteFile("b.txt", "abc");
  EXPECT_FALSE(engine_.IsFileEntryKept(engine_.MakeFileDescription(c.File(2))));  // same size
  testing::WriteFile("b.txt", "abcd");
  EXPECT_TRUE(engine_.IsFileEntryKept(engine_.MakeFileDescription(c.File(2))));

  const TFileDescription third = engine_.MakeFileDescription(c.File(3));
  EXPECT_TRUE(engine_.IsFileEntryKept(third));
  engine_.OnFileVersionCheck = [](TWebUpdate&, const std::string& newversion, const std::string&,
                                  bool& is_new) { is_new = newversion != "7"; };
  EXPECT_FALSE(engine_.IsFileEntryKept(third));
}

TEST(FileListTest, TotalsAndActiveItem) {
  TFileList list;
  list.Add().FileSize = 100;
  list.Add().FileSize = 20;
  list.Add().FileSize = 3;
  EXPECT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.TotalSize(), 123);
  EXPECT_EQ(list.CompletedSize(), 0);
  list.ActiveItem = 2;
  EXPECT_EQ(list.CompletedSize(), 120);
  list.Delete(0);
  EXPECT_EQ(list.Item(0).FileSize, 20);
  EXPECT_EQ(list.TotalSize(), 23);
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
}

}  // namespace
}  // namespace trawlex::update
