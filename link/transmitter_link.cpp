#include "link/transmitter_link.h"

#include <cstring>
#include <system_error>

#include "link/transfer_frame.h"

namespace km27 {

TransmitterLink::TransmitterLink(EventLoop& loop, LinkObserver& observer, const std::optional<DeviceInfo>& info,
                                 LinkTiming timing, std::unique_ptr<Port> port)
    : observer_(observer),
      startInfo_(info),
      timing_(timing),
      startTimer_(loop, [this] { SearchNow(); }),
      ownPort_(port ? std::move(port) : NewComPort()) {
  auto self = std::make_shared<std::weak_ptr<WindowCallQueue>>();
  calls_ = std::make_shared<WindowCallQueue>([&loop, self] {
    loop.Post([queue = *self] {
      if (auto q = queue.lock()) q->RunPending();
    });
  });
  *self = calls_;
}

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

// ---- loop side ---------------------------------------------------------------------------

void TransmitterLink::Start() {
  LinkRunning = true;
  image_.Clear();
  infoKnown_ = startInfo_.has_value();
  if (infoKnown_) image_.SetInfo(*startInfo_);
  startTimer_.Start(timing_.linkStartMs, false);
}

void TransmitterLink::SearchNow() {
  startTimer_.Stop();
  StartLinkMonitor();
}

bool TransmitterLink::StartLinkMonitor() {
  if (monitor_.joinable() || !LinkRunning) return true;
  try {
    monitor_ = std::thread(&TransmitterLink::LinkMonitorThread, this);
  } catch (const std::system_error& e) {
    observer_.LinkFailed(LinkFailure::kThreadStart, e.code().value());
  }
  return true;
}

void TransmitterLink::OnDownload(const Programme& programme) {
  if (!linkUp_) return;
  // The keys reach us even while the buttons are off: a second transfer would rewrite the
  // image under the running one.
  if (transferRunning_ || !LinkRunning) return;
  image_.BuildFrom(programme.options, programme.table);
  verifyThis_ = verify_;
  StartTransfer(Transfer::kDownload);
}

void TransmitterLink::OnUpload() {
  if (transferRunning_ || !LinkRunning) return;
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
  observer_.TransferStarted(download ? TransferKind::kDownload : TransferKind::kUpload, kTransferBlocks);
  try {
    transferRunning_ = true;
    transfer_ = std::thread(download ? &TransmitterLink::DownloadThread : &TransmitterLink::UploadThread, this);
  } catch (const std::system_error& e) {
    transferRunning_ = false;
    observer_.LinkFailed(LinkFailure::kThreadStart, e.code().value());
  }
}

void TransmitterLink::OnLinkResult(int wParam, int lParam) {
  switch (wParam) {
    case kReportDownload: {
      TransferOutcome o = TransferOutcome::Ended(TransferKind::kDownload, lParam == 1);
      o.deviceTouched = lParam != 1 && deviceTouched_;
      o.infoFromDevice = infoFromDevice_;
      if (infoFromDevice_) o.ownInfo = ownInfo_;
      o.infoUnreadable = infoUnreadable_;
      observer_.TransferJudged(o);
      // A download that is read back next is not over until its verdict.
      if (lParam == 1 && verifyThis_) return;
      transferRunning_ = false;
      observer_.TransferEnded(o);
      return;
    }
    case kReportUpload: {
      transferRunning_ = false;
      const TransferOutcome o = TransferOutcome::Ended(TransferKind::kUpload, lParam == 1);
      observer_.TransferJudged(o);
      if (lParam == 1) ApplyTransmitterImage();
      observer_.TransferEnded(o);
      return;
    }
    default:
      return;
  }
}

void TransmitterLink::OnLinkState(int state, const LinkPlace& place) {
  ++linkReports_;
  if (state == lastLinkState_) return;
  lastLinkState_ = state;
  linkUp_ = state != 0;
  if (linkUp_)
    observer_.LinkFound(place);
  else
    observer_.LinkLost(place);
}

void TransmitterLink::ApplyTransmitterImage() {
  infoKnown_ = true;  // what the device holds is what later downloads send back
  ReceivedProgramme received;
  received.masksOnly = true;
  image_.ExchangeMasks();
  for (int f = 0; f < 4; ++f) received.programme.options.SetMaskByte(f, image_.bytes[kImageMaskOffset + size_t(f)]);
  received.info = image_.Info();
  image_.ExchangeBlocks();
  std::memcpy(received.programme.table.bytes.data(), image_.bytes.data() + kImageTableOffset, kTableBytes);
  observer_.ProgrammeReceived(received);
}

void TransmitterLink::OnVerifyResult(VerifyOutcome outcome, const VerifyDifference& difference) {
  transferRunning_ = false;
  TransferOutcome o = TransferOutcome::ReadBackEnded(outcome, difference);
  o.infoFromDevice = infoFromDevice_;
  if (infoFromDevice_) o.ownInfo = ownInfo_;
  observer_.TransferJudged(o);
  observer_.TransferEnded(o);
}

void TransmitterLink::Stop() {
  if (stopped_) return;
  stopped_ = true;
  startTimer_.Stop();
  calls_->Close();  // a worker waiting for its report is released unrun
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
  return calls_->Call(fn);
}

void TransmitterLink::ReportProgress(Stage stage, int blocksDone, int attempt) {
  TransferKind kind = TransferKind::kUpload;
  switch (stage) {
    case Stage::kReadBack: kind = TransferKind::kReadBack; break;
    case Stage::kDeviceInfo: kind = TransferKind::kDeviceInfo; break;
    case Stage::kDownload: kind = TransferKind::kDownload; break;
    case Stage::kUpload: kind = TransferKind::kUpload; break;
  }
  const TransferProgress p{kind, blocksDone, kTransferBlocks, attempt};
  Report([this, p] { observer_.TransferProgressed(p); });
}

void TransmitterLink::ClosePort() {
  LinkPort.Close();
  linkCom_ = 0;
}

bool TransmitterLink::OpenTransmitterPort(int n, const std::string& devicePath) {
  if (!OpenComPort(LinkPort, n, devicePath, &inUse_)) return false;
  const LinkTiming line = timing_.OverNetwork(LinkPort.NetworkAllowanceMs(), 0);
  SerialTimeouts t;
  t.readIntervalMs = line.readIntervalMs;
  t.readTotalPerByteMs = line.readTotalPerByteMs;
  t.readTotalConstantMs = line.readTotalConstantMs;
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
      std::string device;
      if (!LinkPort.IsOpen()) {
        std::vector<std::string> paths = ComDevicePaths(kTransmitterComPorts, CurrentComEnvironment());
        for (int n = 1; n <= kTransmitterComPorts && LinkRunning; ++n) {
          if (!OpenTransmitterPort(n, paths[size_t(n - 1)])) continue;
          if (IdentifyExchange(true)) {
            result = 1;
            linkCom_ = n;
            device = paths[size_t(n - 1)];
            break;
          }
          ClosePort();
        }
      } else if (IdentifyExchange(false)) {
        result = 1;
      } else {
        ClosePort();  // a silent or vanished device: scan again from COM1 next cycle
      }
      const LinkPlace place{CodeTransmitter, linkCom_, device};
      Report([this, result, place] { OnLinkState(result, place); });
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
        ownInfo_ = own.Info();
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
