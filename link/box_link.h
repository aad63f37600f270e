#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "link/comm_control.h"
#include "link/link_engine.h"
#include "link/link_host.h"
#include "link/link_timing.h"
#include "model/param_model.h"

namespace km27 {

// The code box's link, run entirely on the window's thread: the port scan (timer 101), the
// watchdog (timer 104), the download and upload of the BoxFrame through the comm control, and
// the upload time limit (timer 109). Waits block the window's thread, as the box expects.
class BoxLink : public LinkEngine {
 public:
  using PortProbe = std::function<bool(int port)>;  // port exists and is free
  using Waiter = std::function<void(int ms)>;       // blocks the calling thread

  // Without `probe` the COM ports are probed for real; without `wait` the waits sleep.
  BoxLink(ParamModel& model, LinkHost& host, CommControl& comm, LinkTiming timing,
          PortProbe probe = nullptr, Waiter wait = nullptr);
  ~BoxLink() override;
  BoxLink(const BoxLink&) = delete;
  BoxLink& operator=(const BoxLink&) = delete;

  bool LinkUp() const override { return linkUp_; }
  void Start() override;
  void OnDownload() override;
  void OnUpload() override;
  void OnTimer(int id) override;
  void Stop() override;

  // Handler of the comm control's event.
  void OnCommEvent();
  void TryNextPort();

  int PortNumber() const { return portNumber_; }
  bool PortOpenFlag() const { return portOpen_; }
  bool TransferRunning() const { return transfer_ != Transfer::kNone; }

 private:
  enum class Transfer { kNone, kDownload, kUpload };

  void ScanStep();
  void WatchStep();
  void UploadTimedOut();
  void LoseLink();
  void ResetLinkFields();
  void NoteLinkActivity(const std::vector<uint8_t>& bytes);
  void AppendReceived(const std::vector<uint8_t>& bytes, int count);
  void AcceptBoxFrame();
  void ScanForAccept(const std::vector<uint8_t>& bytes, int count);
  void SendBoxFrame();
  void EndBoxUpload();
  void JudgeDownload();
  void EnableButtons(bool enable);
  void RestartStatusReset();

  ParamModel& model_;
  LinkHost& host_;
  CommControl& comm_;
  LinkTiming timing_;
  PortProbe probe_;
  Waiter wait_;

  uint8_t portNumber_ = 0;  // COM port last tried, 1..9; 0 = start from COM1
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
};

}  // namespace km27
