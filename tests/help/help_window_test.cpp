// The help window on the help file as built: the main topic at context 10, links, Back and
// Forward, the topic list, F1 and What's This, and a help file that cannot be shown.

#include "help/ui/help_window.h"

#include <QApplication>
#include <QHelpEvent>
#include <QLineEdit>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "help/help_engine.h"
#include "help/hook_help_system.h"
#include "help/ui/help_system.h"
#include "help_test_support.h"

namespace {

class HelpWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    trawlex::help::LoadHelpEngine();
    StartDiagnosticsIn(dir_, {}, trawlex::help::FindHelpControlPath());
    HelpSystem::setMessageHandler([this](const QString& text) { warnings_ << text; });
  }
  void TearDown() override {
    HelpSystem::setMessageHandler({});
    trawlex::help::StopHelpDiagnostics();
  }

  /// Clicks the link whose text is `text` on the page shown.
  static void clickLink(QTextBrowser* browser, const QString& text) {
    QTextCursor link = browser->document()->find(text, 0, QTextDocument::FindCaseSensitively);
    ASSERT_FALSE(link.isNull()) << text.toStdString();
    ASSERT_TRUE(link.charFormat().isAnchor()) << text.toStdString();
    browser->setTextCursor(link);
    browser->ensureCursorVisible();
    link.setPosition(link.selectionStart() + 1);
    const QPoint at = browser->cursorRect(link).center();
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, at);
  }

  TempDir dir_;
  QStringList warnings_;
};

TEST_F(HelpWindowTest, MainTopicLinksHistoryAndTopicList) {
  HelpSystem help(TRAWLEX_HELP_FILE);
  ASSERT_TRUE(ShowHelpContext(TRAWLEX_HELP_FILE, 10));
  HelpWindow* window = help.window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "Ostrel Trawlex Finder Help");
  EXPECT_EQ(window->currentTopic(), "/main.htm");
  EXPECT_TRUE(window->browser()->toPlainText().contains("Recovering files in four steps"));
  const QVariant picture = window->browser()->loadResource(
      QTextDocument::ImageResource,
      window->browser()->source().resolved(QUrl("images/drive-page.png")));
  EXPECT_FALSE(QImage::fromData(picture.toByteArray()).isNull()) << "pictures come from the file";

  QTreeWidget* topics = window->topicList();
  ASSERT_EQ(topics->topLevelItemCount(), 1);
  EXPECT_EQ(topics->topLevelItem(0)->text(0), "Ostrel Trawlex Finder");
  EXPECT_EQ(topics->currentItem(), topics->topLevelItem(0)) << "the list follows the page";

  clickLink(window->browser(), "The scan");
  EXPECT_EQ(window->currentTopic(), "/scanning.htm");
  EXPECT_TRUE(window->browser()->toPlainText().contains("How long it takes"));
  ASSERT_TRUE(window->backAction()->isEnabled());
  window->backAction()->trigger();
  EXPECT_EQ(window->currentTopic(), "/main.htm");
  ASSERT_TRUE(window->forwardAction()->isEnabled());
  window->forwardAction()->trigger();
  EXPECT_EQ(window->currentTopic(), "/scanning.htm");

  QTreeWidgetItem* types = topics->topLevelItem(0)->child(2);
  ASSERT_NE(types, nullptr);
  EXPECT_EQ(types->text(0), "The 45 file types");
  QTest::mouseClick(topics->viewport(), Qt::LeftButton, {}, topics->visualItemRect(types).center());
  EXPECT_EQ(window->currentTopic(), "/file-types.htm");
  window->homeAction()->trigger();
  EXPECT_EQ(window->currentTopic(), "/main.htm");

  // A context the map lacks shows the first page.
  EXPECT_FALSE(window->showContext(12345));
  EXPECT_EQ(window->currentTopic(), "/main.htm");
  EXPECT_TRUE(warnings_.isEmpty());
}

TEST_F(HelpWindowTest, F1AndWhatsThisOpenTheNearestContext) {
  HelpSystem help(TRAWLEX_HELP_FILE);
  QWidget page;
  SetHelpContext(&page, 80);
  auto* edit = new QLineEdit(&page);
  QWidget other;  // no context anywhere: F1 is left to the widget
  EXPECT_EQ(HelpContextOf(edit), 80);
  EXPECT_EQ(HelpContextOf(&other), 0);

  QTest::keyClick(&other, Qt::Key_F1);
  EXPECT_EQ(help.window(), nullptr);
  QTest::keyClick(edit, Qt::Key_F1);
  ASSERT_NE(help.window(), nullptr);
  EXPECT_EQ(help.window()->currentTopic(), "/failing-disks.htm");

  SetHelpContext(edit, 90);
  QHelpEvent whatsThis(QEvent::WhatsThis, QPoint(2, 2), QPoint(-5, 300));
  EXPECT_TRUE(QApplication::sendEvent(edit, &whatsThis));
  EXPECT_EQ(help.window()->currentTopic(), "/sector-viewer.htm");
  EXPECT_EQ(help.hook().popupX(), -5);
  EXPECT_EQ(help.hook().popupY(), 300);
  EXPECT_TRUE(warnings_.isEmpty());
}

TEST_F(HelpWindowTest, AHelpFileThatCannotBeShown) {
  const QString missing = QString::fromStdString(dir_ / "OstrelTrawlexFinder.chm");
  EXPECT_FALSE(ShowHelpContext(TRAWLEX_HELP_FILE, 10)) << "no help system yet";
  {
    HelpSystem help(missing);
    EXPECT_FALSE(ShowHelpContext(missing, 10));
    EXPECT_TRUE(warnings_.isEmpty()) << "the menu says it itself";

    // Through the hook the help window tells of the file, as the help engine would.
    QWidget page;
    SetHelpContext(&page, 10);
    QTest::keyClick(&page, Qt::Key_F1);
    EXPECT_EQ(warnings_, QStringList{"Cannot load help file."});

    trawlex::help::UnloadHelpEngine();
    EXPECT_FALSE(ShowHelpContext(TRAWLEX_HELP_FILE, 10)) << "no help engine";
    trawlex::help::LoadHelpEngine();
    EXPECT_TRUE(ShowHelpContext(TRAWLEX_HELP_FILE, 10));
  }
  EXPECT_EQ(HelpSystem::instance(), nullptr);
}

}  // namespace
