#include <gtest/gtest.h>

#include "link/transmitter_image.h"

namespace km27 {
namespace {

TransmitterImage Patterned() {
  TransmitterImage img;
  for (size_t i = 0; i < kImageBytes; ++i) img.bytes[i] = uint8_t(i * 7 + i / 256);
  return img;
}

TEST(TransmitterImage, ExchangesAreTheirOwnInverse) {
  TransmitterImage img = Patterned();
  const TransmitterImage original = img;
  img.ExchangeMasks();
  img.ExchangeBlocks();
  EXPECT_NE(img.bytes, original.bytes);
  img.ExchangeBlocks();
  img.ExchangeMasks();
  EXPECT_EQ(img.bytes, original.bytes);
  for (int f = 0; f < 4; ++f)
    for (int m = 0; m < 256; ++m)
      ASSERT_EQ(TransmitterImage::ExchangeMask(f, TransmitterImage::ExchangeMask(f, uint8_t(m))), m);
}

TEST(TransmitterImage, CarriersMoveToDeviceOrder) {
  // 650/750 and 2000/2300 change places; ZPW2000 bits 1<->4 and 3<->6.
  EXPECT_EQ(TransmitterImage::ExchangeMask(0, 0b0010), 0b0100);
  EXPECT_EQ(TransmitterImage::ExchangeMask(1, 0b1001), 0b1001);
  EXPECT_EQ(TransmitterImage::ExchangeMask(2, 0b00000010), 0b00010000);
  EXPECT_EQ(TransmitterImage::ExchangeMask(2, 0b01000000), 0b00001000);
  EXPECT_EQ(TransmitterImage::ExchangeMask(2, 0b10100101), 0b10100101);
  EXPECT_EQ(TransmitterImage::ExchangeMask(3, 0b0110), 0b0110);

  ParamTable table;
  for (int b = 0; b < kBlockCount; ++b) table.SetEntry(b, 0, {uint8_t(b), uint8_t(b + 1)});
  ParamOptions options;
  options.SetMaskByte(0, 0x02);
  options.SetMaskByte(3, 0x05);
  TransmitterImage img = Patterned();
  const TransmitterImage before = img;
  img.BuildFrom(options, table);
  for (size_t i = 0; i < kDeviceInfoBytes; ++i) ASSERT_EQ(img.bytes[i], before.bytes[i]);  // device info kept
  EXPECT_EQ(img.bytes[96], 0x04);
  EXPECT_EQ(img.bytes[99], 0x05);
  const int deviceBlockOf[kBlockCount] = {0, 2, 1, 3, 4, 6, 5, 7, 8, 12, 10, 14, 9, 13, 11, 15, 16, 17, 18, 19};
  for (int b = 0; b < kBlockCount; ++b)
    EXPECT_EQ(img.bytes[kImageTableOffset + size_t(deviceBlockOf[b]) * kBlockBytes], b) << "table block " << b;
}

TEST(TransmitterImage, LastBlockCarries36BytesAndZeros) {
  TransmitterImage img = Patterned();
  EXPECT_EQ(TransmitterImage::BlockBytes(0), 64u);
  EXPECT_EQ(TransmitterImage::BlockBytes(16), 36u);
  EXPECT_EQ(TransmitterImage::BlockBytes(17), 0u);
  auto p = img.BlockPayload(16);
  for (size_t i = 0; i < 36; ++i) EXPECT_EQ(p[i], img.bytes[1024 + i]);
  for (size_t i = 36; i < 64; ++i) EXPECT_EQ(p[i], 0) << i;
  auto p5 = img.BlockPayload(5);
  for (size_t i = 0; i < 64; ++i) EXPECT_EQ(p5[i], img.bytes[320 + i]);

  // A received last block stores only its first 36 bytes.
  struct Guarded {
    TransmitterImage img;
    uint8_t after[64];
  } g{};
  std::fill(std::begin(g.after), std::end(g.after), 0xEE);
  uint8_t payload[64];
  std::fill(std::begin(payload), std::end(payload), 0x5A);
  g.img.StoreBlock(16, payload);
  g.img.StoreBlock(17, payload);
  EXPECT_EQ(g.img.bytes[1059], 0x5A);
  EXPECT_EQ(g.img.bytes[1023], 0);
  for (uint8_t b : g.after) EXPECT_EQ(b, 0xEE);
}

}  // namespace
}  // namespace km27
