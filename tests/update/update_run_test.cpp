// One update run against a local HTTPS server, step by step, and the updater program.

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "update/cab_extract.h"
#include "update/cab_writer.h"
#include "update/engine_fixture.h"
#include "update/update_site.h"
#include "update/updater/updater_resource.h"

namespace trawlex::update {
namespace {

using ::testing::ElementsAre;
using testing::Exists;
using ::testing::HasSubstr;
using testing::ReadFile;
using testing::WriteFile;

class UpdateRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(site_.running()) << site_.tls_.error();
    testing::RecordStatus(engine_, &status_);
    site_.Serve(engine_);
    engine_.UpdateUpdate = TWebUpdateUpdate::wuuSilent;
    engine_.Hooks.AskYesNo = [this](const std::string& text) {
      questions_.push_back(text);
      return answer_;
    };
    engine_.Hooks.Information = [this](const std::string& text) { questions_.push_back(text); };
    ASSERT_EQ(engine_.StartConnection(), 0);
  }
  bool Reported(const std::string& part) {
    for (const auto& s : status_) {
      if (s.text.find(part) != std::string::npos) return true;
    }
    return false;
  }

  testing::UpdateSite site_;
  testing::ScopedCurrentDir cwd_{site_.program_.path()};
  TWebUpdate engine_;
  std::vector<testing::Status> status_;
  std::vector<std::string> questions_;
  bool answer_ = true;
};

TEST_F(UpdateRunTest, WholeRunPutsEveryFileInPlace) {
  ASSERT_EQ(engine_.GetControlFile(), 0);
  const std::string control = engine_.ControlFilePath();
  EXPECT_EQ(control, engine_.RunDirectory() + "/ostreltrawlexfinder.inf");
  struct stat st {};
  ASSERT_EQ(::stat(engine_.RunDirectory().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(engine_.AppUpdate());
  EXPECT_EQ(engine_.RestartCommand(), site_.program_.File("trawlex-app"));

  EXPECT_EQ(engine_.CheckNewVersion(), kUpdateDateNewer);
  EXPECT_EQ(engine_.Decision().description, "Release 2.0 with faster scans");
  EXPECT_EQ(engine_.ProcessActions(), 0);
  EXPECT_THAT(*engine_.GetWhatsNew(), ElementsAre("Version 2.0", "- Faster scans", "- New help"));
  EXPECT_THAT(*engine_.GetEULA(), ElementsAre("Licence agreement", "Use at your own risk."));
  ASSERT_EQ(engine_.GetFileList(), 3);
  EXPECT_EQ(engine_.FileList().TotalSize(), 42030);

  std::vector<int64_t> totals;
  engine_.OnFileProgress = [&](TWebUpdate&, const std::string&, int64_t, int64_t size) {
    totals.push_back(size);
  };
  EXPECT_EQ(engine_.DownloadFiles(), 0);
  EXPECT_FALSE(engine_.Cancelled());
  const auto& app = site_.program_;
  EXPECT_EQ(ReadFile(app.File("data/readme.txt")), "Read me, version 2\n");
  EXPECT_EQ(ReadFile(app.File("data/fonts/glyphs.bin")), testing::SampleContent(50000, 3));
  EXPECT_FALSE(Exists(app.File("data.cab")));  // extracted, then deleted
  EXPECT_THAT(ReadFile(app.File("help/help.txt")), HasSubstr("Help text, version 2."));
  EXPECT_FALSE(Exists(app.File("help/help.tx_")));
  EXPECT_EQ(ReadFile(app.File("trawlex-app_NEW")), "#!/bin/sh\necho version 2\n");
  EXPECT_TRUE(engine_.RestartNeeded());
  EXPECT_TRUE(engine_.AppUpdate());
  EXPECT_FALSE(totals.empty());
  EXPECT_TRUE(questions_.empty());

  const auto args = engine_.UpdaterArguments("/x/upd.exe");
  EXPECT_THAT(args, ElementsAre("/x/upd.exe", std::to_string(::getpid()),
                                site_.program_.File("trawlex-app"), "trawlex-app_NEW"));
  engine_.StopConnection();
  EXPECT_FALSE(Exists(control));
}

TEST_F(UpdateRunTest, RestartCommandQuotingAndActions) {
  site_.WriteControlFile(
      "[update]\nunconditional=1\n[application]\nappupdate=1\nappname={APP}/my app -x\n"
      "appcomps=a_NEW b.cab\n[action]\nmsg=First line\\nSecond line\nquery=Go on?\n");
  ASSERT_EQ(engine_.GetControlFile(), 0);
  EXPECT_EQ(engine_.RestartCommand(), "\"" + site_.program_.path() + "/my app -x\"");
  EXPECT_EQ(engine_.CheckNewVersion(), kUpdateUnconditional);
  answer_ = false;
  EXPECT_EQ(engine_.ProcessActions(), -1);
  EXPECT_THAT(questions_, ElementsAre("First line\nSecond line", "Go on?"));
  EXPECT_FALSE(engine_.AppUpdate());  // a refused query cancels the program's replacement
  EXPECT_THAT(engine_.UpdaterArguments("u"),
              ElementsAre("u", std::to_string(::getpid()), site_.program_.path() + "/my app -x"));
  EXPECT_FALSE(engine_.GetWhatsNew().has_value());
  EXPECT_EQ(engine_.GetFileList(), 0);
}

TEST_F(UpdateRunTest, PromptModes) {
  struct Case {
    TWebUpdateUpdate mode;
    bool answer;
    size_t questions;
    bool downloaded;
  };
  for (const Case& c : {Case{TWebUpdateUpdate::wuuPromptOnce, false, 1, false},
                        Case{TWebUpdateUpdate::wuuPromptOnce, true, 1, true},
                        Case{TWebUpdateUpdate::wuuPromptAll, false, 3, false}}) {
    std::remove(site_.program_.File("trawlex-app_NEW").c_str());
    questions_.clear();
    ASSERT_EQ(engine_.GetControlFile(), 0);
    engine_.GetFileList();
    engine_.UpdateUpdate = c.mode;
    answer_ = c.answer;
    engine_.DownloadFiles();
    EXPECT_EQ(questions_.size(), c.questions) << static_cast<int>(c.mode) << c.answer;
    EXPECT_EQ(Exists(site_.program_.File("trawlex-app_NEW")), c.downloaded);
  }
  EXPECT_THAT(questions_[0], "Download update file : data.cab");
}

TEST_F(UpdateRunTest, FailedDownloadClearsTheApplicationUpdate) {
  std::string control = site_.DefaultControlFile();
  const std::string app_url = site_.Url("/update/trawlex-app_NEW");
  control.replace(control.find(app_url), app_url.size(), site_.Url("/missing_NEW"));
  site_.WriteControlFile(control);
  ASSERT_EQ(engine_.GetControlFile(), 0);
  engine_.GetFileList();
  engine_.DownloadFiles();
  EXPECT_FALSE(engine_.AppUpdate());
  EXPECT_TRUE(Reported("Cannot download update file : " + site_.Url("/missing_NEW")));
  EXPECT_TRUE(Exists(site_.program_.File("help/help.txt")));  // the others still come
}

TEST_F(UpdateRunTest, HostileCabinetWritesNothingOutside) {
  testing::TempDir outside;
  ASSERT_EQ(::symlink(outside.path().c_str(), site_.program_.File("link").c_str()), 0);
  const std::vector<std::string> names = {"..\\escaped.txt", "/abs.txt", "sub\\..\\..\\up.txt",
                                          "C:\\win.txt", "link\\through.txt"};
  for (const std::string& name : names) {
    testing::WriteStoredCabinet(site_.root_.File("update/data.cab"),
                                {{"fine.txt", "fine"}, {name, "evil"}});
    status_.clear();
    ASSERT_EQ(engine_.GetControlFile(), 0);
    engine_.GetFileList();
    engine_.DownloadFiles();
    EXPECT_TRUE(Reported("Error decompressing CAB file : " + site_.program_.File("data.cab")))
        << name;
    EXPECT_TRUE(Exists(site_.program_.File("data.cab"))) << name;  // kept
    EXPECT_FALSE(Exists(site_.program_.File("fine.txt"))) << name;
    EXPECT_TRUE(testing::ListDir(outside.path()).empty()) << name;
    EXPECT_FALSE(Exists(site_.root_.File("escaped.txt")));
  }
  // A well-formed stored cabinet is extracted with its folders.
  testing::WriteStoredCabinet(site_.root_.File("update/data.cab"), {{"a\\b\\c.txt", "deep"}});
  ASSERT_EQ(engine_.GetControlFile(), 0);
  engine_.GetFileList();
  engine_.DownloadFiles();
  EXPECT_EQ(ReadFile(site_.program_.File("a/b/c.txt")), "deep");
}

/// An installed program: its folder cannot be written by the user who runs it. Each file is
/// reported as such (946) and nothing is raised.
TEST(ReadOnlyProgramFolderTest, ReportedPerFileNotThrown) {
  testing::TempDir program, source;
  WriteFile(source.File("new.bin"), "new");
  WriteFile(program.File("new.bin"), "old");
  ::chmod(source.path().c_str(), 0755);
  ::chmod(source.File("new.bin").c_str(), 0644);
  ::chmod(program.path().c_str(), 0555);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    std::string said;
    if (::setgid(65534) == 0 && ::setuid(65534) == 0) {
      testing::ScopedCurrentDir cwd(program.path());
      TWebUpdate engine;
      ApplyMainWindowValues(engine, program.path());
      engine.UpdateType = TWebUpdateType::fileUpdate;
      engine.UpdateUpdate = TWebUpdateUpdate::wuuSilent;
      engine.OnStatus = [&](TWebUpdate&, const std::string& text, int, int) {
        said += text + "\n";
      };
      TFileDescription& entry = engine.FileList().Add();
      entry.URL = source.File("new.bin");
      entry.TargetDir = program.path() + "/";
      try {
        engine.DownloadFiles();
      } catch (const std::exception& e) {
        said += std::string("raised: ") + e.what();
      }
    } else {
      said = "no unprivileged user";
    }
    (void)!::write(fds[1], said.data(), said.size());
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string said;
  char buf[512];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) said.append(buf, n);
  ::close(fds[0]);
  ::waitpid(child, nullptr, 0);
  ::chmod(program.path().c_str(), 0700);
  if (said == "no unprivileged user") GTEST_SKIP() << "needs root to become another user";
  EXPECT_THAT(said, HasSubstr("Cannot download update file : " + source.File("new.bin") +
                              " (its target folder \"" + program.path() +
                              "/\" cannot be written by this user"));
  EXPECT_THAT(said, ::testing::Not(HasSubstr("raised")));
  EXPECT_EQ(ReadFile(program.File("new.bin")), "old");
}

TEST(CabinetEntryPathTest, OnlyNamesInsideTheFolder) {
  EXPECT_EQ(CabinetEntryPath("dir\\sub\\f.txt"), "dir/sub/f.txt");
  EXPECT_EQ(CabinetEntryPath(".\\f.txt"), "f.txt");
  for (const char* bad : {"", "..", "a\\..\\..\\b", "\\x", "/x", "D:x", "a\\", "a\nb"}) {
    EXPECT_EQ(CabinetEntryPath(bad), "") << bad;
  }
}

/// The updater program, expanded from the resource the program carries, against a stand-in
/// application that it waits for, replaces and restarts.
TEST_F(UpdateRunTest, UpdaterReplacesAndRestartsTheProgram) {
  engine_.UpdaterResource = UpdaterResource();
  std::string err;
  const std::string updater = engine_.ExtractUpdater(&err);
  ASSERT_FALSE(updater.empty()) << err;
  EXPECT_EQ(updater, engine_.RunDirectory() + "/upd.exe");
  EXPECT_FALSE(Exists(engine_.RunDirectory() + "/upd.ex_"));

  const auto& app = site_.program_;
  // The stand-in program, running until told to end; its new version leaves a mark at start
  // (written whole, then renamed, so that it is never seen half-written).
  WriteFile(app.File("trawlex-app_NEW"), "#!/bin/sh\necho restarted \"$1\" > '" + app.File("mark") +
                                             "' && mv '" + app.File("mark") + "' '" +
                                             app.File("restarted") + "'\n");
  testing::WriteStoredCabinet(app.File("extra.cab"), {{"extra\\e.txt", "extra"}});
  const std::string help = "help 2";
  testing::WriteFile(app.File("notes.txt"), "old notes");
  const pid_t standin = ::fork();
  if (standin == 0) {
    ::execl("/bin/sleep", "sleep", "30", nullptr);
    ::_exit(127);
  }
  const pid_t upd = ::fork();
  if (upd == 0) {
    ::execl(updater.c_str(), updater.c_str(), std::to_string(standin).c_str(),
            (app.File("trawlex-app") + " --after").c_str(), "trawlex-app_NEW", "extra.cab",
            "../outside_NEW", nullptr);
    ::_exit(127);
  }
  // The updater waits for the program: nothing is replaced while it runs.
  int status = 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(::waitpid(upd, &status, WNOHANG), 0);
  EXPECT_EQ(ReadFile(app.File("trawlex-app")), "#!/bin/sh\necho version 1\n");
  ::kill(standin, SIGTERM);
  ::waitpid(standin, nullptr, 0);
  ASSERT_EQ(::waitpid(upd, &status, 0), upd);
  EXPECT_EQ(WEXITSTATUS(status), 1);  // "../outside_NEW" was refused
  EXPECT_THAT(ReadFile(app.File("trawlex-app")), HasSubstr("restarted"));
  EXPECT_FALSE(Exists(app.File("trawlex-app_NEW")));
  struct stat st {};
  ASSERT_EQ(::stat(app.File("trawlex-app").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);  // still runnable
  EXPECT_EQ(ReadFile(app.File("extra/e.txt")), "extra");
  EXPECT_FALSE(Exists(app.File("extra.cab")));
  for (int i = 0; i < 100 && !Exists(app.File("restarted")); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(ReadFile(app.File("restarted")), "restarted --after\n");
  EXPECT_FALSE(Exists(updater));  // it removed itself and its folder
}

TEST(UpdaterProgramTest, DoesNothingWithoutAProcessNumber) {
  testing::TempDir dir;
  testing::ScopedCurrentDir cwd(dir.path());
  TWebUpdate engine;
  engine.UpdaterResource = UpdaterResource();
  std::string err;
  const std::string updater = engine.ExtractUpdater(&err);
  ASSERT_FALSE(updater.empty()) << err;
  WriteFile(dir.File("x_NEW"), "new");
  for (const char* first : {"abc", "12x", ""}) {
    const std::string cmd = "'" + updater + "' '" + first + "' null x_NEW";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_TRUE(Exists(dir.File("x_NEW"))) << first;
  }
  // A process that has already ended; restart "null" starts nothing.
  EXPECT_EQ(std::system(("'" + updater + "' 999999999 null x_NEW").c_str()), 0);
  EXPECT_FALSE(Exists(dir.File("x_NEW")));
  EXPECT_EQ(ReadFile(dir.File("x")), "new");
}

}  // namespace
}  // namespace trawlex::update
