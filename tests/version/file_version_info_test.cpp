#include "version/file_version_info.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "version/pe_builder.h"
#include "version/version_info.h"

namespace trawlex::version {
namespace {

TEST(FileVersionInfo, ShortensByWholeZeroParts) {
  const std::pair<const char*, const char*> cases[] = {
      {"1.0.0.0", "1.0"},     {"10.0.0.0", "10.0"},   {"1.10.0.0", "1.10"}, {"1.2.3.0", "1.2.3"},
      {"1.2.3.4", "1.2.3.4"}, {"2.0.10.0", "2.0.10"}, {"0.0.0.0", "0.0"},
  };
  for (const auto& [full, shown] : cases) EXPECT_EQ(ShortFileVersion(full), shown) << full;
}

TEST(FileVersionInfo, ReadsTheItemsInOrder) {
  VersionResource r;
  FixedFileInfo f;
  f.file_version_ms = 0x00010000;  // 1.0.0.0
  f.product_version_ms = 0x00010002;
  f.product_version_ls = 0x00030004;
  f.file_os = 0x40004;
  f.file_type = 2;
  r.fixed = f;
  r.string_tables.push_back({"040904E4",
                             {{"ProductName", "Ostrel Trawlex Finder"},
                              {"LegalCopyright", "(c) Ostrel"},
                              {"CompanyName", "Ostrel"},
                              {"FileDescription", "Disk file recovery"},
                              {"Author", "the team"}}});
  // A table in another language is not read.
  r.string_tables.push_back({"040704B0", {{"Comments", "nicht gelesen"}}});
  TempDir dir;
  WriteFile(dir / "app.exe", testing::BuildPeWithVersion(BuildVersionBlock(r)));

  VersionInfo info;
  info.SetFileName(dir / "app.exe");
  EXPECT_EQ(info.FileVersion, "1.0");
  EXPECT_EQ(info.Copyright, "(c) Ostrel");
  EXPECT_EQ(info.Description, "Disk file recovery");
  const std::vector<std::string> items{"ProductVersion=1.2.3.4",
                                       "OperatingSystem=Windows NT with 32 bit Windows",
                                       "FileType=Dynamic-Link Library",
                                       "Company Name=Ostrel",
                                       "Product Name=Ostrel Trawlex Finder",
                                       "Author=the team"};
  EXPECT_EQ(info.Items, items);
}

TEST(FileVersionInfo, AFileWithoutAVersionChangesNothing) {
  TempDir dir;
  WriteFile(dir / "bare.exe", testing::BuildPeWithVersion({}));
  VersionInfo info;
  info.SetFileName(dir / "bare.exe");
  info.SetFileName(dir / "missing.exe");
  EXPECT_EQ(info.FileName(), dir / "missing.exe");
  EXPECT_TRUE(info.Items.empty());
  EXPECT_TRUE(info.FileVersion.empty());
}

TEST(FileVersionInfo, OwnProgramReadsTheProjectVersion) {
  VersionInfo info;
  info.SetFileName(VERSION_PROBE_PATH);
  ASSERT_FALSE(info.Items.empty());
  EXPECT_EQ(info.Items.front(), std::string("ProductVersion=") + TRAWLEX_PROJECT_VERSION_4);
  EXPECT_EQ(info.Description, "Version probe");
}

}  // namespace
}  // namespace trawlex::version
