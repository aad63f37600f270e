// Time for the link monitor to find a code transmitter behind k silent ports, against the
// figure the port's time limits and the opening sequence give.
//
//   scan_bench [--runs N] [--silent-max K]
//
// COM1..COMk hold simulated code transmitters that read everything and answer nothing; the
// answering one is on COM(k+1). Timed from the monitor's start (timer 110) to the lamp lit.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "bench/bench_common.h"
#include "link/transfer_frame.h"
#include "port/com_names.h"

using namespace km27;
using namespace km27::bench;

int main(int argc, char** argv) {
  Args args(argc, argv);
  std::printf("Machine at the start: %s\n\n", MachineLine().c_str());
  const int runs = args.Int("--runs", 3);
  const int silentMax = args.Int("--silent-max", 2);
  App(argc, argv);

  const LinkTiming t = LinkTiming();
  const double byteMs = LineMs(1, 19200);
  // Opening sequence of one port, then the pause before the poll and the pause before its read.
  const double opening = t.openBreakMs * 2 + t.openRtsSettleMs;
  const double perPort = opening + 2.0 * t.exchangePauseMs;
  const double silentRead = t.readTotalConstantMs + t.readTotalPerByteMs * double(kShortFrameBytes);
  // The answer (16 bytes out, 6 back) is on the line while the tool pauses before its read.
  const double answer = std::max(0.0, (kIdentifyFrameBytes + kShortFrameBytes) * byteMs - t.exchangePauseMs);

  std::printf("Link monitor, code transmitter at 19200 baud, real timing; %d runs each\n\n", runs);
  std::printf("| silent ports before the device | expected (ms) | median (ms) | min..max (ms) | ratio |\n");
  std::printf("|---:|---:|---:|---:|---:|\n");
  for (int k = 0; k <= silentMax; ++k) {
    const double expected = k * (perPort + silentRead) + perPort + answer;
    std::vector<double> found;
    for (int run = 0; run < runs; ++run) {
      TempDir com("com"), work("work");
      setenv(kComDirVariable, com.path.c_str(), 1);
      std::vector<std::unique_ptr<sim::TransmitterSim>> devices;
      for (int n = 1; n <= k + 1; ++n) {
        sim::TransmitterSimOptions o;
        o.paced = true;
        o.silent = n <= k;
        devices.push_back(std::make_unique<sim::TransmitterSim>(o));
        if (!devices.back()->Start(com.path, n)) {
          std::fprintf(stderr, "simulator: %s\n", devices.back()->Error().c_str());
          return 1;
        }
      }
      TransmitterWindow tw(work.path);
      BenchWindow& w = tw.Window();
      auto t0 = Clock::now();
      tw.StartMonitor();
      if (!RunUntil([&] { return w.lampState == 1; }, int(expected) + 10000)) {
        std::fprintf(stderr, "k=%d run %d: not found\n", k, run);
        continue;
      }
      found.push_back(Ms(w.lampAt - t0));
      tw.Close();
      if (chdir("/") != 0) return 1;
    }
    std::printf("| %d | %.0f | %.1f | %.1f..%.1f | %.3f |\n", k, expected, Median(found), Min(found), Max(found),
                Median(found) / expected);
  }
  std::printf("\nExpected: per silent port %.0f ms opening sequence + 2 x %d ms pauses + %.0f ms read limit; "
              "the answering port %.0f ms + %.1f ms of answer beyond the pause before its read.\n",
              opening, t.exchangePauseMs, silentRead, perPort, answer);
  std::printf("\nMachine at the end: %s\n", MachineLine().c_str());
  return 0;
}
