// The help hook: requests of the application, the ways of showing a topic, their failure
// messages and traces.

#include "help/hook_help_system.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "help/help_engine.h"
#include "help_test_support.h"

namespace {

using namespace trawlex::help;

class HookHelpSystemTest : public testing::Test {
 protected:
  void TearDown() override { StopHelpDiagnostics(); }
  /// Diagnostics with the help engine found, as on a machine that has it.
  void StartWithEngine(std::vector<std::string> arguments = {}) {
    const std::string engine = FindHelpControlPath();
    ASSERT_FALSE(engine.empty()) << "the help engine (libchm1) is installed by scripts/setup.sh";
    StartDiagnosticsIn(dir_, std::move(arguments), engine);
  }
  TempDir dir_;
  RecordingHost host_;
};

int32_t g_context = 0, g_x = 0, g_y = 0;

TEST_F(HookHelpSystemTest, RoutesRequestsAndPutsTheOldHandlerBack) {
  StartWithEngine();
  int old_calls = 0;
  ApplicationOnHelp() = [&](uint16_t, int32_t, bool& call_help) {
    ++old_calls;
    call_help = false;
    return true;
  };
  {
    THookHelpSystem hook(dir_ / "help.chm", "", HostApi);
    EXPECT_TRUE(ApplicationHelpCommand(HELP_CONTEXT, 20));
    ASSERT_EQ(host_.shown.size(), 1u);
    EXPECT_EQ(host_.shown[0], std::make_pair(dir_ / "help.chm", 20));

    hook.OnContext = [](int32_t context) { g_context = context; };
    hook.OnPopup = [](int32_t context, int32_t x, int32_t y) {
      g_context = context, g_x = x, g_y = y;
    };
    EXPECT_TRUE(ApplicationHelpCommand(HELP_CONTEXT, 30));
    EXPECT_EQ(g_context, 30);
    // x -5 and y 300 packed as two signed 16-bit halves.
    EXPECT_TRUE(
        ApplicationHelpCommand(HELP_SETPOPUP_POS, static_cast<int32_t>(300u << 16 | 0xFFFBu)));
    EXPECT_EQ(hook.popupX(), -5);
    EXPECT_EQ(hook.popupY(), 300);
    EXPECT_TRUE(ApplicationHelpCommand(HELP_CONTEXTPOPUP, 40));
    EXPECT_EQ(std::make_tuple(g_context, g_x, g_y), std::make_tuple(40, -5, 300));
    EXPECT_FALSE(ApplicationHelpCommand(HELP_QUIT, 0)) << "other commands go on to the application";
    EXPECT_EQ(host_.shown.size(), 1u);
    EXPECT_EQ(old_calls, 0);
  }
  EXPECT_EQ(host_.closed, 1) << "the hook closes the help windows it opened";
  EXPECT_TRUE(ApplicationHelpCommand(HELP_CONTEXT, 10));
  EXPECT_EQ(old_calls, 1);
  ApplicationOnHelp() = nullptr;
}

TEST_F(HookHelpSystemTest, ShowContextCodesAndMessages) {
  StartDiagnosticsIn(dir_, {});  // no help engine
  EXPECT_EQ(ShowContext("help.chm", 10, HostApi), 1);
  {
    THookHelpSystem hook("help.chm", "", HostApi);
    ApplicationHelpCommand(HELP_CONTEXT, 10);
  }
  ASSERT_EQ(host_.warnings.size(), 1u);
  EXPECT_EQ(host_.warnings[0], "MS Html Help is not installed on this PC.");
  EXPECT_TRUE(host_.shown.empty());

  StartWithEngine();
  EXPECT_EQ(ShowContext("help.chm", 10, HostApi), 0);
  EXPECT_EQ(ShowContext("help.chm", 10, HostKeyHH), 2);
  EXPECT_EQ(ShowContext("help.chm", 10, HostHHExe), 3);
  EXPECT_EQ(ShowContext("help.chm", 10, 7), 0);
  EXPECT_EQ(host_.shown.size(), 1u);

  const std::pair<int, const char*> texts[] = {
      {0, ""},
      {1, "MS Html Help is not installed on this PC."},
      {2, "System file KeyHH.EXE was not found in the Windows folder."},
      {3, "System file HH.EXE was not found in the Windows folder."},
      {4, "Unknown error returned by HHHelpContext"},
  };
  for (const auto& [code, text] : texts) EXPECT_EQ(HHErrorText(code), text);
  HHShowError(0);
  EXPECT_EQ(host_.warnings.size(), 1u) << "code 0 shows nothing";
}

TEST_F(HookHelpSystemTest, TracesEveryCallInDebugMode) {
  StartWithEngine({"-debug"});
  const size_t report_lines = DebugFileLines().size();
  {
    THookHelpSystem hook("/x/help%20file.chm", "", HostHHExe);
    ApplicationHelpCommand(HELP_CONTEXT, 20);
  }
  std::vector<std::string> lines = DebugFileLines();
  lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(report_lines));
  for (std::string& line : lines) line.erase(line.rfind("   "));  // the time
  const std::vector<std::string> expected = {
      "THookHelpSystem.Create(\"/x/help%20file.chm\",\"\", 2)",
      "THookHelpSystem.HelpHook(1 (HELP_CONTEXT), 20)",
      "HHHelpContext(\"/x/help%20file.chm\", 20, \"\", 2)",
      "ShowContext(\"mk:@MSITStore:/x/help file.chm\", 2)",
      "  returned - 3",
      "HHShowError(3), \"System file HH.EXE was not found in the Windows folder.\"",
      "THookHelpSystem.Destroy",
  };
  EXPECT_EQ(lines, expected);
}

TEST_F(HookHelpSystemTest, CommandTexts) {
  const std::pair<uint16_t, const char*> cases[] = {
      {1, "1 (HELP_CONTEXT)"},
      {3, "3 (HELP_INDEX or HELP_CONTENTS)"},
      {5, "5 (HELP_SETINDEX or HELP_SETCONTENTS)"},
      {13, "13 (HELP_SETPOPUP_POS)"},
      {261, "261 (HELP_PARTIALKEY)"},
      {515, "515 (HELP_SETWINPOS)"},
      {6, "6 (?\?)"},
  };
  for (const auto& [command, text] : cases) EXPECT_EQ(HelpCommandText(command), text);
}

TEST_F(HookHelpSystemTest, RunHelpProgramTellsWhyAProgramDidNotStart) {
  StartDiagnosticsIn(dir_, {});
  EXPECT_FALSE(RunHelpProgram(dir_ / "KeyHH.EXE", "-win -#mapid 10 help.chm"));
  WriteText(dir_ / "HH.EXE", "not a program");
  ::chmod((dir_ / "HH.EXE").c_str(), 0644);
  EXPECT_FALSE(RunHelpProgram(dir_ / "HH.EXE", "-mapid 10 help.chm"));
  ASSERT_EQ(host_.warnings.size(), 2u);
  EXPECT_EQ(host_.warnings[0],
            "Function ShellExecute(" + (dir_ / "KeyHH.EXE") +
                ", -win -#mapid 10 help.chm)\rReturned: [Error:2] File Not Found");
  EXPECT_EQ(host_.warnings[1], "Function ShellExecute(" + (dir_ / "HH.EXE") +
                                   ", -mapid 10 help.chm)\rReturned: [Error:13] Access Denied");
  EXPECT_TRUE(RunHelpProgram("/bin/true", "-mapid \"a b\""));

  const std::pair<int, const char*> names[] = {
      {3, "Path Not Found"},
      {8, "Insufficient Memory"},
      {33, "File In Use"},
      {39, "Disk Full"},
      {1393, "Corrupt File Or Disk"},
      {1358, "Corrupt Registry"},
      {1150, "Windows Version Incorrect"},
      {1151, "Not A Windows Or MSDos Program"},
      {4, "General Failure"},
  };
  for (const auto& [number, name] : names) EXPECT_EQ(ShellErrorName(number), name);
}

}  // namespace
