// File versions, their comparison and the two tables of release names.

#include "help/file_version.h"

#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

using trawlex::help::FileVersion;
using trawlex::help::MakeFileVersion;

FileVersion V(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
  return MakeFileVersion(a, b, c, d);
}

TEST(FileVersion, ComparesNumberByNumberAsUnsigned) {
  EXPECT_EQ(MakeFileVersion(4, 74, 8793, 0).text, "4.74.8793.0");
  EXPECT_EQ(trawlex::help::CompareFileVersions(V(4, 74, 8793, 1), V(4, 74, 8793, 0)), 1);
  EXPECT_EQ(trawlex::help::CompareFileVersions(V(4, 74, 8793, 0), V(4, 74, 8793, 0)), 0);
  EXPECT_EQ(trawlex::help::CompareFileVersions(V(4, 9, 65535, 65535), V(4, 10, 0, 0)), -1);
  EXPECT_EQ(trawlex::help::CompareFileVersions(V(65535, 0, 0, 0), V(1, 0, 0, 0)), 1);
}

TEST(FileVersion, HelpEngineReleaseNames) {
  const std::pair<FileVersion, const char*> cases[] = {
      {FileVersion{}, ""},         {V(4, 74, 8793, 1), "> 1.31"}, {V(5, 0, 0, 0), "> 1.31"},
      {V(4, 74, 8793, 0), "1.31"}, {V(4, 74, 8792, 9), "1.3"},    {V(4, 73, 8474, 0), "1.21a"},
      {V(4, 72, 7323, 5), "1.1"},  {V(4, 72, 7290, 0), "1.0"},    {V(4, 72, 7289, 65535), "< 1.0"},
      {V(1, 0, 0, 0), "< 1.0"},
  };
  for (const auto& [version, name] : cases)
    EXPECT_EQ(trawlex::help::HelpEngineFriendlyVersion(version), name) << version.text;
}

TEST(FileVersion, BrowserReleaseNamesAfterTheEarlyBuildAdjustment) {
  const FileVersion adjusted = trawlex::help::AdjustBrowserComponentVersion(V(4, 70, 0, 1155));
  EXPECT_EQ(adjusted.text, "4.70.1155.0");
  EXPECT_EQ(trawlex::help::BrowserFriendlyVersion(adjusted), "Internet Explorer 3.0");
  // Only 4.x with x at most 70 and release 0 is rewritten.
  EXPECT_EQ(trawlex::help::AdjustBrowserComponentVersion(V(4, 71, 0, 1712)).text, "4.71.0.1712");
  EXPECT_EQ(trawlex::help::AdjustBrowserComponentVersion(V(4, 70, 1, 1155)).text, "4.70.1.1155");
  EXPECT_TRUE(trawlex::help::AdjustBrowserComponentVersion(FileVersion{}).empty());

  const std::pair<FileVersion, const char*> cases[] = {
      {FileVersion{}, ""},
      {V(5, 50, 3825, 1301), "> Internet Explorer 5.5 Developer Preview"},
      {V(6, 4, 2, 0), "> Internet Explorer 5.5 Developer Preview"},
      {V(5, 50, 3825, 1300), "Internet Explorer 5.5 Developer Preview"},
      {V(5, 0, 2919, 6307), "Internet Explorer 5.01"},
      {V(5, 0, 2919, 3800), "Internet Explorer 5.01 (Windows 2000 RC2, build 5.00.2128)"},
      {V(5, 0, 2919, 799), "Internet Explorer 5.0 updated"},
      {V(4, 72, 3612, 0), "Internet Explorer 4.01 Service Pack 2 (SP2)"},
      {V(4, 70, 1158, 0), "Internet Explorer 3.0 (OSR2)"},
      {V(4, 40, 308, 0), "Internet Explorer 1.0 (Plus!)"},
      {V(4, 40, 307, 0), "< Internet Explorer 1.0 (Plus!)"},
  };
  for (const auto& [version, name] : cases)
    EXPECT_EQ(trawlex::help::BrowserFriendlyVersion(version), name) << version.text;
}

TEST(FileVersion, ReadFromVersionBlockOrLibraryName) {
  // This test program carries the project's version block.
  EXPECT_EQ(trawlex::help::ReadFileVersion("/proc/self/exe").text, TRAWLEX_PROJECT_VERSION_4);

  TempDir dir;
  WriteText(dir / "libthing.so.3.2.1", "not an ELF file");
  ASSERT_EQ(::symlink("libthing.so.3.2.1", (dir / "libthing.so.3").c_str()), 0);
  const FileVersion library = trawlex::help::ReadFileVersion(dir / "libthing.so.3");
  EXPECT_EQ(library.text, "3.2.1.0");
  EXPECT_EQ(library.release, 1);

  for (const char* name : {"libthing.so", "libthing.so.1.2.3.4.5", "libthing.so.70000",
                           "libthing.so.1..2", "plain.txt"}) {
    WriteText(dir / name, "x");
    EXPECT_TRUE(trawlex::help::ReadFileVersion(dir / name).empty()) << name;
  }
  EXPECT_TRUE(trawlex::help::ReadFileVersion(dir / "missing.so.1").empty());
  EXPECT_TRUE(trawlex::help::ReadFileVersion("").empty());
}

}  // namespace
