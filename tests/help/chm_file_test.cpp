// The help file as built, read through the help engine: its context map, topic list, links
// and pictures, and that it carries nothing of the machine that built it.

#include "help/chm_file.h"

#include <regex>

#include <gtest/gtest.h>

#include "detect/file_catalogue.h"
#include "help/help_engine.h"
#include "support/temp_dir.h"

namespace {

using trawlex::help::ChmFile;

class ChmFileTest : public testing::Test {
 protected:
  void SetUp() override {
    trawlex::help::LoadHelpEngine();
    ASSERT_TRUE(trawlex::help::HelpEngineLoaded()) << "libchm1 is installed by scripts/setup.sh";
    std::string err;
    file_ = ChmFile::Open(TRAWLEX_HELP_FILE, &err);
    ASSERT_TRUE(file_) << err;
  }
  std::unique_ptr<ChmFile> file_;
};

TEST_F(ChmFileTest, ContextMapFindsEveryTopicByFileName) {
  EXPECT_EQ(file_->Title(), "Ostrel Trawlex Finder Help");
  EXPECT_EQ(file_->DefaultTopic(), "/main.htm");
  EXPECT_EQ(file_->ContextTopic(10), "/main.htm");
  EXPECT_EQ(file_->ContextTopic(80), "/failing-disks.htm");
  EXPECT_EQ(file_->ContextTopic(11), std::nullopt);
  ASSERT_GE(file_->ContextMap().size(), 12u);
  for (const auto& [context, topic] : file_->ContextMap())
    EXPECT_TRUE(file_->ContextTopic(context)) << context << " " << topic;
  const auto main = file_->Read("/MAIN.HTM");
  ASSERT_TRUE(main) << "names are found without regard to case";
  EXPECT_NE(main->find("<h1>Ostrel Trawlex Finder</h1>"), std::string::npos);
}

TEST_F(ChmFileTest, TopicListAndLinksLeadToObjectsOfTheFile) {
  const auto contents = file_->Contents();
  ASSERT_GE(contents.size(), 12u);
  EXPECT_EQ(contents[0].name, "Ostrel Trawlex Finder");
  EXPECT_EQ(contents[0].depth, 0);
  EXPECT_EQ(contents[1].depth, 1);
  for (const auto& entry : contents) EXPECT_TRUE(file_->Find(entry.local)) << entry.local;

  // Every local link, picture and style sheet of every page is in the file.
  const std::regex reference(R"re((?:href|src)="([^"#:]+)[^"]*")re");
  int pictures = 0;
  for (const std::string& object : file_->ObjectPaths()) {
    if (!object.ends_with(".htm")) continue;
    const std::string html = file_->Read(object).value_or("");
    for (std::sregex_iterator it(html.begin(), html.end(), reference), end; it != end; ++it) {
      EXPECT_TRUE(file_->Find((*it)[1].str())) << object << " links to " << (*it)[1];
      pictures += (*it)[1].str().ends_with(".png");
    }
  }
  EXPECT_GE(pictures, 1);
}

TEST_F(ChmFileTest, FileTypesPageNamesEveryCatalogueType) {
  const std::string page = file_->Read("/file-types.htm").value_or("");
  for (int row = 0; row < kFileTypeCount; ++row)
    EXPECT_NE(page.find("<b>" + std::string(FileTypeTag(row)) + "</b>"), std::string::npos)
        << FileTypeTag(row);
}

TEST_F(ChmFileTest, HoldsNoPathOfTheBuildMachine) {
  const std::string folders[] = {TRAWLEX_SOURCE_DIR, TRAWLEX_BINARY_DIR};
  const std::vector<uint8_t> raw = ReadWholeFile(TRAWLEX_HELP_FILE);
  const std::string bytes(raw.begin(), raw.end());
  for (const std::string& object : file_->AllObjectPaths()) {
    const std::string data = file_->Read(object).value_or("");
    for (const std::string& folder : folders)
      EXPECT_EQ(data.find(folder), std::string::npos) << object << " holds " << folder;
  }
  for (const std::string& folder : folders) EXPECT_EQ(bytes.find(folder), std::string::npos);
}

TEST(ChmFileOpen, RefusesWhatItCannotRead) {
  TempDir dir;
  WriteText(dir / "notes.chm", "plain text, no compiled help");
  trawlex::help::LoadHelpEngine();
  std::string err;
  EXPECT_FALSE(ChmFile::Open(dir / "missing.chm", &err));
  EXPECT_EQ(err, "No such file: " + (dir / "missing.chm") + ".");
  EXPECT_FALSE(ChmFile::Open(dir / "notes.chm", &err));
  EXPECT_EQ(err, "Not a compiled help file: " + (dir / "notes.chm") + ".");
  EXPECT_FALSE(ChmFile::Open(dir.path().string(), &err));

  trawlex::help::UnloadHelpEngine();
  EXPECT_FALSE(ChmFile::Open(TRAWLEX_HELP_FILE, &err));
  EXPECT_EQ(err, "The help engine (libchm.so.1) is not installed.");
  EXPECT_EQ(trawlex::help::FindSharedLibraryPath("libno-such-engine.so.9", false), "");
  trawlex::help::LoadHelpEngine();
  EXPECT_TRUE(ChmFile::Open(TRAWLEX_HELP_FILE, &err));
}

}  // namespace
