// A code box's upload answer arriving in arbitrary pieces, through the whole receive path of the
// link (comm event, collecting, AcceptBoxFrame). A rejected or incomplete answer must leave the
// programme exactly as it was; an accepted one must be exactly the first 968 bytes collected.
//
// Input: byte 0 chooses the piece sizes (bits 0-5), whether the link is up first (bit 6) and
// whether one piece comes before the request has left the port (bit 7: those bytes are no
// answer and must be ignored); byte 1 seeds the piece sizes; the rest is what the box sends.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/box_frame.h"
#include "link/box_link.h"
#include "model/status_texts.h"
#include "link/box_fakes.h"

namespace {

constexpr uint8_t kUntouched = 0x5A;

void Check(bool ok) {
  if (!ok) std::abort();
}

bool AllUntouched(const km27::ParamModel& m) {
  static const std::vector<uint8_t> untouched(km27::kTableBytes, kUntouched);
  return std::memcmp(m.options.bytes.data(), untouched.data(), m.options.bytes.size()) == 0 &&
         std::memcmp(m.table.bytes.data(), untouched.data(), m.table.bytes.size()) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace km27;
  if (size < 2) return 0;
  static const CodeCatalogue catalogue;
  const size_t maxPiece = 1 + size_t(data[0] & 0x3F) * 16;
  const bool linkFirst = (data[0] & 0x40) != 0;
  const bool strayBeforeSend = (data[0] & 0x80) != 0;
  uint32_t rng = 0x9E3779B9u ^ data[1];
  auto nextPiece = [&] {
    rng = rng * 1664525u + 1013904223u;
    return 1 + size_t(rng >> 8) % maxPiece;
  };
  const uint8_t* stream = data + 2;
  const size_t total = size - 2;

  ParamModel model(catalogue);
  model.options.bytes.fill(kUntouched);
  model.table.bytes.fill(kUntouched);
  testing::FakeHost host;
  testing::FakeComm comm;
  BoxLink link(model, host, comm, LinkTiming{}, [](int) { return true; });
  // The window's timer ends each pause; the events held meanwhile follow.
  auto endPauses = [&] {
    while (host.Running(TIMER_BOX_PAUSE)) {
      link.OnTimer(TIMER_BOX_PAUSE);
      comm.Pump();
    }
  };
  link.Start();
  if (linkFirst) {
    comm.Receive({CMD_BOX_PRESENCE});
    Check(link.LinkUp());
  }

  link.OnUpload();
  size_t pos = 0;
  if (strayBeforeSend && total > 0) {
    // Arrives while the request is still leaving: not part of the answer.
    const size_t n = std::min(nextPiece(), total);
    comm.Receive(std::vector<uint8_t>(stream, stream + n));
    pos = n;
  }
  endPauses();
  Check(AllUntouched(model) && host.status.empty());
  comm.Drain();
  const size_t answerStart = pos;

  bool judged = false;
  while (pos < total) {
    const size_t n = std::min(nextPiece(), total - pos);
    comm.Receive(std::vector<uint8_t>(stream + pos, stream + pos + n));
    pos += n;
    const size_t held = pos - answerStart;
    if (judged) {
      // Bytes after the verdict belong to no upload.
      continue;
    }
    if (held < kBoxFrameBytes) {
      // No verdict yet (the programme itself is compared once the verdict or the time limit comes).
      Check(host.status.empty() && link.TransferRunning());
      continue;
    }
    judged = true;
    endPauses();
    const uint8_t* frame = stream + answerStart;
    if (BoxFrameValid(frame)) {
      Check(host.status == text::kUploadOk);
      Check(std::memcmp(model.options.bytes.data(), frame, kBoxHeaderBytes) == 0);
      Check(std::memcmp(model.table.bytes.data(), frame + kBoxHeaderBytes, size_t(kTableBytes)) == 0);
    } else {
      Check(host.status == text::kUploadFailed);
      Check(AllUntouched(model));
    }
    Check(!link.TransferRunning() && !host.Running(TIMER_UPLOAD_TIMEOUT));
  }
  const ParamOptions options = model.options;
  const ParamTable table = model.table;
  if (!judged) {
    // The time limit ends an answer that never completed.
    Check(host.Running(TIMER_UPLOAD_TIMEOUT));
    link.OnTimer(TIMER_UPLOAD_TIMEOUT);
    endPauses();
    Check(host.status == text::kUploadFailed && AllUntouched(model));
  }
  Check(!link.TransferRunning() && host.Running(TIMER_LINK_WATCH));
  // Nothing that arrives later changes the programme.
  comm.Receive(std::vector<uint8_t>(stream, stream + std::min(total, size_t(kBoxFrameBytes))));
  endPauses();
  Check(model.options == options && model.table == table);
  link.Stop();
  return 0;
}
