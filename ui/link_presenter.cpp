#include "ui/link_presenter.h"

#include "model/status_texts.h"
#include "model/transfer_texts.h"
#include "ui/param_dlg.h"

namespace km27::ui {

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

void LinkPresenter::LinkFound(const LinkPlace&) {
  linkUp_ = true;
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
  EnableButtons(false);
  // A transfer of one frame has no count to show.
  if (blocks > 1) window_.SetStatusText(TransferProgressText(kind == TransferKind::kDownload, 0, blocks, 1));
}

void LinkPresenter::TransferProgressed(const TransferProgress& p) {
  if (p.total <= 1) {
    if (p.kind == TransferKind::kReadBack && p.done == 0)
      window_.SetStatusText(std::string(text::kDownloadOk) + text::kVerifying);
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
  if (o.readBack) {
    window_.SetStatusText(VerifyStatusText(o.verify) + (o.infoFromDevice ? text::kInfoFromDevice : ""));
    if (const std::string told = VerifyMessage(o.verify, o.difference, window_.Catalogue()); !told.empty())
      window_.ShowMessage(told);
    return;
  }
  if (o.kind == TransferKind::kUpload) {
    window_.SetStatusText(o.ok ? text::kUploadOk : text::kUploadFailed);
    return;
  }
  std::string status = o.ok ? text::kDownloadOk : text::kDownloadFailed;
  if (o.infoUnreadable) status += text::kInfoNotRead;
  if (o.infoFromDevice) status += text::kInfoFromDevice;
  window_.SetStatusText(status);
}

void LinkPresenter::ProgrammeReceived(const ReceivedProgramme& received) { window_.ReceiveProgramme(received); }

void LinkPresenter::TransferEnded(const TransferOutcome& o) {
  transferRunning_ = false;
  EnableButtons(true);
  RestartStatusReset();
  if (o.kind != TransferKind::kDownload || o.ok) return;
  // What a failed download means for the device, when the status line alone would hide it.
  if (o.infoUnreadable)
    window_.ShowMessage(text::kInfoNotReadMessage);
  else if (o.deviceTouched)
    window_.ShowMessage(IsCodeTransmitter(window_.DeviceModel()) ? text::kPartialDownloadMessage
                                                                 : text::kUnconfirmedFrameMessage);
}

void LinkPresenter::LinkFailed(LinkFailure cause, int) {
  switch (cause) {
    case LinkFailure::kThreadStart:
      transferRunning_ = false;
      window_.ShowMessage(text::kThreadStartFailed);
      break;
  }
}

void LinkPresenter::RestartStatusReset(int ms) { statusReset_.Start(ms < 0 ? statusResetMs_ : ms); }

void LinkPresenter::StatusResetDue() {
  statusReset_.Stop();
  window_.SetStatusText(text::kWelcome);
}

}  // namespace km27::ui
