// Code-box download and upload time at 9600 baud against the simulated box, next to the floor
// the line and the mandated waits set.
//
//   box_bench [--runs N]
//
// The real main window with its code-box link and comm control; the box paces what it sends
// at 9600 baud. A pseudo-terminal reports output drained the moment it is written, so the
// frame's own line time on the way to the box cannot be seen here: the table gives the floor
// of a real line and the floor this measurement can reach.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "link/box_frame.h"
#include "link/verify.h"
#include "model/status_texts.h"
#include "port/com_names.h"
#include "sim/box_sim.h"
#include "ui/param_dlg.h"

#include <QAction>

using namespace km27;
using namespace km27::bench;

int main(int argc, char** argv) {
  Args args(argc, argv);
  std::printf("Machine at the start: %s\n\n", MachineLine().c_str());
  const int runs = args.Int("--runs", 10);
  App(argc, argv);

  TempDir com("com"), work("work");
  setenv(kComDirVariable, com.path.c_str(), 1);
  if (chdir(work.path.c_str()) != 0) return 1;
  sim::BoxSimOptions o;
  o.comDir = com.path;
  o.com = 1;
  o.paced = true;
  sim::BoxSim box(o);
  if (!box.Start()) {
    std::fprintf(stderr, "simulator: %s\n", box.Error().c_str());
    return 1;
  }
  auto w = OpenBoxWindow();
  if (!RunUntil([&] { return w->LinkUp(); }, 15000)) {
    std::fprintf(stderr, "the box was not found\n");
    return 1;
  }

  const LinkTiming t = LinkTiming();
  const double frameMs = LineMs(kBoxFrameBytes, 9600);
  const double byteMs = LineMs(1, 9600);
  struct Kind {
    const char* name;
    double lineResult, ptyResult;  // floors of the result text
    double settle;                 // then the buttons come back
    std::vector<double> result, buttons;
  };
  // Download: 0x55, 200 ms, the frame, the send event when it has left, 1000 ms, result, 500 ms.
  // Upload: 0xAA, the box's 968 bytes, result, 500 ms. A verified download is the download and
  // then an upload's exchange.
  const double downloadLine = t.boxFramePauseMs + frameMs + t.boxAcceptWaitMs;
  const double downloadPty = double(t.boxFramePauseMs + t.boxAcceptWaitMs);
  Kind kinds[3] = {
      {"download", downloadLine, downloadPty, double(t.boxSettleMs), {}, {}},
      {"upload", byteMs + frameMs, frameMs, double(t.boxSettleMs), {}, {}},
      {"download with verify", downloadLine + t.boxSettleMs + byteMs + frameMs, downloadPty + t.boxSettleMs + frameMs,
       double(t.boxSettleMs), {}, {}},
  };
  for (int k = 0; k < 3; ++k) {
    Kind& kind = kinds[k];
    const bool download = k != 1;
    w->VerifyAction()->setChecked(k == 2);
    const std::string ok = k == 2 ? VerifyStatusText(VerifyOutcome::kSame) : download ? text::kDownloadOk() : text::kUploadOk();
    const std::string failed = download ? text::kDownloadFailed() : text::kUploadFailed();
    for (int run = 0; run < runs; ++run) {
      RunFor(300 + (run * 37) % 100);  // the watchdog and the box's chatter at different phases
      w->status.clear();
      w->allButtons = false;
      auto t0 = Clock::now();
      download ? w->OnDownload() : w->OnUpload();
      if (!RunUntil([&] { return (w->status == ok || w->status == failed) && w->allButtons; }, 10000) ||
          w->status != ok) {
        std::fprintf(stderr, "%s run %d failed (%s)\n", kind.name, run, w->status.c_str());
        continue;
      }
      kind.result.push_back(Ms(w->statusAt - t0));
      kind.buttons.push_back(Ms(w->buttonsAt - t0));
    }
  }

  std::printf("Code box at 9600 baud 8N1, simulator paced, real timing; %d runs each\n\n", runs);
  std::printf("| transfer | measured to result (ms) | to buttons back (ms) | floor, pty (ms) | ratio | floor, real line (ms) | min..max to buttons |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
  for (const Kind& k : kinds) {
    double pty = k.ptyResult + k.settle;
    std::printf("| %s | %.1f | %.1f | %.1f | %.3f | %.1f | %.1f..%.1f |\n", k.name, Median(k.result), Median(k.buttons), pty,
                Median(k.buttons) / pty, k.lineResult + k.settle, Min(k.buttons), Max(k.buttons));
  }
  std::printf("\nFloors to the buttons coming back (the result shows %d ms earlier). The frame takes %.1f ms at 9600 baud.\n",
              t.boxSettleMs, frameMs);
  std::printf("Download with verify against twice the download's floor: %.3f (pty), %.3f (real line)\n",
              Median(kinds[2].buttons) / (2 * (downloadPty + t.boxSettleMs)),
              (kinds[2].lineResult + kinds[2].settle) / (2 * (downloadLine + t.boxSettleMs)));
  w->reject();
  w.reset();
  if (chdir("/") != 0) return 1;
  std::printf("\nMachine at the end: %s\n", MachineLine().c_str());
  return 0;
}
