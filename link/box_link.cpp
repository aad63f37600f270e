#include "link/box_link.h"

#include <algorithm>

#include "link/box_frame.h"
#include "model/status_texts.h"
#include "port/com_names.h"

namespace km27 {

namespace {

// A count from the control never reaches past the bytes actually delivered.
size_t Usable(const std::vector<uint8_t>& bytes, int count) {
  return count <= 0 ? 0 : std::min(bytes.size(), size_t(count));
}
}  // namespace

BoxLink::BoxLink(ParamModel& model, LinkHost& host, CommControl& comm, LinkTiming timing, PortProbe probe)
    : model_(model),
      host_(host),
      comm_(comm),
      timing_(timing),
      probe_(probe ? std::move(probe) : PortProbe([](int n) { return ProbeComPort(n); })) {
  comm_.SetOnComm([this] { OnCommEvent(); });
}

BoxLink::~BoxLink() { comm_.SetOnComm(nullptr); }

void BoxLink::Start() {
  TryNextPort();
  host_.SetTimer(TIMER_PORT_SCAN, timing_.portScanMs);
  host_.ShowCounts();
}

void BoxLink::Stop() {
  host_.KillTimer(TIMER_PORT_SCAN);
  host_.KillTimer(TIMER_LINK_WATCH);
  host_.KillTimer(TIMER_UPLOAD_TIMEOUT);
  host_.KillTimer(TIMER_BOX_PAUSE);
  pause_ = Pause::kNone;
  heldTimers_.clear();
  if (linkUp_ || portOpen_) comm_.SetPortOpen(false);
  portOpen_ = false;
  comm_.SetOnComm(nullptr);
}

void BoxLink::SetComPorts(uint8_t first, uint8_t last) {
  firstPort_ = std::max<uint8_t>(first, 1);
  lastPort_ = std::max(last, firstPort_);
}

void BoxLink::TryNextPort() {
  ++portNumber_;
  if (portNumber_ < firstPort_ || portNumber_ > lastPort_) portNumber_ = firstPort_;
  if (!probe_(portNumber_)) {
    portOpen_ = false;
    return;
  }
  comm_.SetRThreshold(1);
  comm_.SetSThreshold(1);
  comm_.SetInputLen(0);
  comm_.SetInBufferCount(0);
  comm_.SetInputMode(kInputModeBinary);
  comm_.SetCommPort(portNumber_);
  comm_.SetPortOpen(true);
  portOpen_ = true;
}

void BoxLink::OnTimer(int id) {
  if (id == TIMER_BOX_PAUSE) {
    EndPause();
    return;
  }
  if (Paused()) {
    // Expiries of one timer within a pause count once, as queued timer messages do.
    if (std::find(heldTimers_.begin(), heldTimers_.end(), id) == heldTimers_.end()) heldTimers_.push_back(id);
    return;
  }
  switch (id) {
    case TIMER_PORT_SCAN:
      ++scanPeriods_;
      ScanStep();
      break;
    case TIMER_LINK_WATCH: WatchStep(); break;
    case TIMER_UPLOAD_TIMEOUT: UploadTimedOut(); break;
    default: break;
  }
}

void BoxLink::ScanStep() {
  if (linkUp_) return;  // a tick already queued when the link came up
  if (portOpen_) {
    comm_.SetPortOpen(false);
    host_.SetLampState(0);
  }
  TryNextPort();
}

void BoxLink::WatchStep() {
  if (TransferRunning()) return;  // a tick already queued when the transfer began
  if (activity_) {
    activity_ = false;
    return;
  }
  LoseLink();
}

void BoxLink::LoseLink() {
  host_.KillTimer(TIMER_LINK_WATCH);
  // A port may also be open without a link (an upload ran while scanning); leaving it open
  // would make the next open on COM1 act on a control that is still open.
  if (linkUp_ || portOpen_) comm_.SetPortOpen(false);
  // Only the link is reset: the carrier, family and highlighted row still match what the
  // radios and the grid show, so the next edit lands where the operator sees it.
  ResetLinkFields();
  host_.SetLampState(0);
  TryNextPort();
  EnableButtons(false);
  host_.SetTimer(TIMER_PORT_SCAN, timing_.portScanMs);
}

void BoxLink::ResetLinkFields() {
  portNumber_ = 0;
  portOpen_ = false;
  linkUp_ = false;
  activity_ = false;
  downloadPending_ = false;
  awaitingAccept_ = false;
  acceptSeen_ = false;
  uploadRequested_ = false;
  collecting_ = false;
  receiveBuffer_.clear();
}

void BoxLink::OnCommEvent() {
  if (comm_.GetCommEvent() == kCommEventReceive) {
    const int n = comm_.GetInBufferCount();
    const std::vector<uint8_t> bytes = comm_.GetInput();
    NoteLinkActivity(bytes);
    if (collecting_) {
      AppendReceived(bytes, n);
      AcceptBoxFrame();
    }
    ScanForAccept(bytes, n);
  }
  if (comm_.GetCommEvent() == kCommEventSend) {
    if (uploadRequested_) {
      collecting_ = true;
      uploadRequested_ = false;
    }
    if (downloadPending_) {
      downloadPending_ = false;
      BeginPause(Pause::kBeforeJudging, timing_.boxAcceptWaitMs);
    }
  }
}

void BoxLink::BeginPause(Pause next, int ms) {
  pause_ = next;
  comm_.SetEventsHeld(true);
  host_.SetTimer(TIMER_BOX_PAUSE, ms);
}

void BoxLink::EndPause() {
  host_.KillTimer(TIMER_BOX_PAUSE);
  const Pause ended = pause_;
  pause_ = Pause::kNone;
  switch (ended) {
    case Pause::kNone: return;  // a tick already queued when the link stopped
    case Pause::kBeforeFrame: SendFrame(); break;
    case Pause::kBeforeJudging: JudgeDownload(); break;
    case Pause::kAfterDownload: FinishDownload(); break;
    case Pause::kAfterUploadRequest:
      receiveBuffer_.clear();
      host_.SetTimer(TIMER_UPLOAD_TIMEOUT, timing_.uploadTimeoutMs);
      break;
    case Pause::kAfterUpload: FinishUpload(); break;
  }
  if (Paused()) return;  // the step began the next pause: what is held stays held
  comm_.SetEventsHeld(false);
  std::vector<int> ticks;
  ticks.swap(heldTimers_);
  for (int id : ticks) OnTimer(id);
}

void BoxLink::SendFrame() {
  awaitingAccept_ = true;
  acceptSeen_ = false;
  downloadPending_ = true;
  comm_.SetInputLen(0);
  comm_.SetOutput(frame_);
  frameSent_ = true;
}

void BoxLink::JudgeDownload() {
  const int n = comm_.GetInBufferCount();
  ScanForAccept(comm_.GetInput(), n);
  host_.SetStatusText(acceptSeen_ ? text::kDownloadOk : text::kDownloadFailed);
  downloadOk_ = acceptSeen_;
  if (downloadOk_) host_.TransferProgressed({TransferKind::kDownload, 1, 1});
  readBackNext_ = acceptSeen_ && verify_;
  BeginPause(Pause::kAfterDownload, timing_.boxSettleMs);
}

void BoxLink::FinishDownload() {
  acceptSeen_ = false;
  awaitingAccept_ = false;
  if (readBackNext_) {
    // Proof on the box: its frame is asked for as an upload would, and compared with what
    // was sent; the window's programme is not touched.
    readBackNext_ = false;
    transfer_ = Transfer::kReadBack;
    host_.SetStatusText(std::string(text::kDownloadOk) + text::kVerifying);
    host_.TransferProgressed({TransferKind::kReadBack, 0, 1});
    RequestFrame();
    return;
  }
  transfer_ = Transfer::kNone;
  EnableButtons(true);
  RestartStatusReset();
  host_.SetTimer(TIMER_LINK_WATCH, timing_.linkWatchMs);
  TransferOutcome o = TransferOutcome::Ended(TransferKind::kDownload, downloadOk_);
  o.deviceTouched = !downloadOk_ && frameSent_;  // the box may have taken the frame without its 'Z' reaching us
  host_.TransferEnded(o);
}

void BoxLink::EndReadBack(VerifyOutcome outcome, const VerifyDifference& difference) {
  readBackOutcome_ = outcome;
  readBackDifference_ = difference;
  if (outcome != VerifyOutcome::kReadBackFailed) host_.TransferProgressed({TransferKind::kReadBack, 1, 1});
  host_.SetStatusText(VerifyStatusText(outcome));
  collecting_ = false;
  EndBoxUpload();
  if (const std::string told = VerifyMessage(outcome, difference, model_.Catalogue()); !told.empty()) host_.ShowMessage(told);
}

void BoxLink::NoteLinkActivity(const std::vector<uint8_t>& bytes) {
  if (!linkUp_ && !bytes.empty() && bytes.front() == CMD_BOX_PRESENCE) {
    host_.SetLampState(1);
    linkUp_ = true;
    host_.KillTimer(TIMER_PORT_SCAN);
    host_.SetTimer(TIMER_LINK_WATCH, timing_.linkWatchMs);
    // A box found while an upload runs (F6 works without a link) must not free the buttons
    // before that upload ends.
    EnableButtons(!TransferRunning());
  }
  if (linkUp_) activity_ = true;
}

void BoxLink::AppendReceived(const std::vector<uint8_t>& bytes, int count) {
  receiveBuffer_.insert(receiveBuffer_.end(), bytes.begin(), bytes.begin() + long(Usable(bytes, count)));
}

void BoxLink::ScanForAccept(const std::vector<uint8_t>& bytes, int count) {
  if (!awaitingAccept_) return;
  const auto end = bytes.begin() + long(Usable(bytes, count));
  if (std::find(bytes.begin(), end, CMD_BOX_ACCEPT) != end) acceptSeen_ = true;
}

void BoxLink::AcceptBoxFrame() {
  if (receiveBuffer_.size() < kBoxFrameBytes) return;
  if (transfer_ == Transfer::kReadBack) {
    // A frame whose sums fail was damaged on the way: that is a failed read-back, not a
    // programme the box holds.
    if (!BoxFrameValid(receiveBuffer_.data())) {
      EndReadBack(VerifyOutcome::kReadBackFailed, {});
      return;
    }
    const VerifyDifference d = CompareBoxFrames(frame_.data(), receiveBuffer_.data());
    EndReadBack(d.Same() ? VerifyOutcome::kSame : VerifyOutcome::kMismatch, d);
    return;
  }
  ParamOptions options;
  ParamTable table;
  if (!ParseBoxFrame(receiveBuffer_.data(), options, table)) {
    host_.SetStatusText(text::kUploadFailed);
    collecting_ = false;
    EndBoxUpload();
    return;
  }
  model_.options = options;
  model_.highlightRow = 0;
  model_.table = table;
  model_.RefreshRows();
  model_.highlightRow = uint8_t(model_.lastRow);
  model_.ClampHighlight();
  host_.ShowCounts();
  host_.SetStatusText(text::kUploadOk);
  uploadOk_ = true;
  host_.TransferProgressed({TransferKind::kUpload, 1, 1});
  collecting_ = false;
  EndBoxUpload();
}

void BoxLink::SendBoxFrame() {
  SealBoxHeader(model_.options);
  const BoxFrame frame = BuildBoxFrame(model_.options, model_.table);
  frame_.assign(frame.begin(), frame.end());
}

void BoxLink::EndBoxUpload() {
  host_.KillTimer(TIMER_UPLOAD_TIMEOUT);
  receiveBuffer_.clear();
  // A request whose send event never came (no port open) must not turn a later download's
  // send event into the start of an upload answer.
  uploadRequested_ = false;
  BeginPause(Pause::kAfterUpload, timing_.boxSettleMs);
}

void BoxLink::FinishUpload() {
  const Transfer ended = transfer_;
  transfer_ = Transfer::kNone;
  EnableButtons(true);
  RestartStatusReset();
  host_.SetTimer(TIMER_LINK_WATCH, timing_.linkWatchMs);
  if (ended == Transfer::kReadBack)
    host_.TransferEnded(TransferOutcome::ReadBackEnded(readBackOutcome_, readBackDifference_));
  else if (ended == Transfer::kUpload)
    host_.TransferEnded(TransferOutcome::Ended(TransferKind::kUpload, uploadOk_));
}

void BoxLink::UploadTimedOut() {
  if (transfer_ == Transfer::kReadBack) {
    EndReadBack(VerifyOutcome::kReadBackFailed, {});
    return;
  }
  if (transfer_ != Transfer::kUpload) return;  // a tick already queued when the upload ended
  host_.SetStatusText(text::kUploadFailed);
  collecting_ = false;
  EndBoxUpload();
}

void BoxLink::OnDownload() {
  if (!linkUp_) return;
  if (TransferRunning()) return;  // F7 reaches here while the buttons are disabled
  host_.KillTimer(TIMER_LINK_WATCH);
  EnableButtons(false);
  transfer_ = Transfer::kDownload;
  downloadOk_ = false;
  frameSent_ = false;
  host_.TransferProgressed({TransferKind::kDownload, 0, 1});
  comm_.SetInputLen(0);
  comm_.SetOutput({CMD_BOX_DOWNLOAD});
  // The frame is the programme as it is now: a host blocked in the pause could not have been
  // edited before sending it.
  SendBoxFrame();
  BeginPause(Pause::kBeforeFrame, timing_.boxFramePauseMs);
}

void BoxLink::OnUpload() {
  if (TransferRunning()) return;  // F6 reaches here while the buttons are disabled
  EnableButtons(false);
  host_.KillTimer(TIMER_LINK_WATCH);
  transfer_ = Transfer::kUpload;
  uploadOk_ = false;
  host_.TransferProgressed({TransferKind::kUpload, 0, 1});
  RequestFrame();
}

void BoxLink::RequestFrame() {
  uploadRequested_ = true;
  comm_.SetInBufferCount(0);
  comm_.SetOutput({CMD_BOX_UPLOAD});
  BeginPause(Pause::kAfterUploadRequest, timing_.boxUploadPauseMs);
}

void BoxLink::EnableButtons(bool enable) { host_.SetButtonStates(ButtonStatesFor(linkUp_, enable)); }

void BoxLink::RestartStatusReset() {
  host_.KillTimer(TIMER_STATUS_RESET);
  host_.SetTimer(TIMER_STATUS_RESET, timing_.statusResetMs);
}

}  // namespace km27
