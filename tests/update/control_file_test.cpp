#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "update/control_file.h"
#include "update/prefix_expansion.h"
#include "update/profile_file.h"
#include "update/test_util.h"
#include "update/web_update.h"

namespace trawlex::update {
namespace {

using namespace std::chrono;
using testing::ScopedCurrentDir;
using testing::TempDir;

TEST(ProfileFileTest, SectionsAndKeysIgnoreCase) {
  const auto p = ProfileFile::FromText("[Update]\r\nNewVersion = 1.2.3.4 \r\n[FILES]\ncount=2\n");
  EXPECT_EQ(p.ReadString("update", "newversion", ""), "1.2.3.4");
  EXPECT_EQ(p.ReadString("UPDATE", "NEWVERSION", ""), "1.2.3.4");
  EXPECT_EQ(p.ReadInteger("Files", "Count", 0), 2);
}

TEST(ProfileFileTest, MissingKeyGivesDefault) {
  const auto p = ProfileFile::FromText("[update]\ndate=1/1/2000\n");
  EXPECT_EQ(p.ReadString("update", "time", "none"), "none");
  EXPECT_EQ(p.ReadString("nosuch", "date", "none"), "none");
  EXPECT_EQ(p.ReadInteger("update", "newsize", 17), 17);
}

TEST(ProfileFileTest, IntegersAreDecimalOrDollarHex) {
  const auto p = ProfileFile::FromText(
      "[n]\na=42\nb=-7\nc=$1F\nd=$FFFFFFFF\ne=12abc\nf=\ng=0x10\nh=99999999999\n");
  EXPECT_EQ(p.ReadInteger("n", "a", 0), 42);
  EXPECT_EQ(p.ReadInteger("n", "b", 0), -7);
  EXPECT_EQ(p.ReadInteger("n", "c", 0), 31);
  EXPECT_EQ(p.ReadInteger("n", "d", 0), -1);
  EXPECT_EQ(p.ReadInteger("n", "e", 5), 5);
  EXPECT_EQ(p.ReadInteger("n", "f", 6), 6);
  EXPECT_EQ(p.ReadInteger("n", "g", 7), 7);
  EXPECT_EQ(p.ReadInteger("n", "h", 8), 8);
}

TEST(ProfileFileTest, CommentsQuotesAndFirstOccurrence) {
  const auto p = ProfileFile::FromText(
      "; comment\n[a]\nkey=\"quoted value\"\nkey=second\n;other=1\n[A]\nmore=yes\n");
  EXPECT_EQ(p.ReadString("a", "key", ""), "quoted value");
  EXPECT_FALSE(p.HasKey("a", "other"));
  EXPECT_EQ(p.ReadString("a", "more", ""), "yes");
}

TEST(ProfileFileTest, ByteOrderMarkIsSkipped) {
  const auto p = ProfileFile::FromText("\xEF\xBB\xBF[update]\nnewversion=1.2.3.4\n");
  EXPECT_EQ(p.ReadString("update", "newversion", ""), "1.2.3.4");
}

TEST(ProfileFileTest, LoadReadsRegularFilesOfControlFileSize) {
  TempDir dir;
  testing::WriteFile(dir.File("small.inf"), "\xEF\xBB\xBF[files]\ncount=3\n");
  testing::WriteFile(dir.File("huge.inf"), "[files]\ncount=3\n" + std::string(1 << 20, ';'));
  ASSERT_EQ(::mkfifo(dir.File("fifo.inf").c_str(), 0600), 0);
  std::string err;
  const auto small = ProfileFile::Load(dir.File("small.inf"), &err);
  ASSERT_TRUE(small.has_value()) << err;
  EXPECT_EQ(small->ReadInteger("files", "count", 0), 3);
  EXPECT_FALSE(ProfileFile::Load(dir.File("huge.inf"), &err).has_value());
  EXPECT_EQ(err, "\"" + dir.File("huge.inf") +
                     "\" is larger than 1048576 bytes, too large for a control file.");
  EXPECT_FALSE(ProfileFile::Load(dir.File("fifo.inf"), &err).has_value());
  EXPECT_EQ(err, "\"" + dir.File("fifo.inf") + "\" is not a readable file.");
}

TEST(ControlFileTest, EverySectionHasItsDefaults) {
  const ControlFile c = ControlFile::FromText("");
  const UpdateSection u = c.Update();
  EXPECT_EQ(u.signature, "");
  EXPECT_EQ(u.newsize, 0);
  EXPECT_EQ(u.newchecksum, -1);
  const ApplicationSection a = c.Application();
  EXPECT_EQ(a.appupdate, 0);
  EXPECT_EQ(a.silentrestart, 0);
  EXPECT_EQ(c.WhatsNew().okbtn, "Ok");
  EXPECT_EQ(c.WhatsNew().cancelbtn, "Cancel");
  EXPECT_EQ(c.Eula().okbtn, "Ok");
  EXPECT_EQ(c.Eula().accept, "I accept");
  EXPECT_EQ(c.Eula().notaccept, "I do not accept");
  EXPECT_EQ(c.FileCount(), 0);
  const FileSection f = c.File(1);
  EXPECT_EQ(f.newchecksum, -1);
  EXPECT_EQ(f.newsize, 0);
  EXPECT_EQ(f.compressed, 0);
}

TEST(ControlFileTest, ReadsEveryKey) {
  const ControlFile c = ControlFile::FromText(
      "[update]\nsignature=WebUpdate\ndescr=Fixes\ndate=02/03/2004\ntime=10:20\n"
      "localversion={APP}\\trawlex\nunconditional=1\nnewversion=1.2.3.4\nnewsize=100\n"
      "newchecksum=$10\n[application]\nappupdate=1\nappname={APP}\\app -x\nappcomps=a b\n"
      "silentrestart=1\n[action]\nmsg=Hello\\nWorld\nhtmldlg=h\nrunbefore=r\nquery=q\n"
      "showURL=s\n[custom]\nvalidatemsg=vm\nvalidateparam=vp\nprocessmsg=pm\nprocessparam=pp\n"
      "[whatsnew]\nfile=http://x/new.txt\ncaption=New\nokbtn=Yes\ncancelbtn=No\n"
      "[eula]\nfile=e.txt\ncaption=Licence\nokbtn=Close\naccept=A\nnotaccept=N\n"
      "[files]\ncount=1\n[file1]\nurl=http://x/a.ex_\nlocalversion=l\nnewversion=2.0.0.0\n"
      "newsize=5\nnewchecksum=9\ncustomversion=cv\ndate=1/1/2001\ntime=1:02\ndescr=Main\n"
      "targetdir=t\ncompressed=1\nfilesize=1234\nsha256=AB01\n");
  const UpdateSection u = c.Update();
  EXPECT_EQ(u.signature, "WebUpdate");
  EXPECT_EQ(u.descr, "Fixes");
  EXPECT_EQ(u.time, "10:20");
  EXPECT_EQ(u.newchecksum, 16);
  EXPECT_EQ(c.Application().appcomps, "a b");
  EXPECT_EQ(c.Action().showURL, "s");
  EXPECT_EQ(c.Custom().processparam, "pp");
  EXPECT_EQ(c.WhatsNew().cancelbtn, "No");
  EXPECT_EQ(c.Eula().notaccept, "N");
  const FileSection f = c.File(1);
  EXPECT_EQ(f.url, "http://x/a.ex_");
  EXPECT_EQ(f.customversion, "cv");
  EXPECT_EQ(f.compressed, 1);
  EXPECT_EQ(f.filesize, 1234);
  EXPECT_EQ(f.sha256, "AB01");
}

TEST(ControlFileTest, MsgWithBackslashNBecomesTwoLines) {
  const ControlFile c = ControlFile::FromText("[action]\nmsg=First line\\nSecond line\n");
  EXPECT_EQ(ExpandLineBreaks(c.Action().msg), "First line\nSecond line");
  EXPECT_EQ(ExpandLineBreaks("no break\\t here\\"), "no break\\t here\\");
}

TEST(DateTextTest, ParsesByFormatAndSeparator) {
  const auto d = ParseDateText("25/12/2003", "dd/mm/yyyy", '/');
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ(*d, DateTime{local_days{year{2003} / December / 25}});
  EXPECT_EQ(*ParseDateText("2003-12-25", "yyyy/mm/dd", '-'), *d);
  EXPECT_EQ(*ParseDateText("12.25.03", "mm/dd/yy", '.'), *d);
  EXPECT_FALSE(ParseDateText("12/25/2003", "dd/mm/yyyy", '/').has_value());
  EXPECT_FALSE(ParseDateText("2003-12-25", "dd/mm/yyyy", '/').has_value());
  EXPECT_FALSE(ParseDateText("31/02/2003", "dd/mm/yyyy", '/').has_value());
}

TEST(DateTextTest, BadDateIs1980AndBadTimeAddsNothing) {
  const DateTime d = ParseDateTimeText("garbage", "10:30", "dd/mm/yyyy", '/', "hh:nn", ':');
  EXPECT_EQ(d, DateTime{local_days{year{1980} / January / 1}} + hours{10} + minutes{30});
  const DateTime t = ParseDateTimeText("01/02/2010", "25:99", "dd/mm/yyyy", '/', "hh:nn", ':');
  EXPECT_EQ(t, DateTime{local_days{year{2010} / February / 1}});
  const DateTime both = ParseDateTimeText("01/02/2010", "7:05:09", "dd/mm/yyyy", '/', "hh:nn", ':');
  EXPECT_EQ(both,
            DateTime{local_days{year{2010} / February / 1}} + hours{7} + minutes{5} + seconds{9});
  EXPECT_EQ(FormatDateText(both, "dd/mm/yyyy", '.'), "01.02.2010");
}

TEST(PrefixExpansionTest, AppIsTheCurrentDirectoryInAnyCase) {
  TempDir dir;
  ScopedCurrentDir cd(dir.path());
  const std::string cwd = std::filesystem::current_path().string();
  TWebUpdate engine;
  EXPECT_EQ(engine.ExpandPrefixes("{app}\\data"), cwd + "\\data");
  EXPECT_EQ(engine.ExpandPrefixes("{APP}\\data"), cwd + "\\data");
  EXPECT_EQ(LocalPath(engine.ExpandPrefixes("{App}\\data")), cwd + "/data");
}

TEST(PrefixExpansionTest, UnknownAndAbsentNamesStay) {
  TWebUpdate engine;
  EXPECT_EQ(engine.ExpandPrefixes("{XYZ}\\data"), "{XYZ}\\data");
  EXPECT_EQ(engine.ExpandPrefixes("{WIN}\\a {PF}\\b"), "{WIN}\\a {PF}\\b");
  EXPECT_EQ(engine.ExpandPrefixes("{unclosed"), "{unclosed");
  EXPECT_EQ(engine.ExpandPrefixes("a{b{APP}c"), "a{b{APP}c");  // braces do not nest
  const std::string tmp = std::filesystem::temp_directory_path().string();
  EXPECT_EQ(engine.ExpandPrefixes("{TMP}/x"),
            (tmp.size() > 1 && tmp.back() == '/' ? tmp.substr(0, tmp.size() - 1) : tmp) + "/x");
}

TEST(PrefixExpansionTest, HostHookRunsFirstAndConvertPrefixIsOverridable) {
  struct Engine : TWebUpdate {
    void ConvertPrefix(const std::string& name, std::string& value) override {
      value = name == "WIN" ? "C:\\WINDOWS" : name == "LOOP" ? "{LOOP}" : "";
    }
  } engine;
  engine.OnConvertPrefix = [](TWebUpdate&, std::string& path) {
    if (path == "special") path = "{WIN}\\special";
  };
  EXPECT_EQ(engine.ExpandPrefixes("special"), "C:\\WINDOWS\\special");
  // Inserted text is not scanned again, so a value holding braces cannot loop.
  EXPECT_EQ(engine.ExpandPrefixes("{LOOP}{WIN}"), "{LOOP}C:\\WINDOWS");
}

TEST(PrefixExpansionTest, RootDirectoryGetsADot) {
  TWebUpdate engine;
  ScopedCurrentDir cd("/");
  EXPECT_EQ(engine.ExpandPrefixes("{APP}"), "/.");
}

}  // namespace
}  // namespace trawlex::update
