#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support/temp_dir.h"
#include "version/pe_builder.h"
#include "version/version_info.h"

namespace trawlex::version {
namespace {

VersionResource SampleResource() {
  VersionResource r;
  FixedFileInfo f;
  f.file_version_ms = 0x00020001;
  f.file_version_ls = 0x00030004;
  f.product_version_ms = 0x00020000;
  f.product_version_ls = 0;
  r.fixed = f;
  r.string_tables.push_back({"040904E4",
                             {{"CompanyName", "Ostrel"},
                              {"FileDescription", "Trawlex Finder – recovery"},
                              {"LegalCopyright", "(c) Ostrel"},
                              {"ProductVersion", "2.0.0.0"}}});
  r.translations.push_back(0x04E40409);
  return r;
}

TEST(VersionTextTest, PacksFourNumbers) {
  const VersionWords v = ParseVersionText("1.2.3.4");
  EXPECT_EQ(v.ms, 0x00010002);
  EXPECT_EQ(v.ls, 0x00030004);
  EXPECT_TRUE(v.IsVersion());
  EXPECT_EQ(FormatVersionWords(v), "1.2.3.4");
}

TEST(VersionTextTest, CommaSeparatedEqualsDotted) {
  EXPECT_EQ(ParseVersionText("1,2,3,4"), ParseVersionText("1.2.3.4"));
}

TEST(VersionTextTest, IncompleteTextsAreNoVersion) {
  const VersionWords two = ParseVersionText("1.2");
  EXPECT_FALSE(two.IsVersion());
  EXPECT_EQ(two.ls, -1);
  EXPECT_FALSE(ParseVersionText("").IsVersion());
  EXPECT_FALSE(ParseVersionText("1").IsVersion());
  EXPECT_FALSE(ParseVersionText("1.2.3").IsVersion());
  EXPECT_FALSE(ParseVersionText("1.x.3.4").IsVersion());
  EXPECT_EQ(ParseVersionText("1.x.3.4").ls, 0x00030004);
  EXPECT_FALSE(ParseVersionText("1.2.3.4.5").IsVersion());
}

TEST(VersionInfoTest, BlockRoundTrips) {
  const std::vector<uint8_t> block = BuildVersionBlock(SampleResource());
  ASSERT_GE(block.size(), 92u);
  EXPECT_EQ(block[0] | (block[1] << 8), static_cast<int>(block.size()));
  EXPECT_EQ(block[2], 52);  // fixed file information
  std::string err;
  const auto parsed = ParseVersionBlock(block.data(), block.size(), &err);
  ASSERT_TRUE(parsed.has_value()) << err;
  ASSERT_TRUE(parsed->fixed.has_value());
  EXPECT_EQ(parsed->fixed->signature, 0xFEEF04BDu);
  EXPECT_EQ(parsed->fixed->file_version_ms, 0x00020001u);
  EXPECT_EQ(parsed->fixed->file_version_ls, 0x00030004u);
  EXPECT_EQ(parsed->QueryString("040904e4", "CompanyName"), "Ostrel");
  EXPECT_EQ(parsed->QueryString("040904E4", "FileDescription"), "Trawlex Finder – recovery");
  EXPECT_FALSE(parsed->QueryString("040904E4", "Comments").has_value());
  EXPECT_EQ(parsed->translations, std::vector<uint32_t>{0x04E40409});
}

TEST(VersionInfoTest, MalformedBlocksAreRejected) {
  std::vector<uint8_t> block = BuildVersionBlock(SampleResource());
  std::string err;
  EXPECT_FALSE(ParseVersionBlock(block.data(), 10, &err).has_value());
  EXPECT_EQ(err, "The version block is malformed.");
  block[0] = 0xFF;
  block[1] = 0xFF;  // longer than the data
  EXPECT_FALSE(ParseVersionBlock(block.data(), block.size(), nullptr).has_value());
  const std::vector<uint8_t> zeros(64, 0);
  EXPECT_FALSE(ParseVersionBlock(zeros.data(), zeros.size(), nullptr).has_value());
}

TEST(VersionInfoTest, FoundInAWindowsExecutable) {
  TempDir dir;
  WriteFile(dir / "app.exe", testing::BuildPeWithVersion(BuildVersionBlock(SampleResource())));
  std::string err;
  const auto r = ReadVersionResource(dir / "app.exe", &err);
  ASSERT_TRUE(r.has_value()) << err;
  EXPECT_EQ(r->QueryString("040904E4", "ProductVersion"), "2.0.0.0");
  const VersionWords w = ReadFileVersionWords(dir / "app.exe");
  EXPECT_EQ(FormatVersionWords(w), "2.1.3.4");
}

TEST(VersionInfoTest, FilesWithoutVersionResource) {
  TempDir dir;
  WriteFile(dir / "bare.exe", testing::BuildPeWithVersion({}));
  WriteText(dir / "text", "just text");
  std::string err;
  EXPECT_FALSE(ReadVersionResource(dir / "bare.exe", &err).has_value());
  EXPECT_EQ(err, "\"" + dir / "bare.exe" + "\" has no version resource.");
  EXPECT_FALSE(ReadFileVersionWords(dir / "text").IsVersion());
  EXPECT_EQ(ReadFileVersionWords(dir / "missing").ms, -1);
  // A truncated executable is not read past its end.
  auto image = testing::BuildPeWithVersion(BuildVersionBlock(SampleResource()));
  image.resize(0x220);
  EXPECT_FALSE(FindVersionBlockInPe(image).has_value());
}

TEST(VersionInfoTest, OnlyRegularFilesAreRead) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);  // no writer: open() would wait
  for (const std::string& path : {dir / "fifo", std::string("/dev/zero")}) {
    std::string err;
    EXPECT_FALSE(ReadVersionResource(path, &err).has_value());
    EXPECT_EQ(err, "\"" + path + "\" is not a readable file.");
  }
}

TEST(VersionInfoTest, WrongSignatureIsNoVersion) {
  TempDir dir;
  VersionResource r = SampleResource();
  r.fixed->signature = 0x12345678;
  WriteFile(dir / "odd.exe", testing::BuildPeWithVersion(BuildVersionBlock(r)));
  EXPECT_FALSE(ReadFileVersionWords(dir / "odd.exe").IsVersion());
}

TEST(VersionInfoTest, OwnExecutableCarriesTheProjectVersion) {
  std::string err;
  const auto own = ReadOwnVersionResource(&err);
  ASSERT_TRUE(own.has_value()) << err;
  ASSERT_TRUE(own->fixed.has_value());
  EXPECT_EQ(FormatVersionWords({static_cast<int32_t>(own->fixed->file_version_ms),
                                static_cast<int32_t>(own->fixed->file_version_ls)}),
            TRAWLEX_PROJECT_VERSION_4);
  EXPECT_EQ(own->QueryString("040904E4", "ProductName"), "Ostrel Trawlex Finder");
  EXPECT_EQ(own->QueryString("040904E4", "ProductVersion"), TRAWLEX_PROJECT_VERSION_4);
}

TEST(VersionInfoTest, SmallProgramCarriesTheBlock) {
  const auto r = ReadVersionResource(VERSION_PROBE_PATH, nullptr);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->QueryString("040904E4", "FileDescription"), "Version probe");
  EXPECT_EQ(FormatVersionWords(ReadFileVersionWords(VERSION_PROBE_PATH)),
            TRAWLEX_PROJECT_VERSION_4);
}

}  // namespace
}  // namespace trawlex::version
