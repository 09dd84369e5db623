#include "disk/bad_sector_map.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

constexpr auto kSkip = SectorState::kSkipped;
constexpr auto kBad = SectorState::kBad;

struct Step {
  std::uint64_t first, end;
  std::optional<SectorState> state;  ///< none: MarkGood
};

struct MapCase {
  const char* name;
  std::vector<Step> steps;
  std::vector<SectorRange> expected;
};

class BadSectorMapSteps : public testing::TestWithParam<MapCase> {};

TEST_P(BadSectorMapSteps, KeepsSortedMergedRanges) {
  BadSectorMap map;
  for (const Step& s : GetParam().steps) {
    if (s.state)
      map.Mark(s.first, s.end, *s.state);
    else
      map.MarkGood(s.first, s.end);
  }
  EXPECT_EQ(map.Ranges(), GetParam().expected);
  // What Save writes, Load reads back unchanged.
  TempDir dir;
  std::string err;
  ASSERT_TRUE(map.Save(dir / "disk.bad", &err)) << err;
  BadSectorMap loaded;
  ASSERT_TRUE(loaded.Load(dir / "disk.bad", &err)) << err;
  EXPECT_EQ(loaded.Ranges(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadSectorMapSteps,
    testing::Values(
        MapCase{"Adjacent",
                {{10, 20, kSkip}, {20, 30, kSkip}, {5, 10, kBad}},
                {{5, 10, kBad}, {10, 30, kSkip}}},
        MapCase{"OverlapReplaces",
                {{10, 30, kSkip}, {15, 16, kBad}},
                {{10, 15, kSkip}, {15, 16, kBad}, {16, 30, kSkip}}},
        MapCase{"GoodSplits",
                {{0, 100, kSkip}, {40, 60, std::nullopt}},
                {{0, 40, kSkip}, {60, 100, kSkip}}},
        MapCase{"GoodSpansSeveral",
                {{0, 10, kBad}, {20, 30, kSkip}, {40, 50, kBad}, {5, 45, std::nullopt}},
                {{0, 5, kBad}, {45, 50, kBad}}},
        MapCase{"BadInsideBadMerges",
                {{0, 10, kBad}, {10, 20, kSkip}, {10, 20, kBad}},
                {{0, 20, kBad}}},
        MapCase{"Huge", {{0, ~std::uint64_t{0} - 1, kSkip}}, {{0, ~std::uint64_t{0} - 1, kSkip}}}),
    [](const auto& info) { return info.param.name; });

TEST(BadSectorMap, Queries) {
  BadSectorMap map;
  map.Mark(100, 108, kBad);
  map.Mark(200, 300, kSkip);
  EXPECT_EQ(map.StateOf(99), std::nullopt);
  EXPECT_EQ(map.StateOf(107), kBad);
  EXPECT_EQ(map.StateOf(108), std::nullopt);
  EXPECT_EQ(map.NextKnown(0, 100), std::nullopt);
  EXPECT_EQ(map.NextKnown(104, 1000), (SectorRange{104, 108, kBad}));
  EXPECT_EQ(map.NextKnown(150, 250), (SectorRange{200, 250, kSkip}));
  EXPECT_EQ(map.Count(kBad), 8u);
  EXPECT_EQ(map.Count(kSkip), 100u);
}

TEST(BadSectorMap, LoadSaysWhichLineIsWrong) {
  const struct {
    const char* text;
    const char* error;  ///< empty: loads
  } cases[] = {
      {"# comment\n\n10-19 bad\n30 skipped\r\n40-40\n", ""},
      {"10-19 bad\nten-20\n", "line 2: \"ten-20\" is not FIRST-LAST with decimal sector numbers"},
      {"20-10 bad\n", "line 1: the range 20-10 ends before it starts"},
      {"1-2 broken\n", "line 1: unknown state \"broken\" (expected skipped or bad)"},
      {"1-2 bad now\n", "line 1: unexpected \"now\" after the state"},
      {"-5\n", "line 1: \"-5\" is not FIRST-LAST with decimal sector numbers"},
      {"5-\n", "line 1: \"5-\" is not FIRST-LAST with decimal sector numbers"},
      {"99999999999999999999\n",
       "line 1: \"99999999999999999999\" is not FIRST-LAST with decimal sector numbers"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    WriteText(dir / "map", c.text);
    BadSectorMap map;
    map.Mark(1000, 1001, kBad);
    std::string err;
    const bool ok = map.Load(dir / "map", &err);
    EXPECT_EQ(ok, *c.error == '\0') << c.text;
    if (ok) {
      EXPECT_EQ(map.Ranges(),
                (std::vector<SectorRange>{{10, 20, kBad}, {30, 31, kSkip}, {40, 41, kBad}}));
    } else {
      EXPECT_EQ(err, dir / "map" + ": " + c.error);
      EXPECT_EQ(map.Count(kBad), 1u) << "a failed load leaves the map as it was";
    }
  }
  std::string err;
  BadSectorMap map;
  EXPECT_FALSE(map.Load(dir / "missing", &err));
  EXPECT_FALSE(map.Save(dir / "no/such/folder/map", &err));
}

}  // namespace
