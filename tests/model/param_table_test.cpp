#include <gtest/gtest.h>

#include "model/param_table.h"

using namespace km27;

namespace {
void Put(ParamTable& t, int block, int slot, uint8_t code, uint8_t secs) { t.SetEntry(block, slot, {code, secs}); }
}  // namespace

TEST(ParamTableLayout, EntriesSitAtTheirByteOffsets) {
  ParamTable t;
  Put(t, 5, 3, 0x12, 9);
  EXPECT_EQ(t.bytes[5 * 48 + 6], 0x12);
  EXPECT_EQ(t.bytes[5 * 48 + 7], 9);
  Put(t, 19, 23, 1, 2);
  EXPECT_EQ(t.bytes[958], 1);
  EXPECT_EQ(t.bytes[959], 2);
  EXPECT_EQ(sizeof(t.bytes), 960u);
  EXPECT_EQ(sizeof(ParamOptions{}.bytes), 8u);
}

TEST(CountTable, FamiliesCarriersAndEntries) {
  ParamTable t;
  EXPECT_EQ(CountTable(t).families, 0);
  Put(t, 0, 0, 1, 3);  // 550 Hz
  Put(t, 0, 1, 2, 4);
  Put(t, 1, 0, 0, 5);  // 650 Hz, "无码" is a code like any other
  TableCounts c = CountTable(t);
  EXPECT_EQ(c.families, 1);
  EXPECT_EQ(c.carriers, 2);
  EXPECT_EQ(c.entries, 3);
  Put(t, 4, 0, 1, 8);  // 1700 Hz
  c = CountTable(t);
  EXPECT_EQ(c.families, 2);
  EXPECT_EQ(c.carriers, 3);
  EXPECT_EQ(c.entries, 4);
  Put(t, 18, 0, 1, 8);  // 75 Hz: the last carrier counts
  EXPECT_EQ(CountTable(t).families, 3);
}

TEST(CountTable, CheckByteSlotIsSkippedButSparesCount) {
  ParamTable t;
  Put(t, 2, 23, 0, 0x5C);  // a code box's check byte
  EXPECT_EQ(CountTable(t).entries, 0);
  EXPECT_EQ(CountTable(t).carriers, 0);
  Put(t, 2, 21, 3, 7);  // slots 20..22 count when a file or upload fills them
  TableCounts c = CountTable(t);
  EXPECT_EQ(c.entries, 1);
  EXPECT_EQ(c.carriers, 1);
  Put(t, 19, 0, 1, 10);  // the spare block never counts
  EXPECT_EQ(CountTable(t).entries, 1);
}

TEST(CarrierMask, FollowsAllSlotsAndLeavesForeignBitsAlone) {
  ParamTable t;
  ParamOptions o;
  o.SetMaskByte(0, 0xF0);  // bits 4..7 belong to no carrier
  o.SetMaskByte(3, 0xFF);
  Put(t, 2, 23, 0, 0x5C);  // only the check slot: the carrier counts as in use
  Put(t, 12, 0, 1, 3);     // 1698.7 Hz: family 2 bit 4
  Put(t, 19, 0, 1, 3);     // spare block: no bit
  UpdateCarrierMask(t, o);
  EXPECT_EQ(o.MaskByte(0), 0xF4);
  EXPECT_EQ(o.MaskByte(1), 0x00);
  EXPECT_EQ(o.MaskByte(2), 0x10);
  EXPECT_EQ(o.MaskByte(3), 0xF8);  // carriers 16..18 cleared, bits 3..7 kept

  t.Clear();
  UpdateCarrierMask(t, o);
  EXPECT_EQ(o.MaskByte(0), 0xF0);
  EXPECT_EQ(o.MaskByte(2), 0x00);
}

TEST(CountTexts, EachStartsWithABlank) {
  const auto texts = CountTexts({2, 3, 14});
  EXPECT_EQ(texts[0], " 类型:2");
  EXPECT_EQ(texts[1], " 载频:3");
  EXPECT_EQ(texts[2], " 低频:14");
}

TEST(CheckByte, MakesTheBytesSumToZero) {
  const uint8_t data[] = {1, 0, 1, 0x0F, 0x03, 0xFF, 0x07};
  const uint8_t check = CheckByteFor(data, sizeof data);
  unsigned sum = check;
  for (uint8_t b : data) sum += b;
  EXPECT_EQ(sum % 256, 0u);
  EXPECT_EQ(CheckByteFor(data, 0), 0);
}
