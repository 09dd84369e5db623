// Drives the live update wizard page by page against a local HTTPS update server.

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "skin/hs_skin_btn.h"
#include "update/cab_writer.h"
#include "update/engine_fixture.h"
#include "update/update_site.h"
#include "update/updater/updater_resource.h"
#include "update/web_update.h"
#include "update/wizard/web_update_wizard.h"
#include "update/wizard/wu_wiz_form.h"

namespace trawlex::update {
namespace {

using ::testing::ElementsAre;
using testing::Exists;
using ::testing::HasSubstr;
using testing::ReadFile;

void Click(THSSkinBtn* button) {
  QTest::mouseClick(button, Qt::LeftButton);
}

class WizardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(site_.running()) << site_.tls_.error();
    testing::RecordStatus(engine_, &status_);
    site_.Serve(engine_);
    engine_.Hooks.AskYesNo = [](const std::string&) { return true; };
    form_.AttachEngine(&engine_);
    form_.Information = [this](QWidget*, const QString& text) { said_ << text; };
    form_.show();
  }
  int Page() const { return form_.PageControl1->currentIndex(); }
  bool Reported(const std::string& part) const {
    for (const auto& s : status_) {
      if (s.text.find(part) != std::string::npos) return true;
    }
    return false;
  }
  /// Start, then Get update: the what's-new page.
  void ToWhatsNew() {
    Click(form_.StartButton);
    ASSERT_EQ(Page(), 1);
    ASSERT_EQ(form_.ControlButton->Caption(), "Get update");
    Click(form_.ControlButton);
    ASSERT_EQ(Page(), 2);
  }

  testing::UpdateSite site_;
  testing::ScopedCurrentDir cwd_{site_.program_.path()};
  TWebUpdate engine_;
  std::vector<testing::Status> status_;
  TWUWIZ form_;
  QStringList said_;
};

TEST_F(WizardTest, EveryPageToTheRestart) {
  Click(form_.StartButton);
  ASSERT_EQ(Page(), 1);
  const QString info = form_.VersionInfoLabel->text();
  EXPECT_TRUE(info.startsWith(QStringLiteral("New version found :\n\nCurrent version : ")))
      << info.toStdString();
  EXPECT_TRUE(info.endsWith(QStringLiteral("\n\nRelease 2.0 with faster scans")));
  EXPECT_THAT(info.toStdString(), HasSubstr("New version :"));
  Click(form_.ControlButton);
  ASSERT_EQ(Page(), 2);
  EXPECT_EQ(form_.WhatsNewMemo->toPlainText(), "Version 2.0\n- Faster scans\n- New help");
  Click(form_.NewButton);
  ASSERT_EQ(Page(), 3);
  EXPECT_THAT(form_.EULAMemo->toPlainText().toStdString(), HasSubstr("Use at your own risk."));
  EXPECT_FALSE(form_.EULAButton->isEnabled());
  QTest::mouseClick(form_.RAccept, Qt::LeftButton, {}, QPoint(6, form_.RAccept->height() / 2));
  EXPECT_TRUE(form_.EULAButton->isEnabled());
  EXPECT_EQ(form_.EULAButton->Caption(), "Next");
  Click(form_.EULAButton);
  ASSERT_EQ(Page(), 4);
  ASSERT_EQ(form_.CheckListBox1->count(), 3);
  EXPECT_EQ(form_.CheckListBox1->item(1)->text(), "Help");
  Click(form_.FilesButton);
  ASSERT_EQ(Page(), 6) << ::testing::PrintToString(status_);
  EXPECT_EQ(form_.TotalProgress->maximum(), 42030);
  EXPECT_EQ(form_.FileLabel->text(), "trawlex-app_NEW");
  const auto& app = site_.program_;
  EXPECT_EQ(ReadFile(app.File("data/readme.txt")), "Read me, version 2\n");
  EXPECT_THAT(ReadFile(app.File("help/help.txt")), HasSubstr("Help text, version 2."));
  EXPECT_EQ(ReadFile(app.File("trawlex-app_NEW")), "#!/bin/sh\necho version 2\n");
  EXPECT_FALSE(engine_.Connected());

  std::vector<std::string> started;
  bool closed = false;
  engine_.UpdaterResource = UpdaterResource();
  engine_.Hooks.StartProgram = [&](const std::vector<std::string>& argv, std::string*) {
    started = argv;
    return true;
  };
  engine_.OnAppDoClose = [&](TWebUpdate&) { closed = true; };
  Click(form_.RestartButton);
  EXPECT_TRUE(closed);
  ASSERT_EQ(started.size(), 4u);
  EXPECT_EQ(started[0], engine_.RunDirectory() + "/upd.exe");
  EXPECT_THAT(std::vector<std::string>(started.begin() + 2, started.end()),
              ElementsAre(app.File("trawlex-app"), "trawlex-app_NEW"));
  EXPECT_TRUE(Exists(started[0]));
  std::remove(started[0].c_str());
}

TEST_F(WizardTest, RefusedLicenceEndsTheWizardWithNothingDownloaded) {
  ToWhatsNew();
  Click(form_.NewButton);
  ASSERT_EQ(Page(), 3);
  const std::string control = engine_.ControlFilePath();
  EXPECT_TRUE(Exists(control));
  QTest::mouseClick(form_.RNoAccept, Qt::LeftButton, {}, QPoint(6, form_.RNoAccept->height() / 2));
  EXPECT_EQ(form_.EULAButton->Caption(), "Exit");
  Click(form_.EULAButton);
  EXPECT_FALSE(form_.isVisible());
  EXPECT_EQ(form_.result(), QDialog::Rejected);
  EXPECT_FALSE(Exists(control));  // the connection was stopped
  EXPECT_FALSE(Exists(site_.program_.File("trawlex-app_NEW")));
}

TEST_F(WizardTest, UncheckedComponentsAreNotDownloadedAndHostileCabinetIsReported) {
  testing::WriteStoredCabinet(site_.root_.File("update/data.cab"),
                              {{"ok.txt", "ok"}, {"..\\..\\escaped.txt", "evil"}});
  ToWhatsNew();
  Click(form_.NewButton);
  QTest::mouseClick(form_.RAccept, Qt::LeftButton, {}, QPoint(6, form_.RAccept->height() / 2));
  Click(form_.EULAButton);
  form_.CheckListBox1->item(1)->setCheckState(Qt::Unchecked);
  Click(form_.FilesButton);
  ASSERT_EQ(Page(), 6);
  ASSERT_EQ(engine_.FileList().Count(), 2u);
  EXPECT_EQ(engine_.FileList().Item(0).Description, "Data files");
  EXPECT_EQ(engine_.FileList().Item(1).Description, "Program");
  EXPECT_FALSE(Exists(site_.program_.File("help/help.txt")));
  EXPECT_TRUE(Reported("Error decompressing CAB file : " + site_.program_.File("data.cab")));
  EXPECT_FALSE(Exists(site_.program_.File("ok.txt")));
  EXPECT_FALSE(Exists(site_.root_.File("escaped.txt")));
  EXPECT_FALSE(Exists(site_.program_.File("../escaped.txt")));
}

TEST_F(WizardTest, NoTextsGoStraightToComponentsAndAnEmptyListEnds) {
  site_.WriteControlFile("[update]\nunconditional=1\n[files]\ncount=1\n[file1]\nurl=" +
                         site_.Url("/update/help.tx_") + "\ndescr=Help\ncompressed=1\n");
  Click(form_.StartButton);
  Click(form_.ControlButton);
  EXPECT_EQ(Page(), 4);
  EXPECT_EQ(form_.CheckListBox1->count(), 1);
  form_.CheckListBox1->item(0)->setCheckState(Qt::Unchecked);
  Click(form_.FilesButton);
  EXPECT_FALSE(form_.isVisible());
  EXPECT_EQ(said_, QStringList{"No files found for update"});

  TWUWIZ form;
  form.AttachEngine(&engine_);
  form.Information = form_.Information;
  site_.WriteControlFile("[update]\nunconditional=1\n[files]\ncount=0\n");
  form.show();
  Click(form.StartButton);
  Click(form.ControlButton);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(said_.size(), 2);
}

TEST_F(WizardTest, NothingNewAndNoControlFileOfferExit) {
  const std::vector<std::pair<std::string, QString>> cases = {
      {"[update]\ndate=01/01/1990\nlocalversion=" + site_.program_.File("trawlex-app") + "\n",
       "No new version available."},
      {"", "Could not connect to update server or no update found on server ..."}};
  for (const auto& [control, text] : cases) {
    TWUWIZ form;
    form.AttachEngine(&engine_);
    if (control.empty()) {
      engine_.URL = site_.Url("/update/missing.inf");
    } else {
      site_.WriteControlFile(control);
    }
    form.show();
    Click(form.StartButton);
    EXPECT_EQ(form.VersionInfoLabel->text(), text);
    EXPECT_EQ(form.ControlButton->Caption(), "Exit");
    Click(form.ControlButton);
    EXPECT_FALSE(form.isVisible());
  }
}

/// The control file arrives slowly: Start turns into Cancel, and pressing it ends the check.
TEST_F(WizardTest, ControlFileFetchCanBeCancelled) {
  testing::HttpTestServer slow;
  slow.Serve("/update/ostreltrawlexfinder.inf", {200, std::string(20000, ';'), {}, 4096});
  engine_.URL = slow.Url("/update/ostreltrawlexfinder.inf");
  bool clicked = false;
  engine_.OnStatus = [&](TWebUpdate&, const std::string& text, int, int) {
    if (text.rfind("Download : ", 0) == 0 && !clicked) {
      clicked = true;
      QTimer::singleShot(0, &form_, [this] {
        EXPECT_EQ(form_.StartButton->Caption(), "Cancel");
        Click(form_.StartButton);
      });
    }
  };
  Click(form_.StartButton);
  slow.Release();
  EXPECT_TRUE(clicked);
  EXPECT_FALSE(form_.isVisible());
  EXPECT_TRUE(engine_.Cancelled());
  EXPECT_FALSE(engine_.Connected());
  EXPECT_TRUE(testing::ListDir(engine_.RunDirectory()).empty());
}

/// Cancel during a download ends the transfer after its next block and closes the wizard.
TEST_F(WizardTest, CancelDuringTheDownload) {
  testing::HttpTestServer http;
  http.Serve(
      "/u.inf",
      {200, "[update]\nunconditional=1\n[files]\ncount=2\n[file1]\nurl=" + http.Url("/big.bin") +
                "\ndescr=Big\ntargetdir={APP}\n[file2]\nurl=" + http.Url("/next.bin") +
                "\ndescr=Next\ntargetdir={APP}\n"});
  http.Serve("/big.bin", {200, std::string(100000, 'b'), {}, 8192});
  http.Serve("/next.bin", {200, "next"});
  engine_.URL = http.Url("/u.inf");
  engine_.OnStatus = [&](TWebUpdate&, const std::string& text, int, int) {
    if (text == "Download : " + http.Url("/big.bin")) {
      QTimer::singleShot(0, &form_, [this] { Click(form_.CancelButton); });
    }
  };
  Click(form_.StartButton);
  Click(form_.ControlButton);
  ASSERT_EQ(Page(), 4);
  Click(form_.FilesButton);
  http.Release();
  EXPECT_FALSE(form_.isVisible());
  EXPECT_NE(Page(), 6);
  EXPECT_TRUE(engine_.Cancelled());
  EXPECT_FALSE(Exists(site_.program_.File("big.bin")));
  EXPECT_FALSE(Exists(site_.program_.File("next.bin")));
}

TEST_F(WizardTest, ClosingTheWindowStopsTheConnection) {
  Click(form_.StartButton);
  ASSERT_TRUE(engine_.Connected());
  const std::string control = engine_.ControlFilePath();
  form_.close();
  EXPECT_FALSE(engine_.Connected());
  EXPECT_FALSE(Exists(control));
}

TEST(WebUpdateWizardTest, ExecuteNeedsAnEngine) {
  TWebUpdateWizard wizard;
  try {
    wizard.Execute();
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "No WebUpdate component assigned");
  }
  EXPECT_EQ(QApplication::topLevelWidgets().count(), 0);
  // With an engine the wizard shows, captioned and centred, until closed.
  TWebUpdate engine;
  wizard.WebUpdate = &engine;
  wizard.Caption = "Live Update";
  wizard.Position = TPosition::poScreenCenter;
  QString title;
  wizard.OnFormCreated = [&](TWUWIZ& form) {
    title = form.windowTitle();
    QTimer::singleShot(0, &form, [&form] { form.close(); });
  };
  wizard.Execute();
  EXPECT_EQ(title, "Live Update");
  EXPECT_EQ(engine.OnFileProgress, nullptr);  // detached from the destroyed form
}

}  // namespace
}  // namespace trawlex::update

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
