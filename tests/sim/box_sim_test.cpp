#include "sim/box_sim.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "port/serial_port.h"
#include "temp_dir.h"

namespace km27::sim {
namespace {

using Bytes = std::vector<uint8_t>;

// The tool's end of the line, opened through the COM link like the tool does.
class BoxSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override {
    port.Close();
    box.reset();
  }

  void StartBox(BoxSimOptions o) {
    o.comDir = dir;
    o.com = 2;
    o.paced = false;
    box = std::make_unique<BoxSim>(o);
    ASSERT_TRUE(box->Start()) << box->Error();
    ASSERT_TRUE(port.Open(dir + "/COM2"));
  }

  // Everything that arrives within `ms`, or until `want` bytes have come.
  Bytes Collect(int ms, size_t want = SIZE_MAX) {
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < want && std::chrono::steady_clock::now() < end) {
      pollfd p{port.Fd(), POLLIN, 0};
      if (poll(&p, 1, 5) > 0) {
        uint8_t buf[1024];
        IoResult r = port.ReadAvailable(buf, sizeof buf);
        got.insert(got.end(), buf, buf + r.count);
      }
    }
    return got;
  }

  void Send(const Bytes& b) { ASSERT_TRUE(port.Write(b.data(), b.size()).Ok()); }

  TempDir tmp{"boxsim"};
  const std::string dir = tmp.path;
  std::unique_ptr<BoxSim> box;
  SerialPort port;
};

BoxSimOptions Quiet() {
  BoxSimOptions o;
  o.chatter = false;  // nothing in the way of the answers
  return o;
}

TEST_F(BoxSimTest, ChattersWithPresenceAndStatusBytesUntilSilenced) {
  BoxSimOptions o;
  o.presenceMs = 20;
  StartBox(o);
  Bytes got = Collect(200);
  EXPECT_GE(std::count(got.begin(), got.end(), CMD_BOX_PRESENCE), 4);
  EXPECT_GE(std::count(got.begin(), got.end(), uint8_t(0x01)), 4);
  EXPECT_EQ(std::count(got.begin(), got.end(), CMD_BOX_ACCEPT), 0);
  box->SetSilent(true);
  Collect(30);
  EXPECT_TRUE(Collect(150).empty());
}

TEST_F(BoxSimTest, AcceptsAValidDownloadWithZAndStoresIt) {
  StartBox(Quiet());
  ParamTable t;
  t.SetEntry(2, 0, {4, 12});
  ParamOptions opt;
  opt.SetMaskByte(0, 0x04);
  const BoxFrame frame = BuildBoxFrame(opt, t);
  Send({CMD_BOX_DOWNLOAD});
  Send(Bytes(frame.begin(), frame.end()));
  EXPECT_EQ(Collect(1000, 1), Bytes{CMD_BOX_ACCEPT});
  EXPECT_EQ(box->DownloadsAccepted(), 1);
  EXPECT_EQ(box->LastDownloadFrame(), Bytes(frame.begin(), frame.end()));
  EXPECT_EQ(box->Frame(), frame);

  // A frame with a bad sum is not stored and not acknowledged; neither is a good one under
  // the no-accept fault, though it is stored.
  BoxFrame bad = frame;
  bad[100] ^= 0x10;
  Send({CMD_BOX_DOWNLOAD});
  Send(Bytes(bad.begin(), bad.end()));
  EXPECT_TRUE(Collect(200).empty());
  EXPECT_EQ(box->DownloadsReceived(), 2);
  EXPECT_EQ(box->Frame(), frame);

  box->SetNoAccept(true);
  const BoxFrame zero{};
  Send({CMD_BOX_DOWNLOAD});
  Send(Bytes(zero.begin(), zero.end()));
  EXPECT_TRUE(Collect(200).empty());
  EXPECT_EQ(box->DownloadsAccepted(), 2);
  EXPECT_EQ(box->Frame(), zero);
}

TEST_F(BoxSimTest, AnswersAnUploadWithItsFrameAndItsFaults) {
  StartBox(Quiet());
  Send({CMD_BOX_UPLOAD});
  Bytes got = Collect(1000, kBoxFrameBytes);
  ASSERT_EQ(got.size(), kBoxFrameBytes);
  EXPECT_TRUE(BoxFrameValid(got.data()));
  const BoxFrame demo = DemoBoxFrame();
  EXPECT_EQ(got, Bytes(demo.begin(), demo.end()));

  box->SetBadGroupSum(true);
  box->SetPieces(4);
  box->SetExtraBytes(5);
  Send({CMD_BOX_UPLOAD});
  got = Collect(1000, kBoxFrameBytes + 5);
  ASSERT_EQ(got.size(), kBoxFrameBytes + 5);
  EXPECT_FALSE(BoxFrameValid(got.data()));
  got.resize(kBoxFrameBytes);
  got[8 + 3 * 48 + 47] = uint8_t(got[8 + 3 * 48 + 47] - 1);
  EXPECT_TRUE(BoxFrameValid(got.data()));  // exactly that one group was spoiled
  EXPECT_EQ(box->UploadsAnswered(), 2);

  box->SetSilent(true);
  Send({CMD_BOX_UPLOAD});
  EXPECT_TRUE(Collect(150).empty());
}

}  // namespace
}  // namespace km27::sim
