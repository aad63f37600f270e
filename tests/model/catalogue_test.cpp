#include <gtest/gtest.h>

#include "model/code_catalogue.h"

using namespace km27;

TEST(CodeCatalogue, ComboItemsSkipPlaceholdersAndKeepCatalogueIndices) {
  CodeCatalogue cat;
  const std::vector<std::string> ac = cat.ComboItems(3);
  const std::vector<std::string> expectedAc = {"无码", "AL", "ALU", "AU",  "AUU", "AHU",
                                               "BL",   "BLU", "BU", "BUU", "BHU", "上边频"};
  EXPECT_EQ(ac, expectedAc);
  for (SignalFamily f = 0; f < 3; ++f) {
    const auto items = cat.ComboItems(f);
    ASSERT_EQ(items.size(), 21u) << int(f);
    for (unsigned i = 0; i < items.size(); ++i) EXPECT_EQ(items[i], cat.Name(f, i));
  }
  EXPECT_EQ(cat.ComboItems(0)[19], "上边频");
  EXPECT_EQ(cat.ComboItems(0)[20], "下边频");
  EXPECT_EQ(cat.ComboItems(1), cat.ComboItems(2));  // UM71 and ZPW2000 share one list
  EXPECT_EQ(cat.Name(1, 1), "10.3 Hz");
  EXPECT_EQ(cat.Name(0, 1), "7.0 Hz");
}

TEST(CodeCatalogue, StoredIndicesOutsideTheListNeverReadPastTheTable) {
  CodeCatalogue cat;
  EXPECT_EQ(cat.Name(3, 13), "FF");
  EXPECT_EQ(cat.Name(3, 20), "FF");
  EXPECT_EQ(cat.Name(0, 21), "21");
  EXPECT_EQ(cat.Name(2, 255), "255");
  EXPECT_EQ(cat.Name(7, 1), "1");  // a family that does not exist
}

TEST(CodeCatalogue, CarrierFamiliesAndMaskBitsAgree) {
  // Carriers 0-3 frequency-shift, 4-7 UM71, 8-15 ZPW2000, 16-18 AC counting, each family's
  // carriers on the mask bits from 0 up.
  const int familyOf[kCarrierCount] = {0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3};
  const int bitOf[kCarrierCount] = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2};
  for (int c = 0; c < kCarrierCount; ++c) {
    EXPECT_EQ(FamilyOfCarrier(c), familyOf[c]) << c;
    EXPECT_EQ(Carrier(c).maskBit, bitOf[c]) << c;
  }
  EXPECT_STREQ(Carrier(13).caption, "1998.7HZ");
}

TEST(LineRadios, CaptionsAndValuesFollowTheFamily) {
  ParamOptions opt;
  opt.SetLineOption(1, 1);  // UM71 uses the second rule, ZPW2000 keeps the first
  LineRadioState um71 = LineRadiosFor(CodeBox, 1, opt);
  LineRadioState zpw = LineRadiosFor(CodeBox, 2, opt);
  EXPECT_EQ(um71.caption0, "TB3060");
  EXPECT_EQ(um71.caption1, "规范模式");
  EXPECT_TRUE(um71.enabled);
  EXPECT_EQ(um71.value, 1);
  EXPECT_EQ(zpw.caption0, "TB3060");
  EXPECT_EQ(zpw.value, 0);

  LineRadioState fs = LineRadiosFor(CodeBox, 0, opt);
  EXPECT_EQ(fs.caption0, "\"1.9\"移频");
  EXPECT_EQ(fs.caption1, "TB3060-2002");

  LineRadioState ac = LineRadiosFor(CodeBox, 3, opt);
  EXPECT_EQ(ac.caption0, "无");
  EXPECT_EQ(ac.caption1, "无");
  EXPECT_FALSE(ac.enabled);
  EXPECT_EQ(ac.value, 0);

  LineRadioState kc = LineRadiosFor(CodeTransmitter, 1, opt);
  EXPECT_FALSE(kc.touch);
  EXPECT_FALSE(kc.enabled);

  opt.SetLineOption(0, 7);  // from a damaged file: neither radio stands for it
  EXPECT_EQ(LineRadiosFor(CodeBox, 0, opt).value, -1);
}

TEST(Durations, ItemsReadAsTheirLeadingNumber) {
  const auto& items = DurationItems();
  ASSERT_EQ(items.size(), 14u);
  EXPECT_EQ(items.front(), "3 秒");
  EXPECT_EQ(DurationSeconds("10 秒"), 10);
  EXPECT_EQ(DurationSeconds("60 秒"), 60);
  EXPECT_EQ(DurationSeconds(items[8]), 15);
  EXPECT_EQ(DurationSeconds("秒"), 0);
}
