#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "link/comm_control.h"
#include "link/link_engine.h"
#include "link/event_loop.h"
#include "link/link_observer.h"
#include "link/link_timing.h"
#include "link/loop_timer.h"
#include "link/verify.h"
#include "model/param_table.h"

namespace km27 {

inline constexpr uint8_t kBoxComPorts = 9;  // COM1..COM9 are scanned in turn

// The code box's link, run entirely on its loop's thread: the port scan, the watchdog, the
// download and upload of the BoxFrame through the comm control, and the upload time limit.
//
// The box is built for a host that pauses between the steps of a transfer (200 ms before the
// frame, 1000 ms and 500 ms after it, 10 ms and 500 ms around an upload) and handles what
// arrived meanwhile only afterwards. Each pause is a one-shot timer during
// which the comm control's events and the link's own timers are held back and then handled in
// their order: the same bytes, order and pauses on the wire, and a window that never blocks.
class BoxLink : public LinkEngine {
 public:
  using PortProbe = std::function<bool(int port)>;  // port exists and is free

  // Without `probe` the COM ports are probed for real.
  BoxLink(EventLoop& loop, LinkObserver& observer, CommControl& comm, LinkTiming timing, PortProbe probe = nullptr);
  ~BoxLink() override;
  BoxLink(const BoxLink&) = delete;
  BoxLink& operator=(const BoxLink&) = delete;

  bool LinkUp() const override { return linkUp_; }
  void Start() override;
  void OnDownload(const Programme& programme) override;
  void OnUpload() override;
  void Stop() override;
  void SetVerifyAfterDownload(bool on) override { verify_ = on; }

  // The COM numbers the scan goes through, in turn (COM1..COM9 unless told otherwise).
  void SetComPorts(uint8_t first, uint8_t last);

  // Handler of the comm control's event.
  void OnCommEvent();
  void TryNextPort();

  int PortNumber() const { return portNumber_; }
  int LinkComPort() const override { return linkUp_ ? portNumber_ : 0; }
  int SearchSteps() const override { return scanPeriods_; }  // one per port's scan period
  bool PortOpenFlag() const { return portOpen_; }
  bool TransferRunning() const override { return transfer_ != Transfer::kNone; }
  bool DownloadRunning() const override { return transfer_ == Transfer::kDownload || transfer_ == Transfer::kReadBack; }
  bool DeviceTouched() const override { return frameSent_; }
  bool Paused() const { return pause_ != Pause::kNone; }

 private:
  // kReadBack: a successful download's frame read back with the upload exchange.
  enum class Transfer { kNone, kDownload, kUpload, kReadBack };
  // What follows each pause.
  enum class Pause { kNone, kBeforeFrame, kBeforeJudging, kAfterDownload, kAfterUploadRequest, kAfterUpload };
  // The link's own timers, whose ticks a pause holds back.
  enum class Tick { kScan, kWatch, kUploadLimit };

  void OnTick(Tick tick);
  void BeginPause(Pause next, int ms);
  void EndPause();
  void SendFrame();
  void FinishDownload();
  void FinishUpload();
  void RequestFrame();
  void EndReadBack(VerifyOutcome outcome, const VerifyDifference& difference);

  void ScanStep();
  void WatchStep();
  void UploadTimedOut();
  void LoseLink();
  void ResetLinkFields();
  void NoteLinkActivity(const std::vector<uint8_t>& bytes);
  void AppendReceived(const std::vector<uint8_t>& bytes, int count);
  void AcceptBoxFrame();
  void ScanForAccept(const std::vector<uint8_t>& bytes, int count);
  void EndBoxUpload();
  void JudgeDownload();
  LinkPlace Place() const;

  LinkObserver& observer_;
  CommControl& comm_;
  LinkTiming timing_;
  PortProbe probe_;
  LoopTimer scanTimer_, watchTimer_, uploadTimer_, pauseTimer_;

  uint8_t firstPort_ = 1;
  uint8_t lastPort_ = kBoxComPorts;
  int scanPeriods_ = 0;
  uint8_t portNumber_ = 0;  // COM port last tried, 1..9; 0 = start from the first
  bool portOpen_ = false;
  bool linkUp_ = false;
  bool activity_ = false;
  bool downloadPending_ = false;
  bool awaitingAccept_ = false;
  bool acceptSeen_ = false;
  bool uploadRequested_ = false;
  bool collecting_ = false;
  Transfer transfer_ = Transfer::kNone;
  std::vector<uint8_t> receiveBuffer_;
  Pause pause_ = Pause::kNone;
  std::vector<Tick> heldTicks_;  // ticks of the link's timers that fell into a pause
  std::vector<uint8_t> frame_;   // the download's frame, taken when the operator asked
  bool verify_ = true;
  bool readBackNext_ = false;    // the download succeeded and is to be read back
  // How the transfer under way went, told when it ends.
  bool downloadOk_ = false;
  bool frameSent_ = false;  // the download's frame went to the line
  bool uploadOk_ = false;
  VerifyOutcome readBackOutcome_ = VerifyOutcome::kReadBackFailed;
  VerifyDifference readBackDifference_;
};

}  // namespace km27
