#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "link/event_loop.h"
#include "link/link_engine.h"
#include "link/link_observer.h"
#include "link/link_timing.h"
#include "link/loop_timer.h"
#include "link/transfer_frame.h"
#include "link/transmitter_image.h"
#include "link/verify.h"
#include "link/window_call_queue.h"
#include "model/device_info_bytes.h"
#include "port/com_names.h"
#include "port/port.h"

namespace km27 {

inline constexpr int kTransmitterComPorts = 11;  // COM1..COM11; higher numbers are never tried
inline constexpr int kExchangeAttempts = 20;
inline constexpr int kTransmitterInitBaud = 9600;
inline constexpr int kTransmitterBaud = 19200;
inline constexpr uint8_t kWakeByte = 0x03;  // sent at 9600 baud while the port is opened

// What a transfer thread reports (wParam of the report).
enum LinkReport { kReportDownload = 1, kReportUpload = 2 };


// The code transmitter's link: a monitor thread that finds and polls the device, and at most
// one download or upload thread at a time. All port use happens under LinkLock; the threads
// report to the loop's thread through a WindowCallQueue on the loop, in order, and wait for it.
//
// Every public member is for the loop's thread. Stop() closes the queue first (pending and later
// reports are dropped) and then waits for the threads.
class TransmitterLink : public LinkEngine {
 public:
  // `info`: the device information the first download sends (from the host's file). Without
  // it a download first reads the device's own with the upload exchange and sends that back,
  // until an upload has brought it.
  // `port`: the line it talks through; without one, the kind COM numbers stand for.
  TransmitterLink(EventLoop& loop, LinkObserver& observer, const std::optional<DeviceInfo>& info,
                  LinkTiming timing, std::unique_ptr<Port> port = nullptr);
  ~TransmitterLink() override;
  TransmitterLink(const TransmitterLink&) = delete;
  TransmitterLink& operator=(const TransmitterLink&) = delete;

  bool LinkUp() const override { return linkUp_; }
  void Start() override;  // the image from the device information, then the monitor after a wait
  void OnDownload(const Programme& programme) override;
  void OnUpload() override;
  // Tells the threads to stop, cuts their waits short, joins them and closes the port.
  void Stop() override;
  void SetVerifyAfterDownload(bool on) override { verify_ = on; }

  bool StartLinkMonitor();
  void OnLinkResult(int wParam, int lParam);
  void OnLinkState(int state, const LinkPlace& place);
  void ApplyTransmitterImage();
  void OnVerifyResult(VerifyOutcome outcome, const VerifyDifference& difference);

  bool TransferRunning() const override { return transferRunning_; }
  bool DownloadRunning() const override { return transferRunning_ && downloading_; }
  bool DeviceTouched() const override { return deviceTouched_; }
  // Link-state reports handled so far: one per monitor cycle, so a first report without a
  // device says that a whole scan found none.
  int LinkReports() const { return linkReports_; }
  int SearchSteps() const override { return linkReports_; }
  void SearchNow() override;
  // Identification answers that came back spoiled (bytes, but no valid answer): a device may
  // be there, worth another look.
  int SpoiledAnswers() const override { return spoiledAnswers_; }
  // The COM number of the port the device answers on; 0 while none does.
  int LinkComPort() const override { return linkCom_; }
  const TransmitterImage& Image() const { return image_; }  // not while a transfer runs
  // Where COM n points; by default from the environment at each scan.
  void SetComEnvironment(const ComEnvironment& env);

 private:
  enum class Transfer { kDownload, kUpload };
  // Which transfer the progress reports speak of.
  enum class Stage { kDownload, kUpload, kReadBack, kDeviceInfo };

  bool OpenTransmitterPort(int n, const std::string& devicePath);
  void ClosePort();
  void LinkMonitorThread();
  void DownloadThread();
  void UploadThread();
  // One request and its answer, tried up to kExchangeAttempts times: a pause, the request, a
  // pause, a read of `answer.size()` bytes that `accepted` judges. Progress is reported before
  // each attempt as block `blocksDone` of `stage`, the first attempt only when `reportFirst`.
  // False when every attempt failed or the link is stopping.
  bool Exchange(Stage stage, int blocksDone, bool reportFirst, const Frame& request, std::vector<uint8_t>& answer,
                const std::function<bool(const uint8_t*, size_t)>& accepted);
  bool OpeningStage(Stage stage);
  // The opening stage and the 17 block reads into `into`: an upload, or a download's read-back.
  bool ReadImage(Stage stage, TransmitterImage& into);
  void SendIdentifyFrame();
  bool SendRequest(const std::vector<uint8_t>& frame);
  bool IdentifyExchange(bool pauseFirst);
  bool Pause(int ms);  // false when the link is stopping
  bool Report(const std::function<void()>& fn);
  void ReportProgress(Stage stage, int blocksDone, int attempt);
  void StartTransfer(Transfer kind);
  ComEnvironment CurrentComEnvironment();

  LinkObserver& observer_;
  std::optional<DeviceInfo> startInfo_;
  LinkTiming timing_;
  LoopTimer startTimer_;
  // The workers' reports; the loop's posted call may come after this link is gone.
  std::shared_ptr<WindowCallQueue> calls_;

  // Shared with the threads. Only the port interface is used past this point.
  const std::unique_ptr<Port> ownPort_;
  Port& LinkPort = *ownPort_;
  std::mutex LinkLock;
  std::atomic<bool> LinkRunning{false};
  std::atomic<bool> verify_{true};
  std::atomic<int> linkCom_{0};
  bool verifyThis_ = false;  // the running download is read back (set before its thread starts)
  std::atomic<bool> deviceTouched_{false};  // a block of the download under way was acknowledged
  bool infoKnown_ = false;  // the image holds device information to send (file or upload)
  // How the running download's device information went; read after its report.
  bool infoFromDevice_ = false;
  DeviceInfo ownInfo_{};  // what infoFromDevice_ sent back, written by the download thread before it reports
  bool infoUnreadable_ = false;
  TransmitterImage image_;  // handed over between the threads by the order of the reports
  // Which devices other programs have open, for the monitor's scans: a scan that finds no free
  // port ends within milliseconds, and reading /proc at that pace would cost more than the scan.
  OpenDevices inUse_{std::chrono::seconds(1)};
  std::mutex envLock_;
  bool envSet_ = false;
  ComEnvironment env_;

  // The window's thread only.
  bool linkUp_ = false;
  int lastLinkState_ = 0;
  int linkReports_ = 0;
  std::atomic<int> spoiledAnswers_{0};
  bool transferRunning_ = false;
  bool downloading_ = false;
  bool stopped_ = false;
  std::thread monitor_;
  std::thread transfer_;
};

}  // namespace km27
