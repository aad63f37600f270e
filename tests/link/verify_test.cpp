// The read-back's verdict in the operator's terms: every region of what travels is named by
// what it is to the operator, with the sent and the read-back values.
#include "link/verify.h"

#include <gtest/gtest.h>

#include "link/box_frame.h"

namespace km27 {
namespace {

class VerifyText : public ::testing::Test {
 protected:
  // The first difference in the operator's words.
  std::string First(const VerifyDifference& d) const {
    return d.items.empty() ? std::string() : DescribeDifference(d.items.front(), catalogue);
  }
  CodeCatalogue catalogue;
};

TEST_F(VerifyText, TransmitterImageDifferencesNameTheirPlace) {
  ParamTable t;
  t.SetEntry(1, 3, {2, 8});  // 650 Hz, step 4: "8.0 Hz" 8 s
  ParamOptions o;
  UpdateCarrierMask(t, o);
  TransmitterImage sent;
  sent.BuildFrom(o, t);
  EXPECT_TRUE(CompareTransmitterImages(sent, sent).Same());

  // 650 Hz travels as device block 2; its step 4 seconds byte one higher on the device.
  TransmitterImage back = sent;
  ++back.bytes[kImageTableOffset + 2 * kBlockBytes + 2 * 3 + 1];
  VerifyDifference d = CompareTransmitterImages(sent, back);
  EXPECT_EQ(d.bytes, 1u);
  EXPECT_EQ(First(d), "载频 650 Hz（移频）第 4 步：下发 8.0 Hz 8 秒，读回 8.0 Hz 9 秒");

  // Several differences: the first is named, all are counted.
  back = sent;
  back.bytes[5] = 9;                                        // device information, 移频 row, 6th value
  back.bytes[kImageMaskOffset + 1] ^= 0x01;                 // UM71 mask
  back.bytes[kImageTableOffset + 19 * kBlockBytes] = 0x77;  // the spare block
  d = CompareTransmitterImages(sent, back);
  EXPECT_EQ(d.bytes, 3u);
  EXPECT_EQ(d.items.front().offset, 5u);
  EXPECT_EQ(First(d), "设备信息（移频）第 6 个值：下发 0，读回 9");
  back.bytes[5] = 0;
  EXPECT_EQ(First(CompareTransmitterImages(sent, back)), "载频掩码（UM71）：下发 0x00，读回 0x01");
  back.bytes[kImageMaskOffset + 1] ^= 0x01;
  EXPECT_EQ(First(CompareTransmitterImages(sent, back)), "备用数据块第 1 字节：下发 0x00，读回 0x77");

  // An empty step that came back filled, on a carrier of another family; a byte past step 20.
  back = sent;
  back.bytes[kImageTableOffset + 17 * kBlockBytes + 2 * 0] = 3;  // 50 Hz (AC counting), step 1 code: "AU"
  back.bytes[kImageTableOffset + 17 * kBlockBytes + 1] = 5;
  EXPECT_EQ(First(CompareTransmitterImages(sent, back)), "载频 50 Hz（交流计数）第 1 步：下发 空，读回 AU 5 秒");
  back = sent;
  back.bytes[kImageTableOffset + 4 * kBlockBytes + 2 * 21] = 1;
  EXPECT_EQ(First(CompareTransmitterImages(sent, back)),
            "载频 1700 Hz（UM71）的备用字节（第 43 字节）：下发 0x00，读回 0x01");
}

TEST_F(VerifyText, BoxFrameDifferencesNameTheirPlace) {
  ParamTable t;
  t.SetEntry(12, 0, {19, 60});  // 1698.7 Hz step 1: 上边频 60 s
  ParamOptions o;
  o.SetLineOption(2, 1);
  UpdateCarrierMask(t, o);
  const BoxFrame sent = BuildBoxFrame(o, t);
  EXPECT_TRUE(CompareBoxFrames(sent.data(), sent.data()).Same());

  BoxFrame back = sent;
  back[8 + 12 * 48] = 20;  // the code of that step
  VerifyDifference d = CompareBoxFrames(sent.data(), back.data());
  EXPECT_EQ(d.bytes, 1u);
  EXPECT_EQ(First(d), "载频 1698.7Hz（ZPW2000）第 1 步：下发 上边频 60 秒，读回 下边频 60 秒");
  back = sent;
  back[2] = 0;
  EXPECT_EQ(First(CompareBoxFrames(sent.data(), back.data())), "线路设置（ZPW2000）：下发 1，读回 0");
  back = sent;
  ++back[7];
  EXPECT_EQ(First(CompareBoxFrames(sent.data(), back.data())).rfind("参数头校验字节", 0), 0u);
  back = sent;
  ++back[8 + 12 * 48 + 47];
  EXPECT_EQ(First(CompareBoxFrames(sent.data(), back.data())).rfind("载频 1698.7Hz（ZPW2000）的组校验字节", 0), 0u);
  // Every byte different: all 968 counted.
  for (size_t i = 0; i < back.size(); ++i) back[i] = uint8_t(sent[i] ^ 0xFF);
  EXPECT_EQ(CompareBoxFrames(sent.data(), back.data()).bytes, kBoxFrameBytes);
}

TEST_F(VerifyText, TheMessageGivesTheFirstDifferenceAndTheCount) {
  VerifyDifference d;
  d.bytes = 3;
  d.items.resize(1);
  d.items[0].carrier = 0;
  d.items[0].step = 1;
  d.items[0].sentStep = {0, 3};
  d.items[0].readStep = {0, 4};
  const std::string m = VerifyMessage(VerifyOutcome::kMismatch, d, catalogue);
  EXPECT_NE(m.find("载频 550 Hz（移频）第 1 步：下发 无码 3 秒，读回 无码 4 秒"), std::string::npos);
  EXPECT_NE(m.find("共 3 个字节不同"), std::string::npos);
  EXPECT_EQ(VerifyMessage(VerifyOutcome::kSame, {}, catalogue), "");
  EXPECT_NE(VerifyMessage(VerifyOutcome::kReadBackFailed, {}, catalogue), "");
  EXPECT_NE(VerifyStatusText(VerifyOutcome::kReadBackFailed), VerifyStatusText(VerifyOutcome::kMismatch));

  // In English each value lands where that sentence wants it.
  SetLanguage(Language::kEnglish);
  const std::string en = VerifyMessage(VerifyOutcome::kMismatch, d, CodeCatalogue());
  SetLanguage(Language::kChinese);
  EXPECT_NE(en.find("First difference: carrier 550 Hz (FSK), step 1: sent no code 3 s, read back no code 4 s\n3 byte"),
            std::string::npos)
      << en;
}

}  // namespace
}  // namespace km27
