#include "link/transmitter_link.h"

#include <cstring>
#include <system_error>

#include "link/transfer_frame.h"
#include "model/status_texts.h"

namespace km27 {

TransmitterLink::TransmitterLink(ParamModel& model, LinkHost& host, const std::optional<DeviceInfo>& info,
                                 LinkTiming timing)
    : model_(model), host_(host), startInfo_(info), timing_(timing) {}

TransmitterLink::~TransmitterLink() { Stop(); }

void TransmitterLink::SetComEnvironment(const ComEnvironment& env) {
  std::lock_guard<std::mutex> lock(envLock_);
  env_ = env;
  envSet_ = true;
}

ComEnvironment TransmitterLink::CurrentComEnvironment() {
  std::lock_guard<std::mutex> lock(envLock_);
  return envSet_ ? env_ : ComEnvironment::FromProcess();
}

// ---- window side -------------------------------------------------------------------------

void TransmitterLink::Start() {
  LinkRunning = true;
  image_.Clear();
  infoKnown_ = startInfo_.has_value();
  if (infoKnown_) image_.SetInfo(*startInfo_);
  host_.SetTimer(TIMER_LINK_START, timing_.linkStartMs);
}

void TransmitterLink::OnTimer(int id) {
  if (id != TIMER_LINK_START) return;
  host_.KillTimer(TIMER_LINK_START);
  StartLinkMonitor();
}

bool TransmitterLink::StartLinkMonitor() {
  if (monitor_.joinable() || !LinkRunning) return true;
  try {
    monitor_ = std::thread(&TransmitterLink::LinkMonitorThread, this);
  } catch (const std::system_error&) {
    host_.ShowMessage(text::kThreadStartFailed);
  }
  return true;
}

void TransmitterLink::EnableButtons(bool enable) { host_.SetButtonStates(ButtonStatesFor(linkUp_, enable)); }

void TransmitterLink::RestartStatusReset() {
  host_.KillTimer(TIMER_STATUS_RESET);
  host_.SetTimer(TIMER_STATUS_RESET, timing_.statusResetMs);
}

void TransmitterLink::OnDownload() {
  if (!linkUp_) return;
  // The keys reach us even while the buttons are off: a second transfer would rewrite the
  // image under the running one.
  if (transferRunning_ || !LinkRunning) return;
  host_.KillTimer(TIMER_LINK_WATCH);
  EnableButtons(false);
  image_.BuildFrom(model_.options, model_.table);
  verifyThis_ = verify_;
  StartTransfer(Transfer::kDownload);
}

void TransmitterLink::OnUpload() {
  if (transferRunning_ || !LinkRunning) return;
  EnableButtons(false);
  host_.KillTimer(TIMER_LINK_WATCH);
  StartTransfer(Transfer::kUpload);
}

void TransmitterLink::StartTransfer(Transfer kind) {
  // The previous transfer has reported; its thread is at most returning.
  if (transfer_.joinable()) transfer_.join();
  bool download = kind == Transfer::kDownload;
  downloading_ = download;
  if (download) {
    deviceTouched_ = false;
    infoFromDevice_ = infoUnreadable_ = false;
  }
  try {
    transferRunning_ = true;
    transfer_ = std::thread(download ? &TransmitterLink::DownloadThread : &TransmitterLink::UploadThread, this);
  } catch (const std::system_error&) {
    transferRunning_ = false;
    host_.ShowMessage(text::kThreadStartFailed);
    return;
  }
  host_.SetStatusText(TransferProgressText(download, 0, kTransferBlocks, 1));
}

void TransmitterLink::OnLinkResult(int wParam, int lParam) {
  switch (wParam) {
    case kReportLinkState:
      ++linkReports_;
      if (lParam == lastLinkState_) return;
      lastLinkState_ = lParam;
      linkUp_ = lParam != 0;
      host_.SetLampState(lParam);
      EnableButtons(lParam != 0);
      return;
    case kReportDownload: {
      std::string status = lParam == 1 ? text::kDownloadOk : text::kDownloadFailed;
      if (infoUnreadable_) status += text::kInfoNotRead;
      if (infoFromDevice_) status += text::kInfoFromDevice;
      host_.SetStatusText(status);
      // A download that is read back next keeps the buttons off until its verdict.
      if (lParam == 1 && verifyThis_) return;
      transferRunning_ = false;
      EnableButtons(true);
      RestartStatusReset();
      TransferOutcome o = TransferOutcome::Ended(TransferKind::kDownload, lParam == 1);
      o.deviceTouched = lParam != 1 && deviceTouched_;
      o.infoFromDevice = infoFromDevice_;
      o.infoUnreadable = infoUnreadable_;
      host_.TransferEnded(o);
      return;
    }
    case kReportUpload:
      transferRunning_ = false;
      host_.SetStatusText(lParam == 1 ? text::kUploadOk : text::kUploadFailed);
      if (lParam == 1) {
        ApplyTransmitterImage();
      } else {
        EnableButtons(true);
        RestartStatusReset();
      }
      host_.TransferEnded(TransferOutcome::Ended(TransferKind::kUpload, lParam == 1));
      return;
    default:
      return;
  }
}

void TransmitterLink::ApplyTransmitterImage() {
  infoKnown_ = true;  // what the device holds is what later downloads send back
  image_.ExchangeMasks();
  for (int f = 0; f < 4; ++f) model_.options.SetMaskByte(f, image_.bytes[kImageMaskOffset + size_t(f)]);
  host_.DeviceInfoReceived(image_.Info());
  image_.ExchangeBlocks();
  std::memcpy(model_.table.bytes.data(), image_.bytes.data() + kImageTableOffset, kTableBytes);
  model_.RefreshRows();
  model_.ClampHighlight();
  host_.ShowCounts();
  EnableButtons(true);
  RestartStatusReset();
}

void TransmitterLink::OnVerifyResult(VerifyOutcome outcome, const VerifyDifference& difference) {
  transferRunning_ = false;
  host_.SetStatusText(VerifyStatusText(outcome) + (infoFromDevice_ ? text::kInfoFromDevice : ""));
  EnableButtons(true);
  RestartStatusReset();
  if (const std::string told = VerifyMessage(outcome, difference, model_.Catalogue()); !told.empty()) host_.ShowMessage(told);
  TransferOutcome o = TransferOutcome::ReadBackEnded(outcome, difference);
  o.infoFromDevice = infoFromDevice_;
  host_.TransferEnded(o);
}

void TransmitterLink::Stop() {
  if (stopped_) return;
  stopped_ = true;
  LinkRunning = false;
  LinkPort.Abort();  // cuts a read, write or pause short
  if (monitor_.joinable()) monitor_.join();
  if (transfer_.joinable()) transfer_.join();
  std::lock_guard<std::mutex> lock(LinkLock);
  LinkPort.Close();
}

// ---- worker side -------------------------------------------------------------------------

bool TransmitterLink::Pause(int ms) { return LinkPort.Sleep(ms) && LinkRunning; }

bool TransmitterLink::Report(const std::function<void()>& fn) {
  if (!LinkRunning) return false;
  return host_.RunOnWindowThread(fn);
}

void TransmitterLink::ReportProgress(Stage stage, int blocksDone, int attempt) {
  std::string s;
  TransferKind kind = TransferKind::kUpload;
  switch (stage) {
    case Stage::kReadBack:
      s = VerifyProgressText(blocksDone, kTransferBlocks, attempt);
      kind = TransferKind::kReadBack;
      break;
    case Stage::kDeviceInfo:
      s = DeviceInfoProgressText(blocksDone, kTransferBlocks, attempt);
      kind = TransferKind::kDeviceInfo;
      break;
    case Stage::kDownload:
    case Stage::kUpload:
      s = TransferProgressText(stage == Stage::kDownload, blocksDone, kTransferBlocks, attempt);
      kind = stage == Stage::kDownload ? TransferKind::kDownload : TransferKind::kUpload;
      break;
  }
  const TransferProgress p{kind, blocksDone, kTransferBlocks, attempt};
  Report([this, s, p] {
    host_.SetStatusText(s);
    host_.TransferProgressed(p);
  });
}

void TransmitterLink::ClosePort() {
  LinkPort.Close();
  linkCom_ = 0;
}

bool TransmitterLink::OpenTransmitterPort(int n, const std::string& devicePath) {
  if (!OpenComPort(LinkPort, n, devicePath, &inUse_)) return false;
  SerialTimeouts t;
  t.readIntervalMs = timing_.readIntervalMs;
  t.readTotalPerByteMs = timing_.readTotalPerByteMs;
  t.readTotalConstantMs = timing_.readTotalConstantMs;
  t.writeTotalPerByteMs = timing_.writeTotalPerByteMs;
  t.writeTotalConstantMs = timing_.writeTotalConstantMs;
  LinkPort.SetTimeouts(t);
  bool ok = LinkPort.SetLine(kTransmitterInitBaud, Parity::None, 8, 1) && LinkPort.SetRts(false) &&
            Pause(timing_.openBreakMs);
  if (ok) {
    LinkPort.Write(&kWakeByte, 1);
    LinkPort.Drain();  // the byte must leave at 9600 before the speed changes
    ok = Pause(timing_.openBreakMs) && LinkPort.SetRts(true) && Pause(timing_.openRtsSettleMs) &&
         LinkPort.SetBaud(kTransmitterBaud) && LinkPort.Purge(true, true);
  }
  if (!ok) ClosePort();
  return ok;
}

bool TransmitterLink::SendRequest(const std::vector<uint8_t>& frame) {
  // Whatever waits before a request (the answer to the closing identification frame, or one
  // that came after its read gave up) is no answer to it: read it, and every later answer is
  // read one exchange late.
  LinkPort.Purge(true, false);
  IoResult w = LinkPort.Write(frame.data(), frame.size());
  return w.Ok() && w.count == frame.size();
}

bool TransmitterLink::IdentifyExchange(bool pauseFirst) {
  static const Frame poll = BuildIdentifyFrame();
  if (pauseFirst && !Pause(timing_.exchangePauseMs)) return false;
  if (!SendRequest(poll)) return false;
  if (!Pause(timing_.exchangePauseMs)) return false;
  uint8_t answer[kShortFrameBytes] = {};
  IoResult r = LinkPort.Read(answer, sizeof answer);
  if (r.Ok() && IsIdentifyAnswer(answer, r.count)) return true;
  if (r.count > 0) ++spoiledAnswers_;
  return false;
}

void TransmitterLink::LinkMonitorThread() {
  while (LinkRunning) {
    {
      std::lock_guard<std::mutex> lock(LinkLock);
      int result = 0;
      if (!LinkPort.IsOpen()) {
        std::vector<std::string> paths = ComDevicePaths(kTransmitterComPorts, CurrentComEnvironment());
        for (int n = 1; n <= kTransmitterComPorts && LinkRunning; ++n) {
          if (!OpenTransmitterPort(n, paths[size_t(n - 1)])) continue;
          if (IdentifyExchange(true)) {
            result = 1;
            linkCom_ = n;
            break;
          }
          ClosePort();
        }
      } else if (IdentifyExchange(false)) {
        result = 1;
      } else {
        ClosePort();  // a silent or vanished device: scan again from COM1 next cycle
      }
      Report([this, result] { OnLinkResult(kReportLinkState, result); });
    }
    Pause(timing_.exchangePauseMs);
  }
}

bool TransmitterLink::Exchange(Stage stage, int blocksDone, bool reportFirst, const Frame& request,
                               std::vector<uint8_t>& answer, const std::function<bool(const uint8_t*, size_t)>& accepted) {
  for (int attempt = 1; attempt <= kExchangeAttempts && LinkRunning; ++attempt) {
    if (reportFirst || attempt > 1) ReportProgress(stage, blocksDone, attempt);
    if (!Pause(timing_.exchangePauseMs)) return false;
    if (!SendRequest(request)) continue;
    if (!Pause(timing_.exchangePauseMs)) return false;
    std::fill(answer.begin(), answer.end(), 0);
    IoResult r = LinkPort.Read(answer.data(), answer.size());
    if (r.Ok() && accepted(answer.data(), r.count)) return true;
  }
  return false;
}

void TransmitterLink::SendIdentifyFrame() {
  static const Frame poll = BuildIdentifyFrame();
  LinkPort.Write(poll.data(), poll.size());
}

bool TransmitterLink::OpeningStage(Stage stage) {
  static const Frame open = BuildOpenFrame();
  std::vector<uint8_t> answer(kOpenAnswerBytes);
  // Its first try is no block of its own: the transfer's start has already said 0.
  return Exchange(stage, 0, false, open, answer, IsOpenAnswer);
}

bool TransmitterLink::ReadImage(Stage stage, TransmitterImage& into) {
  if (!OpeningStage(stage)) return false;
  std::vector<uint8_t> answer(kBlockFrameBytes);
  for (int k = 0; k < kTransferBlocks; ++k) {
    const auto isBlock = [k](const uint8_t* a, size_t n) { return IsReadAnswer(a, n, k); };
    if (!Exchange(stage, k, true, BuildReadBlockFrame(k), answer, isBlock)) return false;
    into.StoreBlock(k, answer.data() + kPayloadOffset);
  }
  return true;
}

void TransmitterLink::DownloadThread() {
  int result = 1;
  bool readBack = false;
  TransmitterImage back;
  VerifyOutcome outcome = VerifyOutcome::kReadBackFailed;
  {
    std::lock_guard<std::mutex> lock(LinkLock);
    if (!infoKnown_) {
      // No device information of ours to send, and zeros in its place would wipe the device's
      // own: read it as an upload does and send it back unchanged. Unreadable: nothing is sent.
      TransmitterImage own;
      const bool read = ReadImage(Stage::kDeviceInfo, own);
      if (Pause(timing_.identifyPauseMs)) SendIdentifyFrame();
      if (read) {
        image_.SetInfo(own.Info());
        infoFromDevice_ = true;
      } else {
        infoUnreadable_ = true;
        result = 0;
      }
    }
    if (result == 1 && !OpeningStage(Stage::kDownload)) result = 0;
    std::vector<uint8_t> ack(kShortFrameBytes);
    for (int k = 0; result == 1 && k < kTransferBlocks; ++k) {
      const auto payload = image_.BlockPayload(k);
      const auto isAck = [k](const uint8_t* a, size_t n) { return IsWriteAck(a, n, k); };
      if (Exchange(Stage::kDownload, k, true, BuildWriteBlockFrame(k, payload.data()), ack, isAck))
        deviceTouched_ = true;
      else
        result = 0;
    }
    if (!infoUnreadable_ && Pause(timing_.identifyPauseMs)) SendIdentifyFrame();
    // Proof on the device: the same exchange as an upload, into an image of its own, so that
    // nothing of the window's programme or files can change.
    if (result == 1 && verifyThis_ && LinkRunning) {
      readBack = true;
      Report([this] { OnLinkResult(kReportDownload, 1); });
      if (ReadImage(Stage::kReadBack, back)) outcome = VerifyOutcome::kSame;
      if (Pause(timing_.identifyPauseMs)) SendIdentifyFrame();
    }
  }
  if (!readBack) {
    Report([this, result] { OnLinkResult(kReportDownload, result); });
    return;
  }
  VerifyDifference difference;
  if (outcome == VerifyOutcome::kSame) {
    difference = CompareTransmitterImages(image_, back);
    if (!difference.Same()) outcome = VerifyOutcome::kMismatch;
  }
  Report([this, outcome, difference] { OnVerifyResult(outcome, difference); });
}

void TransmitterLink::UploadThread() {
  int result = 1;
  {
    std::lock_guard<std::mutex> lock(LinkLock);
    if (!ReadImage(Stage::kUpload, image_)) result = 0;
    if (Pause(timing_.identifyPauseMs)) SendIdentifyFrame();
  }
  Report([this, result] { OnLinkResult(kReportUpload, result); });
}

}  // namespace km27
