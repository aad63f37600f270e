#include "link/box_frame.h"

#include <gtest/gtest.h>

#include <numeric>

namespace km27 {
namespace {

uint8_t Sum(const uint8_t* p, size_t n) { return uint8_t(std::accumulate(p, p + n, 0u)); }

ParamTable SampleTable() {
  ParamTable t;
  for (int b = 0; b < kBlockCount; ++b)
    for (int s = 0; s < kEditableSlots; s += 3) t.SetEntry(b, s, {uint8_t(b + s), uint8_t(3 + s)});
  t.SetEntry(19, 23, {7, 99});  // the spare block and slot 23 travel too
  return t;
}

TEST(BoxFrame, LayoutAndCheckBytes) {
  ParamOptions o;
  o.bytes = {1, 0, 1, 0x0F, 0x05, 0xA0, 0x07, 0x33};
  const ParamTable t = SampleTable();
  const ParamTable before = t;

  SealBoxHeader(o);
  EXPECT_EQ(Sum(o.bytes.data(), 8), 0);
  EXPECT_EQ(o.CheckByte(), uint8_t(0x100 - (1 + 1 + 0x0F + 0x05 + 0xA0 + 0x07)));

  const BoxFrame f = BuildBoxFrame(o, t);
  EXPECT_EQ(t, before);
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(f[i], o.bytes[i]);
  for (int g = 0; g < kBlockCount; ++g) {
    const uint8_t* group = f.data() + 8 + 48 * g;
    EXPECT_EQ(Sum(group, 48), 0) << "group " << g;
    for (int i = 0; i < 47; ++i) ASSERT_EQ(group[i], t.bytes[size_t(48 * g + i)]) << g << ":" << i;
  }
  EXPECT_TRUE(BoxFrameValid(f.data()));
}

TEST(BoxFrame, HeaderCheckIsRecomputedInTheFrameOnly) {
  ParamOptions o;
  o.bytes = {1, 1, 1, 0, 0, 0, 0, 0x77};  // stale check byte
  const BoxFrame f = BuildBoxFrame(o, ParamTable{});
  EXPECT_EQ(f[7], uint8_t(0xFD));
  EXPECT_EQ(o.CheckByte(), 0x77);
}

TEST(BoxFrame, AllZeroTravelsAsZeroBytes) {
  const BoxFrame f = BuildBoxFrame(ParamOptions{}, ParamTable{});
  for (uint8_t b : f) ASSERT_EQ(b, 0);
  ParamOptions o;
  o.bytes.fill(9);
  ParamTable t = SampleTable();
  ASSERT_TRUE(ParseBoxFrame(f.data(), o, t));
  EXPECT_EQ(o, ParamOptions{});
  EXPECT_EQ(t, ParamTable{});
}

TEST(BoxFrame, ParseAcceptsValidAndKeepsGroupCheckInSlot23) {
  ParamOptions o;
  o.bytes = {0, 1, 0, 3, 0, 0, 0, 0};
  SealBoxHeader(o);
  const ParamTable t = SampleTable();
  const BoxFrame f = BuildBoxFrame(o, t);
  ParamOptions got;
  ParamTable gotTable;
  ASSERT_TRUE(ParseBoxFrame(f.data(), got, gotTable));
  EXPECT_EQ(got, o);
  for (int g = 0; g < kBlockCount; ++g) {
    EXPECT_EQ(gotTable.Entry(g, 23).code, t.Entry(g, 23).code);
    EXPECT_EQ(gotTable.Entry(g, 23).seconds, f[size_t(8 + 48 * g + 47)]);
    for (int s = 0; s < 23; ++s) ASSERT_EQ(gotTable.Entry(g, s), t.Entry(g, s));
  }
}

TEST(BoxFrame, ParseRejectsBadSumsAndLeavesOutputsAlone) {
  ParamOptions o;
  o.bytes = {1, 0, 0, 1, 0, 0, 0, 0};
  const BoxFrame good = BuildBoxFrame(o, SampleTable());
  const ParamOptions keepO = ParamOptions{};
  const ParamTable keepT = ParamTable{};
  for (size_t at : {size_t(0), size_t(7), size_t(8), size_t(8 + 48 * 7 + 20), size_t(967)}) {
    BoxFrame bad = good;
    bad[at] = uint8_t(bad[at] + 1);
    ParamOptions outO = keepO;
    ParamTable outT = keepT;
    EXPECT_FALSE(BoxFrameValid(bad.data())) << at;
    EXPECT_FALSE(ParseBoxFrame(bad.data(), outO, outT)) << at;
    EXPECT_EQ(outO, keepO);
    EXPECT_EQ(outT, keepT);
  }
  // Two errors that cancel across a group boundary are still caught group by group.
  BoxFrame shifted = good;
  shifted[8 + 47] = uint8_t(shifted[8 + 47] + 1);
  shifted[8 + 48] = uint8_t(shifted[8 + 48] - 1);
  EXPECT_FALSE(BoxFrameValid(shifted.data()));
}

}  // namespace
}  // namespace km27
