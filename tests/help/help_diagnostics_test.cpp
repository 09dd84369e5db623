// The diagnostics start-up, the debug switches and the debug file's line forms.

#include "help/help_diagnostics.h"

#include <filesystem>
#include <regex>

#include <gtest/gtest.h>

#include "help/help_engine.h"
#include "help_test_support.h"

namespace {

using trawlex::help::Diagnostics;

class HelpDiagnosticsTest : public testing::Test {
 protected:
  void TearDown() override { trawlex::help::StopHelpDiagnostics(); }
  TempDir dir_;
};

TEST_F(HelpDiagnosticsTest, DebugSwitches) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{}, false},          {{"-DEBUG"}, true}, {{"/debug"}, true},    {{"x.img", "/Debug"}, true},
      {{"--debug"}, false}, {{"debug"}, false}, {{"-debug=1"}, false},
  };
  for (const auto& [arguments, on] : cases) {
    StartDiagnosticsIn(dir_, arguments);
    EXPECT_EQ(trawlex::help::DebugMode(), on) << (arguments.empty() ? "" : arguments.back());
  }
  WriteText(dir_ / "debug.debug", "");
  StartDiagnosticsIn(dir_, {});
  EXPECT_TRUE(trawlex::help::DebugMode()) << "a debug.debug file in the program's folder";
  // The program path itself is not a switch.
  EXPECT_FALSE(trawlex::help::HasDebugArgument({"-debug"}));
}

TEST_F(HelpDiagnosticsTest, FoldersAndTheFallbackForTheDebugFile) {
  StartDiagnosticsIn(dir_, {});
  EXPECT_EQ(Diagnostics()._ModuleName, dir_ / "trawlex-finder");
  EXPECT_EQ(Diagnostics()._ModuleDir, dir_.path().string());
  EXPECT_EQ(Diagnostics()._RunDir, dir_.path().string());
  EXPECT_EQ(Diagnostics().DebugDir, dir_.path().string());
  EXPECT_EQ(trawlex::help::DebugFilePath(), dir_ / "HHDebug.txt");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "$_Temp_$.$$$")) << "the probe file is removed";

  // A program folder that cannot be written to (here: one that is gone) leaves the debug file
  // to the temporary folder.
  trawlex::help::DiagnosticsSources sources;
  sources.module_path = dir_ / "gone/trawlex-finder";
  sources.temp_folder = dir_.path().string() + "//";
  trawlex::help::StartHelpDiagnostics(sources);
  EXPECT_EQ(Diagnostics()._ModuleDir, dir_ / "gone");
  EXPECT_EQ(Diagnostics().DebugDir, dir_.path().string());
}

TEST_F(HelpDiagnosticsTest, ReportInDebugModeAndAFreshFileAtEveryStart) {
  const std::string engine = trawlex::help::FindHelpControlPath();
  ASSERT_FALSE(engine.empty()) << "the help engine (libchm1) is installed by scripts/setup.sh";
  StartDiagnosticsIn(dir_, {"-debug"}, engine);
  EXPECT_TRUE(Diagnostics()._hhInstalled);
  EXPECT_FALSE(Diagnostics()._ieInstalled) << "no page renderer was named";

  const std::vector<std::string> lines = DebugFileLines();
  ASSERT_EQ(lines.size(), 20u);
  EXPECT_EQ(lines[0], "Filename:             \t" + trawlex::help::DebugFilePath());
  EXPECT_TRUE(std::regex_match(lines[2], std::regex("SysLocale.DefaultLCID:\t0x[0-9A-F]{4}")));
  EXPECT_EQ(lines[6], std::string(79, '-'));
  EXPECT_EQ(lines[7], "EXE Path =          \t" + (dir_ / "trawlex-finder"));
  EXPECT_EQ(lines[12], "_hhInstalled =      \tYES");
  EXPECT_EQ(lines[13], "_hhVerStr =         \t" + Diagnostics()._hhVerStr);
  EXPECT_EQ(lines[16], "_ieInstalled =      \tNO");
  EXPECT_EQ(lines[19], std::string(79, '='));

  // The next start deletes the file, also when debug mode is off.
  StartDiagnosticsIn(dir_, {});
  EXPECT_FALSE(std::filesystem::exists(trawlex::help::DebugFilePath()));
}

TEST_F(HelpDiagnosticsTest, TraceLineForms) {
  using trawlex::help::FormatDebugLine;
  EXPECT_EQ(FormatDebugLine("x", "12:34:56"), "x   12:34:56");
  EXPECT_EQ(FormatDebugLine("!x", "12:34:56"), "x");
  EXPECT_EQ(FormatDebugLine("-", "12:34:56"), std::string(79, '-'));
  EXPECT_EQ(FormatDebugLine("=", "12:34:56"), std::string(79, '='));
  EXPECT_EQ(FormatDebugLine("-x", "12:34:56"), "x");
  EXPECT_EQ(FormatDebugLine("", "12:34:56"), "   12:34:56");

  StartDiagnosticsIn(dir_, {});
  trawlex::help::WriteDebugLine("first");
  trawlex::help::WriteDebugLine("!second");
  const std::vector<std::string> lines = DebugFileLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex("first   \\S.*"))) << lines[0];
  EXPECT_EQ(lines[1], "second");

  // A debug file that cannot be opened is given up silently.
  std::filesystem::remove(trawlex::help::DebugFilePath());
  std::filesystem::create_directory(trawlex::help::DebugFilePath());
  trawlex::help::WriteDebugLine("lost");
  EXPECT_TRUE(std::filesystem::is_directory(trawlex::help::DebugFilePath()));
}

}  // namespace
