#include "skin/browse_for_folder.h"

#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

/// Answers with a fixed result and remembers what it was asked.
class ScriptedChooser : public FolderChooser {
 public:
  explicit ScriptedChooser(std::optional<QString> answer, Request* seen)
      : answer_(std::move(answer)), seen_(seen) {}
  std::optional<QString> choose(const Request& request) override {
    *seen_ = request;
    return answer_;
  }

 private:
  std::optional<QString> answer_;
  Request* seen_;
};

TEST(BrowseForFolder, Defaults) {
  TBrowseForFolder browse;
  EXPECT_EQ(browse.Caption(), QStringLiteral("Select Folder"));
  EXPECT_EQ(browse.StatusText(), QStringLiteral("Plase select folder"));
  EXPECT_EQ(browse.FolderName(), QStringLiteral("C:\\"));
  EXPECT_EQ(browse.DisplayName(), QString());
  EXPECT_EQ(browse.Root(), TBrowseForFolder::bl_STANDART);
  EXPECT_EQ(browse.Flags(), TBrowseForFolder::TBrowseFlags());
}

TEST(BrowseForFolder, ChosenFolderSetsFolderAndDisplayName) {
  QTemporaryDir dir;
  const QString chosen = dir.filePath(QStringLiteral("Recovered"));
  QWidget form;
  TBrowseForFolder browse(&form);
  browse.setFolderName(QStringLiteral("/srv/save"));
  browse.setStatusText(QStringLiteral("Where shall the files go?"));
  FolderChooser::Request seen;
  browse.setChooser(std::make_unique<ScriptedChooser>(chosen, &seen));
  EXPECT_TRUE(browse.Execute());
  EXPECT_EQ(browse.FolderName(), chosen);
  EXPECT_EQ(browse.DisplayName(), QStringLiteral("Recovered"));
  EXPECT_EQ(seen.owner, &form);
  EXPECT_EQ(seen.caption, QStringLiteral("Select Folder"));
  EXPECT_EQ(seen.statusText, QStringLiteral("Where shall the files go?"));
  EXPECT_EQ(seen.startFolder, QStringLiteral("/srv/save"));
}

TEST(BrowseForFolder, CancelledKeepsFolderName) {
  QWidget form;
  TBrowseForFolder browse(&form);
  browse.setFolderName(QStringLiteral("/home/user/Recovered"));
  FolderChooser::Request seen;
  browse.setChooser(std::make_unique<ScriptedChooser>(std::nullopt, &seen));
  EXPECT_FALSE(browse.Execute());
  EXPECT_EQ(browse.FolderName(), QStringLiteral("/home/user/Recovered"));
  EXPECT_EQ(browse.DisplayName(), QString());
}

TEST(BrowseForFolder, AChoiceWithoutAFolderIsNoChoice) {
  TBrowseForFolder browse;
  browse.setFolderName(QStringLiteral("/data"));
  FolderChooser::Request seen;
  browse.setChooser(std::make_unique<ScriptedChooser>(QString(), &seen));
  EXPECT_FALSE(browse.Execute());
  EXPECT_EQ(browse.FolderName(), QStringLiteral("/data"));
}

TEST(BrowseForFolder, OwnerThatIsNotAFormRaisesInvalidCast) {
  QWidget form;
  QWidget panel(&form);
  TBrowseForFolder onPanel(&panel);
  FolderChooser::Request seen;
  onPanel.setChooser(std::make_unique<ScriptedChooser>(QStringLiteral("/tmp"), &seen));
  EXPECT_THROW(onPanel.Execute(), std::bad_cast);

  QObject plain;
  TBrowseForFolder onObject(&plain);
  try {
    onObject.Execute();
    FAIL() << "no error raised";
  } catch (const InvalidCastError& e) {
    EXPECT_STREQ(e.what(), "Invalid class typecast");
  }
}

TEST(BrowseForFolder, NoOwnerRunsUnparented) {
  TBrowseForFolder browse;
  FolderChooser::Request seen;
  seen.owner = reinterpret_cast<QWidget*>(&browse);
  browse.setChooser(std::make_unique<ScriptedChooser>(QStringLiteral("/"), &seen));
  EXPECT_TRUE(browse.Execute());
  EXPECT_EQ(seen.owner, nullptr);
  EXPECT_EQ(browse.FolderName(), QStringLiteral("/"));
  EXPECT_EQ(browse.DisplayName(), QStringLiteral("/"));
}

TEST(BrowseForFolder, RootAndFlagsReachTheChooser) {
  QTemporaryDir dir;
  TBrowseForFolder browse;
  browse.setRoot(TBrowseForFolder::bl_CUSTOM);
  browse.setCustomRoot(dir.path());
  browse.setFlags(TBrowseForFolder::bf_ReturnOnlyFSDIRS | TBrowseForFolder::bf_statustext);
  FolderChooser::Request seen;
  browse.setChooser(std::make_unique<ScriptedChooser>(std::nullopt, &seen));
  EXPECT_FALSE(browse.Execute());
  EXPECT_EQ(seen.rootFolder, dir.path());
  EXPECT_TRUE(seen.onlyFileSystemFolders);
  browse.setRoot(TBrowseForFolder::bl_DRIVES);
  EXPECT_EQ(browse.rootFolder(), QStringLiteral("/"));
  browse.setRoot(TBrowseForFolder::bl_NETWORK);
  EXPECT_EQ(browse.rootFolder(), QString());
}

}  // namespace
