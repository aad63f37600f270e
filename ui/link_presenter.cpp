#include "ui/link_presenter.h"

#include "model/fingerprint.h"
#include "model/status_texts.h"
#include "model/transfer_texts.h"
#include "ui/param_dlg.h"
#include "ui/programme_documents.h"

#include <QFileInfo>

#include "km27_version.h"

namespace km27::ui {

namespace {
// A record's words are the same whichever language the window speaks, as km27ctl's are: one log
// is read by everyone who works on the device.
std::string Logged(Msg id) { return TextIn(Language::kChinese, id); }

// The status texts start with a space that has no place in a record.
std::string Trimmed(std::string s) {
  const size_t first = s.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : s.substr(first);
}
}  // namespace

ButtonStates ButtonStatesFor(bool linkUp, bool enable) {
  ButtonStates s;
  if (linkUp) {
    s.enabled.fill(enable);
    s.focusUpload = true;
  } else {
    s.enabled.fill(true);
    s.enabled[kButtonUpload] = false;
    s.enabled[kButtonDownload] = false;
  }
  return s;
}

LinkPresenter::LinkPresenter(CParamDlg& window, EventLoop& loop, int statusResetMs)
    : window_(window), statusResetMs_(statusResetMs), statusReset_(loop, [this] { StatusResetDue(); }) {}

void LinkPresenter::EnableButtons(bool enable) { window_.SetButtonStates(ButtonStatesFor(linkUp_, enable)); }

void LinkPresenter::LinkFound(const LinkPlace& place) {
  linkUp_ = true;
  place_ = place;
  window_.SetLampState(1);
  // A device found while an upload runs (F6 works without a link) must not free the buttons
  // before that upload ends.
  EnableButtons(!transferRunning_);
}

void LinkPresenter::LinkLost(const LinkPlace&) {
  linkUp_ = false;
  window_.SetLampState(0);
  EnableButtons(false);
}

void LinkPresenter::TransferStarted(TransferKind kind, int blocks) {
  transferRunning_ = true;
  if (kind == TransferKind::kDownload || kind == TransferKind::kUpload) {
    TransferRecord r;
    r.program = "km27param";
    r.version = KM27_VERSION;
    r.action = kind == TransferKind::kDownload ? "download" : "upload";
    r.model = IsCodeTransmitter(window_.DeviceModel()) ? "KM27C" : "KM27A";
    r.com = place_.com;
    r.device = place_.device;
    if (const QString file = window_.Documents().DocumentPath(); !file.isEmpty())
      r.file = QFileInfo(file).absoluteFilePath().toStdString();
    // The engine took its copy of the window's programme just now: this is what is sent.
    if (kind == TransferKind::kDownload) {
      const Programme sent = window_.Param().Snapshot();
      r.programmeSha256 = ProgrammeFingerprint(sent.options, sent.table);
      if (DeviceInfo info{}; window_.DeviceInformation(info)) r.deviceInfoSha256 = Sha256Hex(info.data(), info.size());
    }
    record_ = r;
  }
  EnableButtons(false);
  // A transfer of one frame has no count to show.
  if (blocks > 1) window_.SetStatusText(TransferProgressText(kind == TransferKind::kDownload, 0, blocks, 1));
}

void LinkPresenter::TransferProgressed(const TransferProgress& p) {
  if (p.kind == TransferKind::kReadBack) readingBack_ = true;
  if (p.total <= 1) {
    if (p.kind == TransferKind::kReadBack && p.done == 0)
      window_.SetStatusText(std::string(text::kDownloadOk()) + text::kVerifying());
    return;
  }
  switch (p.kind) {
    case TransferKind::kReadBack: window_.SetStatusText(VerifyProgressText(p.done, p.total, p.attempt)); break;
    case TransferKind::kDeviceInfo: window_.SetStatusText(DeviceInfoProgressText(p.done, p.total, p.attempt)); break;
    case TransferKind::kDownload:
    case TransferKind::kUpload:
      window_.SetStatusText(TransferProgressText(p.kind == TransferKind::kDownload, p.done, p.total, p.attempt));
      break;
  }
}

void LinkPresenter::DownloadSealed(uint8_t checkByte) { window_.AdoptCheckByte(checkByte); }

void LinkPresenter::TransferJudged(const TransferOutcome& o) {
  if (o.readBack) readingBack_ = false;
  if (record_) {
    TransferRecord& r = *record_;
    r.verified = o.readBack && o.verify == VerifyOutcome::kSame;
    if (o.readBack) {
      r.result = o.verify == VerifyOutcome::kSame       ? "ok"
                 : o.verify == VerifyOutcome::kMismatch ? "verify_mismatch"
                                                        : "readback_failed";
      if (o.verify == VerifyOutcome::kMismatch) r.differences = DifferencesJsonText(o.difference);
    } else {
      r.result = o.ok ? "ok" : o.infoUnreadable ? "refused" : "transfer_failed";
    }
    if (o.readBack && o.verify != VerifyOutcome::kSame)
      r.error = Trimmed(Logged(o.verify == VerifyOutcome::kMismatch ? Msg::kVerifyMismatch : Msg::kVerifyFailed));
    else if (!o.ok)
      r.error = o.kind == TransferKind::kUpload ? "上传失败" : "下载失败";
    if (o.infoUnreadable) r.error = Logged(Msg::kInfoNotReadMessage);
    if (o.ownInfo) r.deviceInfoSha256 = Sha256Hex(o.ownInfo->data(), o.ownInfo->size());
  }
  if (o.readBack) {
    window_.SetStatusText(VerifyStatusText(o.verify) + (o.infoFromDevice ? text::kInfoFromDevice() : ""));
    if (const std::string told = VerifyMessage(o.verify, o.difference, window_.Catalogue()); !told.empty()) {
      if (o.verify == VerifyOutcome::kMismatch)
        window_.ShowMismatch(told, o.difference);
      else
        window_.ShowMessage(told);
    }
    return;
  }
  if (o.kind == TransferKind::kUpload) {
    window_.SetStatusText(o.ok ? text::kUploadOk() : text::kUploadFailed());
    return;
  }
  std::string status = o.ok ? text::kDownloadOk() : text::kDownloadFailed();
  if (o.infoUnreadable) status += text::kInfoNotRead();
  if (o.infoFromDevice) status += text::kInfoFromDevice();
  window_.SetStatusText(status);
}

void LinkPresenter::ProgrammeReceived(const ReceivedProgramme& received) {
  window_.ReceiveProgramme(received);
  if (!record_) return;
  // The programme as the window now holds it: the fingerprint it shows and prints from here on.
  const Programme now = window_.Param().Snapshot();
  record_->programmeSha256 = ProgrammeFingerprint(now.options, now.table);
  if (received.info) record_->deviceInfoSha256 = Sha256Hex(received.info->data(), received.info->size());
}

void LinkPresenter::TransferEnded(const TransferOutcome& o) {
  transferRunning_ = false;
  if (record_ && record_->result.empty()) record_->result = o.ok ? "ok" : "transfer_failed";
  LogTransfer();
  EnableButtons(true);
  RestartStatusReset();
  if (o.kind != TransferKind::kDownload || o.ok) return;
  // What a failed download means for the device, when the status line alone would hide it.
  if (o.infoUnreadable)
    window_.ShowMessage(text::kInfoNotReadMessage());
  else if (o.deviceTouched)
    window_.ShowMessage(IsCodeTransmitter(window_.DeviceModel()) ? text::kPartialDownloadMessage()
                                                                 : text::kUnconfirmedFrameMessage());
}

void LinkPresenter::LinkFailed(LinkFailure cause, int) {
  switch (cause) {
    case LinkFailure::kThreadStart:
      transferRunning_ = false;
      if (record_) {
        record_->result = "transfer_failed";
        record_->error = text::kThreadStartFailed();
      }
      LogTransfer();
      window_.ShowMessage(text::kThreadStartFailed());
      break;
  }
}

void LinkPresenter::LogTransfer() {
  readingBack_ = false;
  if (!record_) return;
  window_.LogTransfer(*record_);
  record_.reset();
}

void LinkPresenter::AbandonTransfer() {
  if (!record_) return;
  // A verdict already given stands (the code box pauses after it); anything still under way,
  // a read-back included, was cut short.
  if (record_->result.empty() || readingBack_) {
    record_->result = "interrupted";
    record_->verified = false;
    record_->error = "窗口关闭时传输被中断";
  }
  LogTransfer();
}

void LinkPresenter::RestartStatusReset(int ms) { statusReset_.Start(ms < 0 ? statusResetMs_ : ms); }

void LinkPresenter::StatusResetDue() {
  statusReset_.Stop();
  window_.SetStatusText(text::kWelcome());
}

}  // namespace km27::ui
