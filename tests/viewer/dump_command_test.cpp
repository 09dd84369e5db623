// `trawlex dump` run as a program on disk images built here.

#include "support/temp_dir.h"
#include "viewer/dump_format.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace {

struct Outcome {
  int status = -1;
  std::vector<std::string> out;
  std::string err;
};

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class DumpCommand : public testing::Test {
 protected:
  void SetUp() override { WriteFile(image_, PatternBytes(4)); }

  Outcome Dump(const std::string& args) {
    const std::string out = dir_ / "out.txt";
    const std::string err = dir_ / "err.txt";
    const std::string command =
        std::string(TRAWLEX_BINARY) + " dump " + args + " >" + out + " 2>" + err;
    const int raw = std::system(command.c_str());
    Outcome run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = Lines(out);
    const std::vector<std::uint8_t> bytes = ReadWholeFile(err);
    run.err.assign(bytes.begin(), bytes.end());
    return run;
  }

  TempDir dir_;
  std::string image_ = dir_ / "disk.img";
};

TEST_F(DumpCommand, PrintsTheAskedSectorsSixteenBytesToALine) {
  const Outcome run = Dump(image_ + " --lba 1 --count 2");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(run.out.size(), 2u * 33 + 1);
  EXPECT_EQ(run.out[0], "sector : 1");
  // Byte i of sector s is (s * 7 + i) mod 251.
  EXPECT_EQ(run.out[1], "000: 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16  ................");
  EXPECT_EQ(run.out[4], "030: 37 38 39 3A 3B 3C 3D 3E 3F 40 41 42 43 44 45 46  789:;<=>?@ABCDEF");
  EXPECT_EQ(run.out[32].substr(0, 5), "1f0: ");
  EXPECT_EQ(run.out[33], "");
  EXPECT_EQ(run.out[34], "sector : 2");
  EXPECT_EQ(run.out[35].substr(0, 8), "000: 0E ");
}

TEST_F(DumpCommand, EveryLineIsTheSharedTextFormat) {
  const std::vector<std::uint8_t> bytes = PatternBytes(4);
  const Outcome run = Dump(image_ + " --lba 3");
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(run.out.size(), 33u);
  for (int line = 0; line < 32; ++line)
    EXPECT_EQ(run.out[line + 1], FormatDumpLine(FormatOf(DumpStyle::kText), line * 16u,
                                                bytes.data() + 3 * 512 + line * 16, 16, 16));
}

TEST_F(DumpCommand, StopsAtTheEndOfTheSourceAndSaysSo) {
  Outcome run = Dump(image_ + " --lba 3 --count 5");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out.size(), 33u) << "the last sector is still shown";
  EXPECT_NE(run.err.find("ends after sector 3; 1 of 5 sectors shown"), std::string::npos)
      << run.err;

  run = Dump(image_ + " --lba 4");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(run.out.empty());
  EXPECT_NE(run.err.find("sector 4 lies past the end"), std::string::npos) << run.err;

  run = Dump(image_ + " --lba 18446744073709551615");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("out of range"), std::string::npos) << run.err;
}

TEST_F(DumpCommand, RefusesBadArguments) {
  const struct {
    std::string args;
    std::string message;
  } cases[] = {
      {image_, "--lba N is required"},
      {image_ + " --lba", "--lba: 1 required TEXT missing"},
      {image_ + " --lba -1", "'-1' is not a valid number for --lba"},
      {image_ + " --lba 12x", "'12x' is not a valid number for --lba"},
      {image_ + " --lba 0 --count 0", "--count must be at least 1"},
      {image_ + " --lba 0 --count many", "'many' is not a valid number for --count"},
      {"--lba 0", "no source given"},
      {image_ + " --lba 0 extra", "not expected: extra"},
  };
  for (const auto& c : cases) {
    const Outcome run = Dump(c.args);
    EXPECT_EQ(run.status, 1) << c.args;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << ": " << run.err;
    EXPECT_TRUE(run.out.empty()) << c.args;
  }
}

TEST_F(DumpCommand, AMissingSourceIsUnreadable) {
  const Outcome run = Dump(dir_ / "absent.img" + " --lba 0");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("cannot open"), std::string::npos) << run.err;
}

}  // namespace
