#include "recovery/options.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

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
  for (const auto& [text, on] : {std::pair{"1", true}, {"0", false}, {"yes", false}}) {
    store.values["RealEnds"] = text;
    EXPECT_EQ(LoadOptions(store, {}).RealEnds, on) << text;
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

TEST(Options, SaveWritesTextAndReportsAFailedWriteKeepingTheUsersValue) {
  MapStore store;
  RecoveryOptions options{12, "/media/rescue", true};
  EXPECT_TRUE(SaveOptions(store, options));
  EXPECT_EQ(store.values["MaxRecover"], "12");
  EXPECT_EQ(store.values["Save Path"], "/media/rescue");
  EXPECT_EQ(store.values["RealEnds"], "1");
  store.read_only = true;
  options.MaxSizeOfRecoverMB = 7;
  EXPECT_FALSE(SaveOptions(store, options));
  EXPECT_EQ(options.MaxSizeOfRecoverMB, 7u);
}

}  // namespace
