#include "recovery/options.h"
#include "recovery/ini_options_store.h"
#include "recovery/program_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;

struct MapStore final : OptionsStore {
  std::optional<std::string> Read(const std::string& key) override {
    auto it = values.find(key);
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
  bool Write(const std::string& key, const std::string& value) override {
    if (read_only) return false;
    values[key] = value;
    return true;
  }
  std::map<std::string, std::string> values;
  bool read_only = false;
};

TEST(Options, FirstRunGivesTwentyAndARecoveredFolder) {
  TempDir dir;
  MapStore store;
  const RecoveryOptions options = LoadOptions(store, {dir.path().string(), ""});
  EXPECT_EQ(options.MaxSizeOfRecoverMB, 20u);
  EXPECT_EQ(options.SavePath, (dir.path() / "Recovered").string());
  EXPECT_TRUE(fs::is_directory(options.SavePath));
}

TEST(Options, ReadsTheStoredTexts) {
  TempDir dir;
  MapStore store;
  store.values = {{"MaxRecover", "5"}, {"Save Path", dir.path().string()}};
  RecoveryOptions options = LoadOptions(store, {"/nonexistent", ""});
  EXPECT_EQ(options.MaxSizeOfRecoverMB, 5u);
  EXPECT_EQ(options.SavePath, dir.path().string());
  EXPECT_FALSE(options.RealEnds);
  EXPECT_FALSE(options.FreeSpaceOnly);
  for (const auto& [key, member] : {std::pair{"RealEnds", &RecoveryOptions::RealEnds},
                                    {"FreeSpace", &RecoveryOptions::FreeSpaceOnly}})
    for (const auto& [text, on] : {std::pair{"1", true}, {"0", false}, {"yes", false}}) {
      store.values[key] = text;
      EXPECT_EQ(LoadOptions(store, {}).*member, on) << key << "=" << text;
      store.values.erase(key);
    }
  for (const char* bad : {"", "many", "12a", "-3", "0x10", " 7"}) {
    store.values["MaxRecover"] = bad;
    EXPECT_EQ(LoadOptions(store, {}).MaxSizeOfRecoverMB, 20u) << bad;
  }
  store.values["MaxRecover"] = "0";
  EXPECT_EQ(LoadOptions(store, {}).MaxSizeOfRecoverMB, 0u);
}

TEST(Options, AVanishedSavePathFallsBackInOrder) {
  TempDir dir;
  MapStore store;
  store.values["Save Path"] = (dir.path() / "gone").string();
  // A program folder that cannot hold a Recovered folder: a plain file stands in its way.
  WriteText(dir / "program/Recovered", "x");
  const std::string program = dir / "program";
  const std::string data = dir / "data";
  EXPECT_EQ(LoadOptions(store, {program, data}).SavePath, (fs::path(data) / "Recovered").string());
  WriteText(dir / "data2/Recovered", "x");
  EXPECT_EQ(LoadOptions(store, {program, dir / "data2"}).SavePath, program);
}

TEST(Options, SaveWritesTextThatLoadsBackAndReportsAFailedWriteKeepingTheUsersValue) {
  TempDir dir;
  const std::string ini = dir / "Options.ini";
  for (const RecoveryOptions& saved : {RecoveryOptions{12, dir.path().string(), true, true},
                                       RecoveryOptions{3, dir.path().string(), false, true},
                                       RecoveryOptions{20, dir.path().string(), true, false}}) {
    IniOptionsStore file(ini);
    ASSERT_TRUE(SaveOptions(file, saved));
    IniOptionsStore again(ini);
    const RecoveryOptions loaded = LoadOptions(again, {});
    EXPECT_EQ(loaded.MaxSizeOfRecoverMB, saved.MaxSizeOfRecoverMB);
    EXPECT_EQ(loaded.SavePath, saved.SavePath);
    EXPECT_EQ(loaded.RealEnds, saved.RealEnds);
    EXPECT_EQ(loaded.FreeSpaceOnly, saved.FreeSpaceOnly);
  }
  MapStore store;
  RecoveryOptions options{12, "/media/rescue", true, true};
  EXPECT_TRUE(SaveOptions(store, options));
  EXPECT_EQ(store.values["MaxRecover"], "12");
  EXPECT_EQ(store.values["Save Path"], "/media/rescue");
  EXPECT_EQ(store.values["RealEnds"], "1");
  EXPECT_EQ(store.values["FreeSpace"], "1");
  store.read_only = true;
  options.MaxSizeOfRecoverMB = 7;
  EXPECT_FALSE(SaveOptions(store, options));
  EXPECT_EQ(options.MaxSizeOfRecoverMB, 7u);
}

/// The options file as written by hand or by an earlier writer that escaped the space in
/// "Save Path": it reads, is written back under the right name, and keeps its other lines.
TEST(IniOptionsStore, ReadsAndWritesKeysAsNamedKeepingTheRest) {
  TempDir dir;
  const std::string path = (dir.path() / "conf" / "Options.ini").string();
  auto text = [&] {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  };
  IniOptionsStore store(path);
  EXPECT_EQ(store.Read("MaxRecover"), std::nullopt);  // no file yet
  ASSERT_TRUE(store.Write("MaxRecover", "7"));        // makes the folder and the file
  EXPECT_EQ(text(), "[Options]\nMaxRecover=7\n");

  {
    std::ofstream out(path, std::ios::trunc);
    out << "[General]\nSave Path=elsewhere\n\n[Options]\r\nMaxRecover=5\r\n"
           "Save%20Path=/old/place\r\n; a note\n";
  }
  EXPECT_EQ(store.Read("Save Path"), "/old/place");
  EXPECT_EQ(store.Read("MaxRecover"), "5");
  const std::string tricky[] = {"/new place", " spaced ", "quote\"and\\slash", "two\nlines", ""};
  for (const std::string& value : tricky) {
    ASSERT_TRUE(store.Write("Save Path", value));
    EXPECT_EQ(store.Read("Save Path"), value);
  }
  ASSERT_TRUE(store.Write("Save Path", "/new place"));
  ASSERT_TRUE(store.Write("RealEnds", "1"));
  EXPECT_EQ(text(),
            "[General]\nSave Path=elsewhere\n\n[Options]\nMaxRecover=5\nSave Path=/new place\n"
            "; a note\nRealEnds=1\n");

  if (::geteuid() != 0) {
    fs::permissions(dir.path() / "conf", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(store.Write("MaxRecover", "9"));
    EXPECT_EQ(store.Read("MaxRecover"), "5");
    fs::permissions(dir.path() / "conf", fs::perms::owner_all);
  }
}

}  // namespace

namespace {

TEST(ProgramDataFolders, BesideTheProgramFirstThenTheInstalledDataFolder) {
  TempDir root;
  const std::string bin = root / "usr/bin";
  std::filesystem::create_directories(bin);
  const std::string data = root / "usr/share/trawlex";
  EXPECT_EQ(ProgramDataFolders(bin), (std::vector<std::string>{bin, data}));
  // Nowhere: the program's folder, for the caller's own "not found".
  EXPECT_EQ(FolderHolding(bin, "Data/splash.bmp"), bin);
  WriteFile(data + "/Data/splash.bmp", {1});
  EXPECT_EQ(FolderHolding(bin, "Data/splash.bmp"), data);
  WriteFile(bin + "/Data/splash.bmp", {1});
  EXPECT_EQ(FolderHolding(bin, "Data/splash.bmp"), bin);
}

}  // namespace
