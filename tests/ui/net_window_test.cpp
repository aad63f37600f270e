// COM ports that name a line at a terminal server, in the window: used as a local line, never
// waited for, and set up from 端口设置.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "link/verify.h"
#include "model/status_texts.h"
#include "port/net_url.h"
#include "sim/terminal_server.h"
#include "res/dialog_templates.h"
#include "sim/box_sim.h"
#include "ui/controls/lamp_static.h"
#include "ui/controls/ms_flex_grid.h"
#include "ui/param_dlg.h"
#include "ui/port_settings_dlg.h"
#include "ui_test_support.h"

using namespace km27;

namespace {

std::string Entry(const std::string& dir, int n) {
  char text[256];
  const ssize_t len = readlink((dir + "/COM" + std::to_string(n)).c_str(), text, sizeof text);
  return len < 0 ? std::string() : std::string(text, size_t(len));
}

class NetWindow : public ::testing::Test {
 protected:
  void TearDown() override {
    dlg.reset();
    ForgetPortProblems();
    QSettings().clear();
  }
  void OpenWindow(const std::vector<std::string>& urls) {
    for (size_t i = 0; i < urls.size(); ++i)
      ASSERT_EQ(symlink(urls[i].c_str(), (ports.Dir() + "/COM" + std::to_string(i + 1)).c_str()), 0);
    dlg = std::make_unique<CParamDlg>();
    dlg->SetDeviceModel(CodeBox);
    dlg->SetLinkTiming(ports.timing);
    dlg->OnInitDialog();
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  }

  TempWorkDir work;
  SimulatedComPorts ports{work};
  std::unique_ptr<CParamDlg> dlg;
};

TEST_F(NetWindow, FindsTheBoxBehindSer2netAndDownloads) {
  if (!sim::Ser2netServer::Installed()) GTEST_SKIP() << "ser2net is not installed (scripts/setup-debian.sh installs it)";
  TempDir simDir{"netbox"};
  sim::BoxSimOptions o;
  o.comDir = simDir.path;
  o.paced = false;
  sim::BoxSim box(o);
  ASSERT_TRUE(box.Start()) << box.Error();
  sim::Ser2netServer server;
  std::vector<sim::Ser2netServer::Line> lines = {{Entry(simDir.path, 1), true, 0, ""}};
  ASSERT_TRUE(server.Start(simDir.path, lines));
  const int port = lines[0].port;
  ports.timing = LinkTiming{};  // a fifth of the watchdog would not outlast a busy machine's network
  OpenWindow({"rfc2217://127.0.0.1:" + std::to_string(port)});
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->lamp->LampState() == 1; }, 15000)) << PortProblemText();

  QTest::keyClick(dlg->grid, Qt::Key_F2);
  QTest::keyClick(dlg->grid, Qt::Key_F7);
  const QString proven = QString::fromStdString(VerifyStatusText(VerifyOutcome::kSame));
  EXPECT_TRUE(QTest::qWaitFor([&] { return dlg->statusLine->text() == proven; }, 30000));
  EXPECT_EQ(box.DownloadsAccepted(), 1);
}

TEST_F(NetWindow, UnreachableUrlsNeverStallTheWindowAndTheLampSaysWhy) {
  // A server that takes the connection and never negotiates, and an address nothing answers.
  int silentPort = 0;
  const int silent = sim::ListenOnLoopback(&silentPort);
  ASSERT_GE(silent, 0);
  const std::string where = "127.0.0.1:" + std::to_string(silentPort);

  using Clock = std::chrono::steady_clock;
  const auto since = [](Clock::time_point t) {
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
  };
  auto last = Clock::now();
  long longest = 0;
  QTimer beat;
  QObject::connect(&beat, &QTimer::timeout, [&] {
    longest = std::max(longest, since(last));
    last = Clock::now();
  });
  beat.start(5);
  OpenWindow({"rfc2217://" + where, "tcp://10.255.255.1:4001"});
  last = Clock::now();
  // The negotiation's time limit (3 s) runs out in the background.
  const std::string why = "COM1 (rfc2217://" + where + "): 无法连接 (" + where + ": 服务器未回应串口控制协商)。";
  EXPECT_TRUE(QTest::qWaitFor([&] { return PortProblemText().find(why) != std::string::npos; }, 10000)) << PortProblemText();
  RecordProperty("longest_stall_ms", int(longest));
  EXPECT_LT(longest, 250);  // a wait on the network would be seconds
  EXPECT_EQ(dlg->lamp->LampState(), 0);
  const auto closing = Clock::now();
  dlg.reset();  // what still connects is cut short
  EXPECT_LT(since(closing), 1000);
  close(silent);
}

TEST(PortSettingsDialog, WritesTheEntriesAndRefusesABadUrlWithItsReason) {
  EnsureApp();
  TempDir dir{"comdir"};
  ComEnvironment env;
  env.userDir = dir / "config/km27/com";  // made by the first entry
  CPortSettingsDlg dlg(env);
  auto* combo = static_cast<QComboBox*>(dlg.Control(res::IDC_PORT_COMBO));
  auto* edit = static_cast<QLineEdit*>(dlg.Control(res::IDC_PORT_EDIT));
  const auto shown = [&](int n) { return static_cast<QLabel*>(dlg.Control(res::IDC_PORT_TARGET_FIRST + n - 1))->text(); };
  for (const auto& [n, target] : {std::pair{3, " rfc2217://10.1.2.3:4001 "}, {5, "/dev/ttyUSB7"}, {6, "tcp://10.1.2.3"}}) {
    combo->setCurrentIndex(n - 1);
    edit->setText(QString::fromUtf8(target));
    QTest::mouseClick(dlg.Control(res::IDC_PORT_SET), Qt::LeftButton);
  }
  EXPECT_TRUE(static_cast<QLabel*>(dlg.Control(res::IDC_PORT_MESSAGE))
                  ->text()
                  .contains(QString::fromStdString(UrlProblemText(UrlProblem::NoPort))));
  EXPECT_EQ(ComDevicePath(3, env), "rfc2217://10.1.2.3:4001");
  EXPECT_EQ(Entry(env.userDir, 5), "/dev/ttyUSB7");
  EXPECT_EQ(Entry(env.userDir, 6), "");
  EXPECT_EQ(shown(5), QStringLiteral("/dev/ttyUSB7"));

  combo->setCurrentIndex(2);
  EXPECT_EQ(edit->text(), QStringLiteral("rfc2217://10.1.2.3:4001"));
  QTest::mouseClick(dlg.Control(res::IDC_PORT_CLEAR), Qt::LeftButton);
  EXPECT_EQ(Entry(env.userDir, 3), "");
  EXPECT_EQ(shown(3), QString::fromUtf8("自动"));
}

}  // namespace
