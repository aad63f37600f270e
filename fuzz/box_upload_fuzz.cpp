// A code box's upload answer arriving in arbitrary pieces, through the whole receive path of the
// link (comm event, collecting, AcceptBoxFrame). A rejected or incomplete answer must hand no
// programme over; an accepted one must be exactly the first 968 bytes collected.
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
#include "link/box_fakes.h"
#include "link/fake_observer.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::string Verdict(const km27::testing::FakeObserver& obs) { return obs.verdicts.empty() ? "" : obs.verdicts.back(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace km27;
  if (size < 2) return 0;
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

  testing::ManualLoop loop;
  testing::FakeObserver obs;
  testing::FakeComm comm;
  const LinkTiming timing;
  BoxLink link(loop, obs, comm, timing, [](int) { return true; });
  // The loop ends each pause; the events held meanwhile follow.
  auto endPauses = [&] {
    while (loop.FireOneShot()) comm.Pump();
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
  Check(obs.received.empty() && obs.verdicts.empty());
  comm.Drain();
  const size_t answerStart = pos;

  // Where the held answer's frame is: behind at most 16 stray bytes (chatter that crossed the
  // request); -1 once no frame can be behind them any more, -2 while one still may come.
  auto frameAt = [&](size_t held) -> long {
    for (size_t at = 0; at <= 16; ++at) {
      if (at + kBoxFrameBytes > held) return -2;
      if (BoxFrameValid(stream + answerStart + at)) return long(at);
    }
    return -1;
  };
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
    const long at = frameAt(held);
    if (at == -2) {
      // No verdict yet (the programme itself is compared once the verdict or the time limit comes).
      Check(obs.verdicts.empty() && link.TransferRunning());
      continue;
    }
    judged = true;
    endPauses();
    const uint8_t* frame = stream + answerStart + (at > 0 ? at : 0);
    if (at >= 0) {
      Check(Verdict(obs) == "upload ok" && obs.received.size() == 1);
      const Programme& p = obs.received[0].programme;
      Check(std::memcmp(p.options.bytes.data(), frame, kBoxHeaderBytes) == 0);
      Check(std::memcmp(p.table.bytes.data(), frame + kBoxHeaderBytes, size_t(kTableBytes)) == 0);
    } else {
      Check(Verdict(obs) == "upload failed" && obs.received.empty());
    }
    Check(!link.TransferRunning() && !loop.Running(timing.uploadTimeoutMs));
  }
  if (!judged) {
    // The time limit ends an answer that never completed.
    Check(loop.Running(timing.uploadTimeoutMs));
    loop.Fire(timing.uploadTimeoutMs);
    endPauses();
    Check(Verdict(obs) == "upload failed" && obs.received.empty());
  }
  Check(!link.TransferRunning() && loop.Running(timing.linkWatchMs));
  // Nothing that arrives later hands a programme over.
  const size_t received = obs.received.size();
  comm.Receive(std::vector<uint8_t>(stream, stream + std::min(total, size_t(kBoxFrameBytes))));
  endPauses();
  Check(obs.received.size() == received);
  link.Stop();
  return 0;
}
