#include <gtest/gtest.h>

#include <cstring>

#include "link/crc16.h"
#include "link/transfer_frame.h"

namespace km27 {
namespace {

const uint8_t kDigits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

TEST(Crc16, CheckValuesAndResidue) {
  EXPECT_EQ(Crc16Update(kCrcInitial, kDigits, 9), 0x6F91);
  EXPECT_EQ(uint16_t(~Crc16Update(kCrcInitial, kDigits, 9)), 0x906E);

  uint8_t framed[11];
  std::memcpy(framed, kDigits, 9);
  SealFrame(framed, sizeof framed);
  EXPECT_EQ(framed[9], 0x6E);
  EXPECT_EQ(framed[10], 0x90);
  EXPECT_EQ(Crc16Update(kCrcInitial, framed, 11), 0xF0B8);

  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(uint16_t(~Crc16Update(kCrcInitial, abc, 3)), 0x9E25);
  EXPECT_EQ(Crc16Update(0x1234, abc, 0), 0x1234);
}

TEST(Crc16, TableIsTheReflectedPolynomial) {
  EXPECT_EQ(kCrc16Table[0], 0x0000);
  EXPECT_EQ(kCrc16Table[1], 0x1189);
  EXPECT_EQ(kCrc16Table[2], 0x2312);
  EXPECT_EQ(kCrc16Table[3], 0x329B);
  EXPECT_EQ(kCrc16Table[128], 0x8408);
  EXPECT_EQ(kCrc16Table[255], 0x0F78);
  // Every entry against the bitwise definition.
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t c = uint16_t(i);
    for (int b = 0; b < 8; ++b) c = (c & 1) ? uint16_t((c >> 1) ^ 0x8408) : uint16_t(c >> 1);
    ASSERT_EQ(kCrc16Table[i], c) << i;
  }
}

TEST(TransferFrame, ExampleFramesOnTheWire) {
  EXPECT_EQ(BuildOpenFrame(), (Frame{0x55, 0x06, 0x31, 0x00, 0x3C, 0x3E}));
  EXPECT_EQ(BuildReadBlockFrame(0), (Frame{0x55, 0x06, 0x30, 0x00, 0xE4, 0x27}));

  Frame id = BuildIdentifyFrame();
  ASSERT_EQ(id.size(), 16u);
  EXPECT_EQ(id[1], 16);
  EXPECT_EQ(id[2], CMD_IDENTIFY);
  EXPECT_EQ(std::string(id.begin() + 4, id.begin() + 14), "LYCKKM27CD");
  EXPECT_TRUE(FrameCrcGood(id.data(), id.size()));

  uint8_t payload[64];
  for (int i = 0; i < 64; ++i) payload[i] = uint8_t(i * 3);
  Frame w = BuildWriteBlockFrame(16, payload);
  ASSERT_EQ(w.size(), 70u);
  EXPECT_EQ(w[1], 0x46);
  EXPECT_EQ(w[2], CMD_WRITE_BLOCK);
  EXPECT_EQ(w[3], 16);
  EXPECT_EQ(0, std::memcmp(&w[4], payload, 64));
  EXPECT_TRUE(FrameCrcGood(w.data(), w.size()));
  EXPECT_EQ(BlockByte(255), 0);
  EXPECT_EQ(BlockByte(300), 45);
}

TEST(TransferFrame, AnswerChecks) {
  const uint8_t ack0[] = {0x55, 0x06, 0x20, 0x00, 0x75, 0xB2};
  EXPECT_TRUE(IsWriteAck(ack0, 6, 0));
  EXPECT_FALSE(IsWriteAck(ack0, 6, 1));  // acknowledges another block
  EXPECT_FALSE(IsWriteAck(ack0, 5, 0));  // short
  const uint8_t swapped[] = {0x55, 0x06, 0x20, 0x00, 0xB2, 0x75};
  EXPECT_FALSE(IsWriteAck(swapped, 6, 0));  // CRC high byte first

  Frame id = BuildFrame(RSP_IDENTIFY, 0, nullptr, 0);
  EXPECT_TRUE(IsIdentifyAnswer(id.data(), id.size()));
  Frame wrongParam = BuildFrame(RSP_IDENTIFY, 1, nullptr, 0);
  EXPECT_FALSE(IsIdentifyAnswer(wrongParam.data(), wrongParam.size()));
  Frame wrongCmd = BuildFrame(0x0B, 0, nullptr, 0);
  EXPECT_FALSE(IsIdentifyAnswer(wrongCmd.data(), wrongCmd.size()));
  // Bytes 0 and 1 are not examined, only carried by the CRC.
  Frame odd = id;
  odd[0] = 0xAA;
  odd[1] = 0x07;
  SealFrame(odd.data(), odd.size());
  EXPECT_TRUE(IsIdentifyAnswer(odd.data(), odd.size()));

  Frame open(16, 0);
  SealFrame(open.data(), open.size());
  EXPECT_TRUE(IsOpenAnswer(open.data(), open.size()));
  open[7] ^= 1;
  EXPECT_FALSE(IsOpenAnswer(open.data(), open.size()));

  uint8_t payload[64] = {};
  Frame read = BuildFrame(0x30, 7, payload, 64);
  EXPECT_TRUE(IsReadAnswer(read.data(), read.size(), 7));
  EXPECT_FALSE(IsReadAnswer(read.data(), read.size(), 8));
  Frame zeroCmd = BuildFrame(0x00, 7, payload, 64);
  EXPECT_FALSE(IsReadAnswer(zeroCmd.data(), zeroCmd.size(), 7));
  Frame anyCmd = BuildFrame(0x99, 7, payload, 64);
  EXPECT_TRUE(IsReadAnswer(anyCmd.data(), anyCmd.size(), 7));
}

}  // namespace
}  // namespace km27
