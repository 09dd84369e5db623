#include <gtest/gtest.h>

#include "update/lz_expand.h"
#include "update/szdd_writer.h"
#include "update/test_util.h"

namespace trawlex::update {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::TempDir;

std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

TEST(LzExpandTest, ExpandsToTheNameInTheHeader) {
  TempDir dir;
  const std::string content = testing::SampleContent(6000, 11);
  testing::WriteBytes(dir.File("upd.ex_"), testing::SzddCompress(Bytes(content), 'e'));
  EXPECT_TRUE(IsSzddFile(dir.File("upd.ex_")));
  EXPECT_EQ(ExpandedNameOf(dir.File("upd.ex_")), dir.File("upd.exe"));
  std::string expanded, err;
  ASSERT_TRUE(LzExpandFile(dir.File("upd.ex_"), &expanded, &err)) << err;
  EXPECT_EQ(expanded, dir.File("upd.exe"));
  EXPECT_EQ(ReadFile(expanded), content);
  EXPECT_FALSE(Exists(dir.File("upd.ex_")));
}

TEST(LzExpandTest, RecordedCharacterFollowsTheNamesCase) {
  TempDir dir;
  testing::WriteBytes(dir.File("README.TX_"),
                      testing::SzddCompress(Bytes("hello hello hello"), 't'));
  std::string expanded;
  ASSERT_TRUE(LzExpandFile(dir.File("README.TX_"), &expanded, nullptr));
  EXPECT_EQ(expanded, dir.File("README.TXT"));
  EXPECT_EQ(ReadFile(expanded), "hello hello hello");
}

TEST(LzExpandTest, ReplacesAnOlderExpandedFile) {
  TempDir dir;
  testing::WriteFile(dir.File("data.bin"), "old");
  testing::WriteBytes(dir.File("data.bi_"), testing::SzddCompress(Bytes("new data"), 'n'));
  ASSERT_TRUE(LzExpandFile(dir.File("data.bi_"), nullptr, nullptr));
  EXPECT_EQ(ReadFile(dir.File("data.bin")), "new data");
}

TEST(LzExpandTest, EmptyAndRepetitiveContent) {
  TempDir dir;
  testing::WriteBytes(dir.File("e.tx_"), testing::SzddCompress({}, 't'));
  ASSERT_TRUE(LzExpandFile(dir.File("e.tx_"), nullptr, nullptr));
  EXPECT_EQ(ReadFile(dir.File("e.txt")), "");
  const std::string blanks(5000, ' ');  // matches the window's initial blanks
  const auto packed = testing::SzddCompress(Bytes(blanks), 't');
  EXPECT_LT(packed.size(), 1000u);
  testing::WriteBytes(dir.File("s.tx_"), packed);
  ASSERT_TRUE(LzExpandFile(dir.File("s.tx_"), nullptr, nullptr));
  EXPECT_TRUE(ReadFile(dir.File("s.txt")) == blanks);
}

TEST(LzExpandTest, PlainFileIsLeftAsItIs) {
  TempDir dir;
  testing::WriteFile(dir.File("plain.txt"), "not compressed");
  std::string expanded;
  EXPECT_FALSE(IsSzddFile(dir.File("plain.txt")));
  EXPECT_FALSE(ExpandedNameOf(dir.File("plain.txt")).has_value());
  EXPECT_TRUE(LzExpandFile(dir.File("plain.txt"), &expanded, nullptr));
  EXPECT_EQ(expanded, dir.File("plain.txt"));
  EXPECT_EQ(ReadFile(dir.File("plain.txt")), "not compressed");
}

TEST(LzExpandTest, DamagedFilesFailAndLoseNothing) {
  TempDir dir;
  const std::string content = testing::SampleContent(20000, 12);
  const auto packed = testing::SzddCompress(Bytes(content), 'e');
  std::vector<uint8_t> unusable = packed;
  unusable[9] = '/';
  const struct {
    std::vector<uint8_t> bytes;
    const char* why;
  } cases[] = {
      {{packed.begin(), packed.begin() + 5170},
       "it expands to only 17073 of the 20000 bytes its header records"},
      {{packed.begin(), packed.begin() + 14},
       "it expands to only 0 of the 20000 bytes its header records"},
      {unusable, "its header records an unusable name"},
  };
  for (const auto& c : cases) {
    testing::WriteFile(dir.File("app.exe"), "old program");
    testing::WriteBytes(dir.File("app.ex_"), c.bytes);
    std::string err;
    EXPECT_FALSE(LzExpandFile(dir.File("app.ex_"), nullptr, &err));
    EXPECT_EQ(err, "\"" + dir.File("app.ex_") + "\" cannot be expanded: " + c.why + ".");
    EXPECT_EQ(ReadFile(dir.File("app.exe")), "old program");
    EXPECT_EQ(testing::ListDir(dir.path()), (std::vector<std::string>{"app.ex_", "app.exe"}));
  }
}

TEST(LzExpandTest, MissingFileFails) {
  TempDir dir;
  std::string err;
  EXPECT_FALSE(LzExpandFile(dir.File("none.ex_"), nullptr, &err));
  EXPECT_FALSE(err.empty());
}

}  // namespace
}  // namespace trawlex::update
