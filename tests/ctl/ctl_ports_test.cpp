// ports and probe: what stands behind each COM number, who holds a taken one, and where a lower
// machine answers, without disturbing a line another program uses.
#include <pty.h>

#include "ctl/ctl_fixture.h"
#include "port/held_port.h"
#include "sim/sim_line.h"

namespace km27::testing {
namespace {

class CtlPorts : public CtlTest {
 protected:
  static std::string Real(const std::string& path) {
    char* r = realpath(path.c_str(), nullptr);
    std::string s = r ? r : "";
    free(r);
    return s;
  }
};

TEST_F(CtlPorts, EachNumberIsFreeTakenByANamedProgramOrAbsent) {
  sim::TransmitterSim& transmitter = AddTransmitter(1);
  sim::SimLine other;
  ASSERT_TRUE(other.Open(com, 2)) << other.Error();
  HeldPort held(com + "/COM2");
  ASSERT_TRUE(held.Ready());

  CtlResult r = Run({"ports", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  const nlohmann::json j = r.Json();
  EXPECT_EQ(j["command"], "ports");
  ASSERT_EQ(j["ports"].size(), 11u);
  EXPECT_EQ(j["ports"][0]["com"], 1);
  EXPECT_EQ(j["ports"][0]["state"], "free");
  EXPECT_EQ(j["ports"][0]["device"], Real(com + "/COM1"));
  EXPECT_EQ(j["ports"][1]["state"], "taken");
  EXPECT_EQ(j["ports"][1]["program"], HeldPort::kName);
  EXPECT_EQ(j["ports"][1]["pid"], held.Pid());
  EXPECT_EQ(j["ports"][2]["state"], "absent");

  r = Run({"ports", "--com", "2"});
  ASSERT_EQ(r.code, 0);
  EXPECT_TRUE(Has(r.out, "COM2")) << r.out;
  EXPECT_TRUE(Has(r.out, "被占用")) << r.out;
  EXPECT_TRUE(Has(r.out, HeldPort::kName)) << r.out;
  EXPECT_FALSE(Has(r.out, "COM1")) << r.out;
  WriteProgramme();
  r = Run({"verify", "--model", "KM27C", "--com", "2", "--json", "KM27A.dat"});
  EXPECT_EQ(r.code, 4);
  EXPECT_EQ(r.Json()["error"]["code"], "port_busy");
  // Looking did not touch either line: the holder's input is untouched, the device saw nothing.
  EXPECT_EQ(held.InputCount(), 0);
  EXPECT_EQ(transmitter.GetStats().identify, 0);
}

TEST_F(CtlPorts, ALineTheUserMayNotOpenIsShownWithTheDialoutHint) {
  sim::SimLine line;
  ASSERT_TRUE(line.Open(com, 1)) << line.Error();
  ASSERT_EQ(chmod(root.c_str(), 0755), 0);
  ASSERT_EQ(chmod(com.c_str(), 0755), 0);
  if (std::system("command -v setpriv >/dev/null 2>&1") != 0) GTEST_SKIP() << "setpriv is not installed";
  // A pseudo-terminal is root's, mode 620: an ordinary user may not open it.
  runAs = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  const CtlResult r = Run({"ports", "--com", "1", "--json"});
  ASSERT_EQ(r.code, 0) << r.err << r.out;
  const nlohmann::json j = r.Json();
  ASSERT_EQ(j["ports"].size(), 1u);
  EXPECT_EQ(j["ports"][0]["state"], "no_access");
  EXPECT_TRUE(Has(j["ports"][0]["reason"].get<std::string>(), "dialout")) << j.dump();
}

TEST_F(CtlPorts, ProbeFindsEitherModelAndSaysWhereAndWhy) {
  divisor = 4;
  sim::SimLine other;
  ASSERT_TRUE(other.Open(com, 1)) << other.Error();
  HeldPort held(com + "/COM1");
  ASSERT_TRUE(held.Ready());
  AddTransmitter(3);

  // Without a model: every machine there, the code transmitter behind a port another program
  // holds.
  AddBox(2);
  CtlResult r = Run({"probe", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  nlohmann::json j = r.Json();
  ASSERT_EQ(j["found"].size(), 2u) << j.dump();
  EXPECT_EQ(j["found"][0]["model"], "KM27C");
  EXPECT_EQ(j["found"][0]["com"], 3);
  EXPECT_EQ(j["found"][0]["device"], Real(com + "/COM3"));
  EXPECT_EQ(j["found"][1]["model"], "KM27A");
  EXPECT_EQ(j["found"][1]["com"], 2);
  EXPECT_EQ(held.InputCount(), 0);  // the held line was skipped untouched
  boxes.clear();

  // A device given by its path stands as COM1 (or as the --com number given with it).
  r = Run({"probe", "--model", "KM27C", "--device", com + "/COM3", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(r.Json()["found"].size(), 1u);
  EXPECT_EQ(r.Json()["found"][0]["com"], 1);
  EXPECT_EQ(r.Json()["found"][0]["device"], Real(com + "/COM3"));
  r = Run({"probe", "--model", "KM27C", "--device", com + "/COM3", "--com", "7", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.Json()["found"][0]["com"], 7);

  // Told to use the held port: not available, and the holder is named.
  r = Run({"probe", "--model", "KM27C", "--com", "1"});
  EXPECT_EQ(r.code, 4);
  EXPECT_TRUE(Has(r.err, HeldPort::kName)) << r.err;
  EXPECT_TRUE(Has(r.err, std::to_string(held.Pid()))) << r.err;

  // A code box and no code transmitter: found after the transmitter's search came up empty.
  transmitters.clear();
  AddBox(2);
  r = Run({"probe"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "KM27A")) << r.out;
  EXPECT_TRUE(Has(r.out, "COM2")) << r.out;

  boxes.clear();
  r = Run({"probe", "--json"});
  EXPECT_EQ(r.code, 4);
  j = r.Json();
  EXPECT_TRUE(j["found"].empty()) << j.dump();
  EXPECT_EQ(j["exit_code"], 4);
  ASSERT_FALSE(j["problems"].empty());  // the held COM1, named
  EXPECT_TRUE(Has(j["problems"][0].get<std::string>(), "COM1")) << j.dump();
}

TEST_F(CtlPorts, OurOwnTerminalIsNeverUsedAsAPort) {
  int master = -1, slave = -1;
  char name[128] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  fcntl(master, F_SETFL, O_NONBLOCK);
  termios before{}, after{};
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  ownSession = true;  // the terminal on its standard input and error is its controlling terminal
  auto p = Start({"probe", "--model", "KM27C", "--device", "/dev/tty", "--json", "--quiet"}, name);
  ASSERT_TRUE(p->WaitExit(60000));
  EXPECT_EQ(p->ExitCode(), 4);
  EXPECT_TRUE(Has(p->Out(), "自己的终端")) << p->Out();
  char buf[256];
  EXPECT_LT(read(master, buf, sizeof buf), 1) << "something was written to the terminal";
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
  close(slave);
  close(master);
}

}  // namespace
}  // namespace km27::testing
