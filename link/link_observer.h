#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "link/verify.h"
#include "model/device_info_bytes.h"
#include "model/device_model.h"
#include "model/param_table.h"

namespace km27 {

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

// How a download, its read-back or an upload went.
struct TransferOutcome {
  TransferKind kind = TransferKind::kDownload;  // kDownload or kUpload
  bool ok = false;        // download acknowledged / upload received whole
  bool readBack = false;  // a successful download was read back: `verify` tells how that went
  VerifyOutcome verify = VerifyOutcome::kSame;
  VerifyDifference difference;
  bool deviceTouched = false;   // a failed download had begun to change the device's programme
  bool infoFromDevice = false;  // the device's own information was read first and sent back unchanged
  std::optional<DeviceInfo> ownInfo;  // that information, for the record of what was sent
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

// Where a lower machine answers.
struct LinkPlace {
  DeviceModel model = CodeTransmitter;
  int com = 0;
  std::string device;  // what COM n stands for
};

// What an upload brought. The code transmitter carries no line settings: only its carrier masks
// and the table replace the programme's, and the highlight stays where it is.
struct ReceivedProgramme {
  Programme programme;
  bool masksOnly = false;
  std::optional<DeviceInfo> info;  // the code transmitter's device information

  // The programme that results when this one replaces `current`.
  Programme Over(const Programme& current) const {
    if (!masksOnly) return programme;
    Programme p = current;
    p.table = programme.table;
    for (int f = 0; f < 4; ++f) p.options.SetMaskByte(f, programme.options.MaskByte(f));
    return p;
  }
};

enum class LinkFailure {
  kThreadStart,  // a worker thread could not be started; `systemError` says why
};

// What an engine tells whoever runs it, in the order it happens, on the loop's thread. A
// transfer is started, progresses, is judged (its verdict is known) and ends (the link is ready
// for the next command); the code box pauses between judging and ending.
class LinkObserver {
 public:
  virtual ~LinkObserver() = default;
  virtual void LinkFound(const LinkPlace&) {}
  virtual void LinkLost(const LinkPlace&) {}
  virtual void TransferStarted(TransferKind /*kind*/, int /*blocks*/) {}
  virtual void TransferProgressed(const TransferProgress&) {}
  // The download's frame carries this check byte over the options: the programme as sent.
  virtual void DownloadSealed(uint8_t /*checkByte*/) {}
  virtual void TransferJudged(const TransferOutcome&) {}
  virtual void ProgrammeReceived(const ReceivedProgramme&) {}
  virtual void TransferEnded(const TransferOutcome&) {}
  virtual void LinkFailed(LinkFailure /*cause*/, int /*systemError*/) {}
};

}  // namespace km27
