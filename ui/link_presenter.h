#pragma once
#include <array>
#include <optional>
#include <string>

#include "link/event_loop.h"
#include "link/link_observer.h"
#include "link/loop_timer.h"
#include "store/transfer_log.h"

class CParamDlg;

namespace km27::ui {

// The eight command buttons, in the window's order.
enum CommandButton {
  kButtonUpload = 0,   // 1011
  kButtonDownload,     // 1012
  kButtonClear,        // 1017
  kButtonExit,         // 1019
  kButtonMoveUp,       // 1013
  kButtonMoveDown,     // 1014
  kButtonDelete,       // 1015
  kButtonAdd,          // 1016
  kButtonCount
};

struct ButtonStates {
  std::array<bool, kButtonCount> enabled{};
  bool focusUpload = false;
};

// Link up: all eight follow `enable` (focus to Upload). Link down: Upload and Download off,
// the other six on, whatever `enable` says.
ButtonStates ButtonStatesFor(bool linkUp, bool enable);

// What the window shows of its link: the lamp, the buttons, the status line (and the welcome
// text back a while after a transfer) and the message boxes, from the engine's facts. What an
// upload brought and the check byte a download sealed go to the window's programme.
class LinkPresenter : public LinkObserver {
 public:
  LinkPresenter(CParamDlg& window, EventLoop& loop, int statusResetMs);

  void LinkFound(const LinkPlace& place) override;
  void LinkLost(const LinkPlace& place) override;
  void TransferStarted(TransferKind kind, int blocks) override;
  void TransferProgressed(const TransferProgress& p) override;
  void DownloadSealed(uint8_t checkByte) override;
  void TransferJudged(const TransferOutcome& o) override;
  void ProgrammeReceived(const ReceivedProgramme& received) override;
  void TransferEnded(const TransferOutcome& o) override;
  void LinkFailed(LinkFailure cause, int systemError) override;

  // The welcome text comes back `ms` after now (by default the status period).
  void RestartStatusReset(int ms = -1);
  bool StatusResetActive() const { return statusReset_.Active(); }
  void StatusResetDue();
  void SetStatusResetMs(int ms) { statusResetMs_ = ms; }
  void Stop() { statusReset_.Stop(); }
  // The window closes with a transfer whose end no one will tell: it is logged as interrupted.
  void AbandonTransfer();

 private:
  void EnableButtons(bool enable);
  void LogTransfer();

  CParamDlg& window_;
  int statusResetMs_;
  LoopTimer statusReset_;
  bool linkUp_ = false;
  bool transferRunning_ = false;
  LinkPlace place_;
  std::optional<TransferRecord> record_;  // of the download or upload under way
  bool readingBack_ = false;
};

}  // namespace km27::ui
