#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "link/crc16.h"
#include "link/transfer_frame.h"
#include "port/serial_port.h"
#include "sim/transmitter_sim.h"
#include "temp_dir.h"

namespace km27::sim {
namespace {

class TransmitterSimTest : public ::testing::Test {
 protected:
  void Begin(TransmitterSimOptions o = {}) {
    sim = std::make_unique<TransmitterSim>(o);
    ASSERT_TRUE(sim->Start(dir.path, 4)) << sim->Error();
    ASSERT_TRUE(port.Open(dir.path + "/COM4")) << port.LastErrorText();
    ASSERT_TRUE(port.SetBaud(TransmitterSim::kBaud));
    port.SetTimeouts({50, 1, 300, 1, 100});
  }
  // Sends a frame and reads an answer of n bytes (fewer when none comes).
  Frame Ask(const Frame& f, size_t n) {
    port.Write(f.data(), f.size());
    Frame answer(n);
    IoResult r = port.Read(answer.data(), n);
    answer.resize(r.count);
    return answer;
  }

  TempDir dir;
  std::unique_ptr<TransmitterSim> sim;
  SerialPort port;
};

TEST_F(TransmitterSimTest, AnswersLikeTheDevice) {
  Begin();
  Frame id = Ask(BuildIdentifyFrame(), 6);
  EXPECT_TRUE(IsIdentifyAnswer(id.data(), id.size()));
  Frame open = Ask(BuildOpenFrame(), 16);
  EXPECT_TRUE(IsOpenAnswer(open.data(), open.size()));

  uint8_t payload[64];
  for (int i = 0; i < 64; ++i) payload[i] = uint8_t(100 + i);
  Frame ack = Ask(BuildWriteBlockFrame(16, payload), 6);
  EXPECT_TRUE(IsWriteAck(ack.data(), ack.size(), 16));
  TransmitterImage img = sim->Image();
  EXPECT_EQ(img.bytes[1024], 100);
  EXPECT_EQ(img.bytes[1059], 135);  // only 36 bytes of the last block are kept

  Frame read = Ask(BuildReadBlockFrame(16), 70);
  ASSERT_TRUE(IsReadAnswer(read.data(), read.size(), 16));
  EXPECT_EQ(read[4], 100);
  EXPECT_EQ(read[4 + 35], 135);
  EXPECT_EQ(read[4 + 36], 0);  // padding

  // A damaged frame and an unknown block get no answer.
  Frame bad = BuildReadBlockFrame(3);
  bad[4] ^= 0xFF;
  EXPECT_TRUE(Ask(bad, 70).empty());
  EXPECT_TRUE(Ask(BuildReadBlockFrame(17), 70).empty());
  auto st = sim->GetStats();
  EXPECT_EQ(st.identify, 1);
  EXPECT_EQ(st.open, 1);
  EXPECT_EQ(st.writes[16], 1);
  EXPECT_EQ(st.reads[16], 1);
  EXPECT_EQ(st.badFrames, 2);
}

TEST_F(TransmitterSimTest, OnlyUnderstandsTheLineAt19200Baud) {
  Begin();
  ASSERT_TRUE(port.SetBaud(9600));
  EXPECT_TRUE(Ask(BuildIdentifyFrame(), 6).empty());
  ASSERT_TRUE(port.SetBaud(19200));
  // Noise before a frame does not hide it.
  const uint8_t noise[] = {0x03, 0x55, 0x99};
  port.Write(noise, sizeof noise);
  Frame id = Ask(BuildIdentifyFrame(), 6);
  EXPECT_TRUE(IsIdentifyAnswer(id.data(), id.size()));
}

TEST_F(TransmitterSimTest, FaultSwitches) {
  TransmitterSimOptions o;
  o.noAckBlock = 2;
  Begin(o);
  uint8_t payload[64] = {7};
  EXPECT_TRUE(Ask(BuildWriteBlockFrame(2, payload), 6).empty());
  EXPECT_EQ(sim->Image().bytes[128], 0);  // not stored either
  EXPECT_TRUE(Ask(BuildReadBlockFrame(2), 70).empty());
  EXPECT_EQ(Ask(BuildWriteBlockFrame(1, payload), 6).size(), 6u);

  sim->SetSilent(true);
  EXPECT_TRUE(Ask(BuildIdentifyFrame(), 6).empty());
  EXPECT_EQ(sim->GetStats().identify, 1);  // heard, not answered
  sim->SetSilent(false);
  EXPECT_EQ(Ask(BuildIdentifyFrame(), 6).size(), 6u);
}

TEST_F(TransmitterSimTest, CorruptsTheChosenShareOfBytes) {
  TransmitterSimOptions o;
  o.corruptFraction = 1.0;
  Begin(o);
  for (int i = 0; i < 5; ++i) {
    Frame id = Ask(BuildIdentifyFrame(), 6);
    ASSERT_EQ(id.size(), 6u);
    EXPECT_FALSE(FrameCrcGood(id.data(), id.size()));
  }
}

TEST_F(TransmitterSimTest, PacedAnswersTakeTheirLineTime) {
  TransmitterSimOptions o;
  o.paced = true;
  Begin(o);
  auto t0 = std::chrono::steady_clock::now();
  Frame read = Ask(BuildReadBlockFrame(0), 70);
  auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  ASSERT_EQ(read.size(), 70u);
  // 6 bytes in, 70 out, 10 bits each at 19200 baud.
  EXPECT_GE(ms, 76 * 10 * 1000.0 / 19200 - 1);
}

TEST_F(TransmitterSimTest, UnplugAndComeBack) {
  Begin();
  std::string link = dir.path + "/COM4";
  sim->Unplug();
  struct stat st;
  EXPECT_NE(lstat(link.c_str(), &st), 0);  // the device is gone from the COM directory
  uint8_t b[6];
  EXPECT_EQ(port.Read(b, 6).status, IoStatus::HungUp);
  port.Close();
  ASSERT_TRUE(sim->Plug());
  ASSERT_TRUE(port.Open(link));
  ASSERT_TRUE(port.SetBaud(19200));
  EXPECT_EQ(Ask(BuildIdentifyFrame(), 6).size(), 6u);
}

TEST_F(TransmitterSimTest, ImageFile) {
  Begin();
  TransmitterImage img;
  for (size_t i = 0; i < kImageBytes; ++i) img.bytes[i] = uint8_t(i);
  sim->SetImage(img);
  std::string file = dir.path + "/image.bin";
  ASSERT_TRUE(sim->SaveImage(file));
  TransmitterSim other;
  ASSERT_TRUE(other.LoadImage(file));
  EXPECT_EQ(other.Image(), img);
  ASSERT_EQ(truncate(file.c_str(), 1000), 0);
  EXPECT_FALSE(other.LoadImage(file));  // not an image: left as it was
  EXPECT_EQ(other.Image(), img);
}

}  // namespace
}  // namespace km27::sim
