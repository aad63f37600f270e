// The main window opened and closed a hundred times with a lower machine attached (a simulated
// code box and code transmitter on ptys, alternately), each time until its link is up. Every
// cycle starts threads, opens ports and builds a window; afterwards nothing may be left of
// them: no descriptor, no thread, no heap growth, and under AddressSanitizer no leak.
#include <dirent.h>
#include <malloc.h>
#include <stdlib.h>

#include <QTest>
#include <memory>

#include "link/link_timing.h"
#include "port/com_names.h"
#include "sim/box_sim.h"
#include "sim/transmitter_sim.h"
#include "ui/param_dlg.h"
#include "temp_dir.h"
#include "ui_test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define KM27_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KM27_ASAN 1
#endif
#endif
#ifdef KM27_ASAN
#include <sanitizer/lsan_interface.h>
#endif
#if defined(__SANITIZE_THREAD__)
#define KM27_TSAN 1
#endif

namespace {

int CountEntries(const char* dir) {
  int n = 0;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n - 1;  // the directory stream's own descriptor, when counting fds
}

int Cycles() {
  const char* v = std::getenv("KM27_LEAK_CYCLES");
  const int n = v ? std::atoi(v) : 0;
  return n > 0 ? n : 100;
}

class WindowLeak : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApp();
    ASSERT_FALSE(comDir.empty());
    timing = km27::LinkTiming{}.Scaled(10);
    timing.readTotalConstantMs = 200;
  }
  void TearDown() override {
    setenv(km27::kComDirVariable, "/nonexistent/km27-no-com-ports", 1);
  }

  // One window's life: open, wait for the device, close by the exit key.
  void Cycle(km27::DeviceModel model) {
    auto dlg = std::make_unique<CParamDlg>();
    dlg->SetDeviceModel(model);
    dlg->SetLinkTiming(timing);
    dlg->OnInitDialog();
    dlg->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->LinkUp(); }, 10000)) << "no link with model " << int(model);
    QTest::keyClick(dlg.get(), Qt::Key_F9);
    ASSERT_FALSE(dlg->isVisible());
    dlg.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  TempWorkDir work;
  TempDir tmp{"leak"};
  const std::string comDir = tmp.path;
  km27::LinkTiming timing;
};

TEST_F(WindowLeak, HundredWindowsWithADeviceAttachedLeaveNothingBehind) {
  // Both devices wait on COM1 of their own directories; the window finds the one of its model.
  const std::string boxDir = comDir + "/box", txDir = comDir + "/tx";
  ASSERT_EQ(mkdir(boxDir.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(txDir.c_str(), 0755), 0);
  km27::sim::BoxSimOptions bo;
  bo.comDir = boxDir;
  bo.presenceMs = 20;
  bo.paced = false;
  km27::sim::BoxSim box(bo);
  ASSERT_TRUE(box.Start()) << box.Error();
  km27::sim::TransmitterSim tx;
  ASSERT_TRUE(tx.Start(txDir, 1)) << tx.Error();
  auto cycle = [&](int i) {
    const bool boxTurn = i % 2 == 0;
    setenv(km27::kComDirVariable, (boxTurn ? boxDir : txDir).c_str(), 1);
    Cycle(boxTurn ? km27::CodeBox : km27::CodeTransmitter);
  };

  // The first windows fill the toolkit's caches (fonts, styles): count from after them.
  for (int i = 0; i < 4 && !HasFatalFailure(); ++i) cycle(i);
  ASSERT_FALSE(HasFatalFailure());
  const int fds = CountEntries("/proc/self/fd");
  const int threads = CountEntries("/proc/self/task") + 1;
  const size_t heap = mallinfo2().uordblks;

  for (int i = 0; i < Cycles() && !HasFatalFailure(); ++i) cycle(i);
  ASSERT_FALSE(HasFatalFailure());

  EXPECT_EQ(CountEntries("/proc/self/fd"), fds) << "descriptors left open";
  // Threads end as the window closes; give the system a moment to reap them.
  EXPECT_TRUE(QTest::qWaitFor([&] { return CountEntries("/proc/self/task") + 1 <= threads; }, 2000))
      << CountEntries("/proc/self/task") + 1 << " threads, " << threads << " before";
#if !defined(KM27_ASAN) && !defined(KM27_TSAN)
  // A window, its link or a thread kept alive would cost far more than this per cycle.
  const long grown = long(mallinfo2().uordblks) - long(heap);
  std::printf("%d windows: %d descriptors, %d threads before and after; heap in use %+ld bytes\n", Cycles(), fds,
              threads, grown);
  EXPECT_LT(grown, 4 * Cycles() * 1024) << grown << " bytes more in use";
#else
  (void)heap;
#endif
#ifdef KM27_ASAN
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "LeakSanitizer found leaks (see above)";
#endif
}

}  // namespace
