#include "link/box_link.h"

#include <algorithm>

#include "link/box_frame.h"
#include "port/com_names.h"

namespace km27 {

namespace {

// A count from the control never reaches past the bytes actually delivered.
size_t Usable(const std::vector<uint8_t>& bytes, int count) {
  return count <= 0 ? 0 : std::min(bytes.size(), size_t(count));
}
}  // namespace

BoxLink::BoxLink(EventLoop& loop, LinkObserver& observer, CommControl& comm, LinkTiming timing, PortProbe probe)
    : observer_(observer),
      comm_(comm),
      timing_(timing),
      probe_(probe ? std::move(probe) : PortProbe([](int n) { return ProbeComPort(n); })),
      scanTimer_(loop, [this] { OnTick(Tick::kScan); }),
      watchTimer_(loop, [this] { OnTick(Tick::kWatch); }),
      uploadTimer_(loop, [this] { OnTick(Tick::kUploadLimit); }),
      pauseTimer_(loop, [this] { EndPause(); }) {
  comm_.SetOnComm([this] { OnCommEvent(); });
}

BoxLink::~BoxLink() { comm_.SetOnComm(nullptr); }

void BoxLink::Start() {
  TryNextPort();
  scanTimer_.Start(timing_.portScanMs);
}

void BoxLink::Stop() {
  scanTimer_.Stop();
  watchTimer_.Stop();
  uploadTimer_.Stop();
  pauseTimer_.Stop();
  pause_ = Pause::kNone;
  heldTicks_.clear();
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

void BoxLink::OnTick(Tick tick) {
  if (Paused()) {
    // Expiries of one timer within a pause count once, as queued timer messages do.
    if (std::find(heldTicks_.begin(), heldTicks_.end(), tick) == heldTicks_.end()) heldTicks_.push_back(tick);
    return;
  }
  switch (tick) {
    case Tick::kScan:
      ++scanPeriods_;
      ScanStep();
      break;
    case Tick::kWatch: WatchStep(); break;
    case Tick::kUploadLimit: UploadTimedOut(); break;
  }
}

LinkPlace BoxLink::Place() const { return {CodeBox, portNumber_, ComDevicePath(portNumber_)}; }

void BoxLink::ScanStep() {
  if (linkUp_) return;  // a tick already queued when the link came up
  if (portOpen_) comm_.SetPortOpen(false);
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
  watchTimer_.Stop();
  const LinkPlace lost = Place();
  // A port may also be open without a link (an upload ran while scanning); leaving it open
  // would make the next open on COM1 act on a control that is still open.
  if (linkUp_ || portOpen_) comm_.SetPortOpen(false);
  // Only the link is reset: the carrier, family and highlighted row still match what the
  // radios and the grid show, so the next edit lands where the operator sees it.
  ResetLinkFields();
  observer_.LinkLost(lost);
  TryNextPort();
  scanTimer_.Start(timing_.portScanMs);
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
      const LinkTiming t = timing_.OverNetwork(comm_.NetworkAllowanceMs(), int(kBoxFrameBytes));
      BeginPause(Pause::kBeforeJudging, t.boxAcceptWaitMs);
    }
  }
}

void BoxLink::BeginPause(Pause next, int ms) {
  pause_ = next;
  comm_.SetEventsHeld(true);
  pauseTimer_.Start(ms, false);
}

void BoxLink::EndPause() {
  pauseTimer_.Stop();
  const Pause ended = pause_;
  pause_ = Pause::kNone;
  switch (ended) {
    case Pause::kNone: return;  // a tick already queued when the link stopped
    case Pause::kBeforeFrame: SendFrame(); break;
    case Pause::kBeforeJudging: JudgeDownload(); break;
    case Pause::kAfterDownload: FinishDownload(); break;
    case Pause::kAfterUploadRequest:
      receiveBuffer_.clear();
      uploadTimer_.Start(timing_.uploadTimeoutMs);
      break;
    case Pause::kAfterUpload: FinishUpload(); break;
  }
  if (Paused()) return;  // the step began the next pause: what is held stays held
  comm_.SetEventsHeld(false);
  std::vector<Tick> ticks;
  ticks.swap(heldTicks_);
  for (Tick t : ticks) OnTick(t);
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
  downloadOk_ = acceptSeen_;
  observer_.TransferJudged(TransferOutcome::Ended(TransferKind::kDownload, downloadOk_));
  if (downloadOk_) observer_.TransferProgressed({TransferKind::kDownload, 1, 1});
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
    observer_.TransferProgressed({TransferKind::kReadBack, 0, 1});
    RequestFrame();
    return;
  }
  transfer_ = Transfer::kNone;
  watchTimer_.Start(timing_.linkWatchMs);
  TransferOutcome o = TransferOutcome::Ended(TransferKind::kDownload, downloadOk_);
  o.deviceTouched = !downloadOk_ && frameSent_;  // the box may have taken the frame without its 'Z' reaching us
  observer_.TransferEnded(o);
}

void BoxLink::EndReadBack(VerifyOutcome outcome, const VerifyDifference& difference) {
  readBackOutcome_ = outcome;
  readBackDifference_ = difference;
  if (outcome != VerifyOutcome::kReadBackFailed) observer_.TransferProgressed({TransferKind::kReadBack, 1, 1});
  observer_.TransferJudged(TransferOutcome::ReadBackEnded(outcome, difference));
  collecting_ = false;
  EndBoxUpload();
}

void BoxLink::NoteLinkActivity(const std::vector<uint8_t>& bytes) {
  if (!linkUp_ && !bytes.empty() && bytes.front() == CMD_BOX_PRESENCE) {
    linkUp_ = true;
    scanTimer_.Stop();
    watchTimer_.Start(timing_.linkWatchMs);
    observer_.LinkFound(Place());
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

namespace {
// At most this many bytes of chatter are taken to stand in front of an answer's frame.
constexpr size_t kStrayBytesBeforeFrame = 16;
}  // namespace

void BoxLink::AcceptBoxFrame() {
  if (receiveBuffer_.size() < kBoxFrameBytes) return;
  // The box's chatter that was on its way when the request left comes in before the frame: a
  // byte crossing the request on a local line, what the network held on one. The frame is
  // looked for behind such bytes, and an answer counts as damaged only once no frame can be
  // behind them any more.
  size_t at = 0;
  while (at < kStrayBytesBeforeFrame && at + kBoxFrameBytes <= receiveBuffer_.size() &&
         !BoxFrameValid(receiveBuffer_.data() + at))
    ++at;
  if (at + kBoxFrameBytes > receiveBuffer_.size()) return;  // the frame may still be coming
  if (BoxFrameValid(receiveBuffer_.data() + at)) receiveBuffer_.erase(receiveBuffer_.begin(), receiveBuffer_.begin() + long(at));
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
    observer_.TransferJudged(TransferOutcome::Ended(TransferKind::kUpload, false));
    collecting_ = false;
    EndBoxUpload();
    return;
  }
  ReceivedProgramme received;
  received.programme = {options, table};
  observer_.ProgrammeReceived(received);
  uploadOk_ = true;
  observer_.TransferJudged(TransferOutcome::Ended(TransferKind::kUpload, true));
  observer_.TransferProgressed({TransferKind::kUpload, 1, 1});
  collecting_ = false;
  EndBoxUpload();
}

void BoxLink::EndBoxUpload() {
  uploadTimer_.Stop();
  receiveBuffer_.clear();
  // A request whose send event never came (no port open) must not turn a later download's
  // send event into the start of an upload answer.
  uploadRequested_ = false;
  BeginPause(Pause::kAfterUpload, timing_.boxSettleMs);
}

void BoxLink::FinishUpload() {
  const Transfer ended = transfer_;
  transfer_ = Transfer::kNone;
  watchTimer_.Start(timing_.linkWatchMs);
  if (ended == Transfer::kReadBack)
    observer_.TransferEnded(TransferOutcome::ReadBackEnded(readBackOutcome_, readBackDifference_));
  else if (ended == Transfer::kUpload)
    observer_.TransferEnded(TransferOutcome::Ended(TransferKind::kUpload, uploadOk_));
}

void BoxLink::UploadTimedOut() {
  if (transfer_ == Transfer::kReadBack) {
    EndReadBack(VerifyOutcome::kReadBackFailed, {});
    return;
  }
  if (transfer_ != Transfer::kUpload) return;  // a tick already queued when the upload ended
  observer_.TransferJudged(TransferOutcome::Ended(TransferKind::kUpload, false));
  collecting_ = false;
  EndBoxUpload();
}

void BoxLink::OnDownload(const Programme& programme) {
  if (!linkUp_) return;
  if (TransferRunning()) return;  // F7 reaches here while the buttons are disabled
  watchTimer_.Stop();
  transfer_ = Transfer::kDownload;
  downloadOk_ = false;
  frameSent_ = false;
  observer_.TransferStarted(TransferKind::kDownload, 1);
  observer_.TransferProgressed({TransferKind::kDownload, 0, 1});
  comm_.SetInputLen(0);
  comm_.SetOutput({CMD_BOX_DOWNLOAD});
  // The frame is the programme as it is now: a host blocked in the pause could not have been
  // edited before sending it. Its sealed check byte is the programme's from now on.
  ParamOptions sealed = programme.options;
  SealBoxHeader(sealed);
  const BoxFrame frame = BuildBoxFrame(sealed, programme.table);
  frame_.assign(frame.begin(), frame.end());
  observer_.DownloadSealed(sealed.CheckByte());
  BeginPause(Pause::kBeforeFrame, timing_.boxFramePauseMs);
}

void BoxLink::OnUpload() {
  if (TransferRunning()) return;  // F6 reaches here while the buttons are disabled
  watchTimer_.Stop();
  transfer_ = Transfer::kUpload;
  uploadOk_ = false;
  observer_.TransferStarted(TransferKind::kUpload, 1);
  observer_.TransferProgressed({TransferKind::kUpload, 0, 1});
  RequestFrame();
}

void BoxLink::RequestFrame() {
  uploadRequested_ = true;
  comm_.SetInBufferCount(0);
  comm_.SetOutput({CMD_BOX_UPLOAD});
  BeginPause(Pause::kAfterUploadRequest, timing_.boxUploadPauseMs);
}

}  // namespace km27
