// The splash window in both of its uses, on the real window.
#include "help/about/splash_frm.h"

#include "skin/cool_form.h"
#include "skin/hs_skin_btn.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

struct Opened {
  QWidget* owner = nullptr;
  QString text;
};

class SplashTest : public ::testing::Test {
 protected:
  std::unique_ptr<TFrmSplash> make(const QString& folder) {
    return std::make_unique<TFrmSplash>(QApplication::applicationFilePath(), folder,
                                        [this](QWidget* owner, const QString& text) {
                                          opened.push_back({owner, text});
                                        });
  }
  QTemporaryDir dir;
  std::vector<Opened> opened;
};

TEST_F(SplashTest, LoadingCountsSixDotsAndClosesItself) {
  auto splash = make(dir.path());
  QString firstText;
  bool okShown = true;
  QStringList texts;
  QTimer::singleShot(0, splash.get(), [&] {
    firstText = splash->LabelLoading->text();
    okShown = splash->OKBtn->isVisible();
  });
  QObject::connect(splash->TimerSplash, &QTimer::timeout, splash.get(),
                   [&] { texts.append(splash->LabelLoading->text()); });
  splash->ShowSplash(true);  // returns when the splash closed itself

  EXPECT_EQ(firstText, QStringLiteral("Loading "));
  EXPECT_FALSE(okShown);
  ASSERT_EQ(texts.size(), 7);
  EXPECT_EQ(texts[0], QStringLiteral("Loading ."));
  EXPECT_EQ(texts[5], QStringLiteral("Loading ......"));
  EXPECT_EQ(splash->LabelLoading->text(), QStringLiteral("Loading ......"));
  EXPECT_EQ(splash->result(), QDialog::Accepted);
  EXPECT_FALSE(splash->isVisible());
}

TEST_F(SplashTest, AboutWaitsForOkAndItsLinksOpen) {
  auto splash = make(dir.path());
  bool loadingShown = true, okShown = false, stillOpen = false;
  QTimer::singleShot(0, splash.get(), [&] {
    loadingShown = splash->LabelLoading->isVisible();
    okShown = splash->OKBtn->isVisible();
    QTest::mouseClick(splash->LabelWebSite, Qt::LeftButton);
    QTest::mouseClick(splash->LabelEmail, Qt::LeftButton);
    QTest::qWait(900);  // longer than the splash would stay
    stillOpen = splash->isVisible();
    QTest::mouseClick(splash->OKBtn, Qt::LeftButton, {}, QPoint(35, 12));
  });
  splash->ShowSplash(false);

  EXPECT_FALSE(loadingShown);
  EXPECT_TRUE(okShown);
  EXPECT_TRUE(stillOpen);
  EXPECT_FALSE(splash->isVisible());
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0].owner, splash.get());
  EXPECT_EQ(opened[0].text, TFrmSplash::kWebSite);
  EXPECT_EQ(opened[1].text, QStringLiteral("mailto:") + TFrmSplash::kEmail);
  // The mail address follows the web address, 9 pixels on.
  EXPECT_EQ(splash->LabelEmail->x(), splash->LabelWebSite->geometry().right() + 1 + 9);
  EXPECT_EQ(splash->PanelAboutus->y(), 320);
}

TEST_F(SplashTest, FaceSizeVersionAndAFaceOfTheUsersOwn) {
  {
    auto splash = make(dir.path());
    EXPECT_EQ(splash->size(), QSize(500, 410));
    // This test program carries the project's version block.
    EXPECT_EQ(splash->LBVersion->text(), QStringLiteral("Version 1.0"));
  }
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("Data")));
  const QString own = dir.filePath(QStringLiteral("Data/splash.bmp"));
  {
    QImage face(300, 200, QImage::Format_RGB32);
    face.fill(Qt::darkGreen);
    ASSERT_TRUE(face.save(own, "BMP"));
    auto splash = make(dir.path());
    EXPECT_EQ(splash->CoolForm->picture().size(), QSize(300, 200));
    EXPECT_EQ(splash->size(), QSize(500, 410));  // the size was taken from the stored face
  }
  {
    // A file that is no picture leaves the stored face and the program starts.
    QFile broken(own);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("not a bitmap");
    broken.close();
    auto splash = make(dir.path());
    EXPECT_EQ(splash->CoolForm->picture().deviceIndependentSize().toSize(), QSize(500, 410));
  }
}

}  // namespace
