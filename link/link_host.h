#pragma once
#include <array>
#include <functional>
#include <string>

#include "link/verify.h"
#include "model/device_info_bytes.h"

namespace km27 {

// Window timer ids; one handler on the window dispatches them by id.
inline constexpr int TIMER_PORT_SCAN = 101;       // code box: try the next COM port
inline constexpr int TIMER_LINK_WATCH = 104;      // code box: link watchdog
inline constexpr int TIMER_STATUS_RESET = 105;    // both: welcome text back after a transfer
inline constexpr int TIMER_UPLOAD_TIMEOUT = 109;  // code box: upload time limit
inline constexpr int TIMER_LINK_START = 110;      // code transmitter: start the link monitor
inline constexpr int TIMER_BOX_PAUSE = 111;       // code box: end of a timed pause within a transfer

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

// Which transfer a report speaks of; kReadBack is a download's proof on the device, kDeviceInfo
// the code transmitter's own information read before a download that has none of ours to send.
enum class TransferKind { kDownload, kUpload, kReadBack, kDeviceInfo };

// How far a transfer has come, in blocks (the code box's frame counts as one block).
struct TransferProgress {
  TransferKind kind = TransferKind::kDownload;
  int done = 0;
  int total = 0;
  int attempt = 1;  // of the block under way
};

// How a download or an upload ended, once the link is ready for the next command.
struct TransferOutcome {
  TransferKind kind = TransferKind::kDownload;  // kDownload or kUpload
  bool ok = false;        // download acknowledged / upload received whole
  bool readBack = false;  // a successful download was read back: `verify` tells how that went
  VerifyOutcome verify = VerifyOutcome::kSame;
  VerifyDifference difference;
  bool deviceTouched = false;   // a failed download had begun to change the device's programme
  bool infoFromDevice = false;  // the device's own information was read first and sent back unchanged
  bool infoUnreadable = false;  // refused before any block was sent: no device information to send

  static TransferOutcome Ended(TransferKind kind, bool ok) {
    TransferOutcome o;
    o.kind = kind;
    o.ok = ok;
    return o;
  }
  static TransferOutcome ReadBackEnded(VerifyOutcome outcome, const VerifyDifference& difference) {
    TransferOutcome o = Ended(TransferKind::kDownload, true);
    o.readBack = true;
    o.verify = outcome;
    o.difference = difference;
    return o;
  }
};

// What the link engines need of the main window. Every call is made on the window's thread.
class LinkHost {
 public:
  virtual ~LinkHost() = default;
  virtual void SetLampState(int state) = 0;
  virtual void SetStatusText(const std::string& utf8) = 0;
  virtual void SetButtonStates(const ButtonStates& states) = 0;
  virtual void SetTimer(int id, int ms) = 0;  // (re)starts the timer
  virtual void KillTimer(int id) = 0;
  virtual void ShowCounts() = 0;
  virtual void ShowMessage(const std::string& utf8) = 0;  // modal box, OK only
  // A code-transmitter upload brought the device's information: the host keeps it (in its
  // device information file).
  virtual void DeviceInfoReceived(const DeviceInfo& info) = 0;
  // Runs `fn` on the window's thread and returns when it has run (a worker's synchronous
  // report). Returns false when the window is gone and `fn` was dropped.
  virtual bool RunOnWindowThread(const std::function<void()>& fn) = 0;

  // The same events in numbers, for a host without a status line to show (the command line).
  virtual void TransferProgressed(const TransferProgress&) {}
  virtual void TransferEnded(const TransferOutcome&) {}
};

}  // namespace km27
