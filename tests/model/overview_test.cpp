// The overview's geometry, on the model side: rows, groups, segment positions, totals, colours.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "model/programme_overview.h"

using namespace km27;

namespace {

const CodeCatalogue kCat;

ParamTable RandomTable(std::mt19937& rng) {
  ParamTable t;
  const std::vector<std::string>& durations = DurationItems();
  for (int c = 0; c < kCarrierCount; ++c) {
    const int n = int(rng() % 21);
    const int codes = int(kCat.ComboItems(FamilyOfCarrier(c)).size());
    for (int s = 0; s < n; ++s)
      t.SetEntry(c, s, {uint8_t(rng() % unsigned(codes)), uint8_t(DurationSeconds(durations[rng() % durations.size()]))});
  }
  return t;
}

TEST(Overview, SegmentsTileEachRowInProportionOnOneScale) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    const ParamTable t = RandomTable(rng);
    const int width = 100 + int(rng() % 1500);
    const ProgrammeOverview ov = LayoutOverview(t, ParamOptions{}, kCat, width);
    int longest = 0, rows = 0;
    for (const OverviewGroup& g : ov.groups)
      for (const OverviewRow& r : g.rows) {
        ++rows;
        int x = 0, total = 0, steps = 0;
        for (const OverviewSegment& s : r.segments) {
          EXPECT_EQ(s.x, x) << "gap or overlap in carrier " << r.carrier;
          EXPECT_EQ(s.start, total);
          EXPECT_EQ(s.seconds, t.Entry(r.carrier, s.row - 1).seconds);
          // Each length is its share of the common scale, to the nearest unit.
          EXPECT_LE(std::abs(s.width - double(s.seconds) * width / ov.longestCycle), 1.0);
          x += s.width;
          total += s.seconds;
          ++steps;
        }
        EXPECT_EQ(r.totalSeconds, total);
        EXPECT_EQ(r.width, x);
        int occupied = 0;
        for (int slot = 0; slot < kEditableSlots; ++slot) occupied += t.Occupied(r.carrier, slot);
        EXPECT_EQ(steps, occupied);
        EXPECT_EQ(r.width, int(std::lround(double(total) * width / ov.longestCycle)));
        longest = std::max(longest, total);
      }
    EXPECT_EQ(ov.longestCycle, longest);
    EXPECT_EQ(rows, CountTable(t).carriers);
    // The longest cycle spans the chart exactly.
    if (longest > 0) {
      bool spans = false;
      for (const OverviewGroup& g : ov.groups)
        for (const OverviewRow& r : g.rows) spans = spans || r.width == width;
      EXPECT_TRUE(spans);
    }
  }
}

TEST(Overview, RowsOnlyForCarriersWithStepsGroupedByFamilyInOrder) {
  ParamTable t;
  t.SetEntry(17, 0, {1, 10});  // 50 Hz, AC counting
  t.SetEntry(4, 0, {2, 20});   // 1700 Hz, UM71
  t.SetEntry(0, 0, {0, 30});   // 550 Hz
  t.SetEntry(0, 2, {3, 5});    // after an empty slot: still a step of the cycle
  t.SetEntry(2, 23, {0, 0x5A});  // a check byte in slot 23 is no step
  t.SetEntry(9, 20, {1, 3});     // nor is anything past the 20 rows of the grid
  ParamOptions o;
  o.SetLineOption(0, 1);
  o.SetLineOption(1, 0);
  const ProgrammeOverview ov = LayoutOverview(t, o, kCat, 600);
  ASSERT_EQ(ov.groups.size(), 3u);
  EXPECT_EQ(ov.groups[0].caption, "移频");
  EXPECT_EQ(ov.groups[0].lineOption, "TB3060-2002");
  EXPECT_EQ(ov.groups[1].caption, "UM71");
  EXPECT_EQ(ov.groups[1].lineOption, "TB3060");
  EXPECT_EQ(ov.groups[2].caption, "交流计数");
  EXPECT_EQ(ov.groups[2].lineOption, "");  // AC counting has no line setting
  ASSERT_EQ(ov.groups[0].rows.size(), 1u);
  const OverviewRow& row = ov.groups[0].rows[0];
  EXPECT_EQ(row.caption, "550 Hz");
  EXPECT_EQ(row.totalSeconds, 35);
  ASSERT_EQ(row.segments.size(), 2u);
  EXPECT_EQ(row.segments[1].row, 3);  // the grid row it sits on
  EXPECT_EQ(row.segments[1].label, "8.5 Hz");
  EXPECT_EQ(ov.longestCycle, 35);
  EXPECT_EQ(row.width, 600);
  EXPECT_EQ(ov.RowOf(4)->width, int(std::lround(20 * 600.0 / 35)));
  EXPECT_EQ(ov.RowOf(2), nullptr);
  EXPECT_EQ(ov.RowOf(9), nullptr);
  EXPECT_EQ(ov.groups[2].rows[0].segments[0].label, "AL");

  // A line byte no radio stands for is shown as its value.
  o.SetLineOption(0, 7);
  EXPECT_EQ(LayoutOverview(t, o, kCat, 600).groups[0].lineOption, "7");
  EXPECT_TRUE(LayoutOverview(ParamTable{}, o, kCat, 600).Empty());
}

TEST(Overview, OneColourPerCodeNameAcrossFamiliesWithALegendOfTheUsedOnes) {
  ParamTable t;
  t.SetEntry(0, 0, {7, 3});   // 移频 12.5 Hz
  t.SetEntry(5, 0, {3, 3});   // UM71 12.5 Hz: the same low frequency, the same colour
  t.SetEntry(5, 1, {19, 3});  // 上边频
  t.SetEntry(16, 0, {11, 3});  // AC counting 上边频: the same name again
  t.SetEntry(16, 1, {0, 3});   // 无码
  t.SetEntry(17, 0, {13, 3});  // an index AC counting leaves empty: shown as FF
  t.SetEntry(18, 0, {99, 3});  // beyond the catalogue (a damaged file)
  const ProgrammeOverview ov = LayoutOverview(t, ParamOptions{}, kCat, 300);
  EXPECT_EQ(ov.RowOf(0)->segments[0].colour, ov.RowOf(5)->segments[0].colour);
  EXPECT_EQ(ov.RowOf(5)->segments[1].colour, ov.RowOf(16)->segments[0].colour);
  EXPECT_EQ(ov.RowOf(16)->segments[1].colour, 0);  // 无码
  EXPECT_EQ(ov.RowOf(17)->segments[0].label, "FF");
  EXPECT_EQ(ov.RowOf(18)->segments[0].colour, OverviewColourCount(kCat) - 1);
  std::set<int> colours;
  std::set<std::string> names;
  for (const OverviewLegendEntry& e : ov.legend) {
    colours.insert(e.colour);
    names.insert(e.name);
  }
  EXPECT_EQ(ov.legend.size(), 5u);  // 12.5 Hz, 上边频, 无码, FF, and the unknown index
  EXPECT_EQ(colours.size(), ov.legend.size());
  EXPECT_EQ(names.count("12.5 Hz"), 1u);

  // Every name of the catalogue has a colour of its own.
  std::set<int> all;
  for (SignalFamily f = 0; f < kFamilyCount; ++f)
    for (const std::string& name : kCat.ComboItems(f)) all.insert(OverviewColourOf(kCat, name));
  std::set<std::string> distinct;
  for (SignalFamily f = 0; f < kFamilyCount; ++f)
    for (const std::string& name : kCat.ComboItems(f)) distinct.insert(name);
  EXPECT_EQ(all.size(), distinct.size());
}

}  // namespace
