// The serial port's read loop fed in pieces over a real pseudo-terminal: a writer thread sends
// the fuzzer's bytes in fuzzer-chosen pieces while SerialPort::Read waits for a given count.
// However the pieces coalesce, a read must return only bytes that were sent, in order, never
// more than asked for, succeed only with the full count, and lose or repeat nothing: what it did
// not take stays on the line for the next read.
//
// Input: byte 0 = count asked for (1..96); byte 1 = piece sizes (bits 0-5; at most eight pieces) and how a short
// answer ends (bit 6: the device hangs up, else the reader is cut short by Abort); byte 2 seeds
// the piece sizes; the rest is what the device sends (at most 160 bytes: enough for the longest answer and what may follow it).
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/link_timing.h"
#include "port/serial_port.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Job {
  std::vector<std::vector<uint8_t>> pieces;
  bool hangUp = false;
};

// One pty for the whole run; a hang-up makes a new one.
class Line {
 public:
  Line() {
    // The pty is the harness's own and the port is never closed: leave no lock file behind.
    setenv(km27::kLockDirVariable, "", 1);
    Reopen();
    writer_ = std::thread([this] { WriterLoop(); });
    writer_.detach();  // lives as long as the process
  }

  km27::SerialPort& Port() { return port_; }

  // Sends the pieces one after the other while the caller reads; returns once the reader may
  // look at the outcome (`readerDone` set by the caller ends the pauses early).
  void Start(Job job) {
    std::lock_guard<std::mutex> lock(m_);
    job_ = std::move(job);
    pending_ = true;
    finished_ = false;
    readerDone_ = false;
    cv_.notify_all();
  }
  void ReaderDone() {
    std::lock_guard<std::mutex> lock(m_);
    readerDone_ = true;
    cv_.notify_all();
  }
  void WaitWriter() {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return finished_; });
  }

  void Reopen() {
    port_.Close();
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    char name[128];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) std::abort();
    termios t{};
    tcgetattr(master_, &t);
    cfmakeraw(&t);
    tcsetattr(master_, TCSANOW, &t);
    // The slave fd kept here would count as another program holding the port, which the port
    // refuses to open: close it first.
    close(slave_);
    slave_ = -1;
    Check(port_.Open(name));
    km27::SerialTimeouts to;
    const km27::LinkTiming timing;
    to.readIntervalMs = timing.readIntervalMs;
    to.readTotalPerByteMs = timing.readTotalPerByteMs;
    to.readTotalConstantMs = timing.readTotalConstantMs;
    port_.SetTimeouts(to);
  }
  int Master() const { return master_; }

 private:
  bool ReaderDoneNow() {
    std::lock_guard<std::mutex> lock(m_);
    return readerDone_;
  }

  void WriterLoop() {
    for (;;) {
      Job job;
      {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return pending_; });
        pending_ = false;
        job = std::move(job_);
      }
      for (const auto& piece : job.pieces) {
        size_t done = 0;
        while (done < piece.size()) {
          ssize_t w = write(master_, piece.data() + done, piece.size() - done);
          if (w > 0) done += size_t(w);
          else std::abort();
        }
        // Give the reader a chance to take this piece before the next one comes (a timed wait
        // would cost the timer slack on every piece).
        sched_yield();
      }
      // Let the last piece reach the reader, then end a read still waiting for more.
      for (int i = 0; i < 200 && !ReaderDoneNow(); ++i) {
        if (i > 20 && port_.InBufferCount() == 0) break;
        sched_yield();
      }
      {
        std::unique_lock<std::mutex> lock(m_);
        if (!readerDone_) {
          {
            if (job.hangUp) {
              close(master_);
              master_ = -1;
            } else {
              port_.Abort();
            }
          }
        }
        finished_ = true;
      }
      cv_.notify_all();
    }
  }

  km27::SerialPort port_;
  int master_ = -1;
  int slave_ = -1;
  std::thread writer_;
  std::mutex m_;
  std::condition_variable cv_;
  Job job_;
  bool pending_ = false;
  bool finished_ = false;
  bool readerDone_ = false;
};

// Reads whatever is still on the line, waiting a little for bytes still on their way.
std::vector<uint8_t> DrainRest(km27::SerialPort& port, size_t expected) {
  std::vector<uint8_t> rest;
  uint8_t buf[600];
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (rest.size() < expected && std::chrono::steady_clock::now() < deadline) {
    pollfd p{port.Fd(), POLLIN, 0};
    poll(&p, 1, 10);
    auto r = port.ReadAvailable(buf, sizeof buf);
    rest.insert(rest.end(), buf, buf + r.count);
  }
  return rest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using km27::IoStatus;
  if (size < 3 || size > 3 + 160) return 0;
  static Line* line = new Line;
  km27::SerialPort& port = line->Port();

  const size_t want = 1 + data[0] % 96;
  const size_t maxPiece = 1 + size_t(data[1] & 0x3F);
  const bool hangUp = (data[1] & 0x40) != 0;
  uint32_t rng = 0x2545F491u ^ data[2];
  const uint8_t* stream = data + 3;
  const size_t total = size - 3;

  Job job;
  job.hangUp = hangUp;
  for (size_t pos = 0; pos < total;) {
    rng = rng * 1664525u + 1013904223u;
    // At most eight pieces: each costs two thread switches, and the last one takes the rest.
    const size_t n = job.pieces.size() == 7 ? total - pos : std::min(total - pos, 1 + size_t(rng >> 8) % maxPiece);
    job.pieces.emplace_back(stream + pos, stream + pos + n);
    pos += n;
  }

  // Exactly the size asked for, so that a write past it is caught.
  std::unique_ptr<uint8_t[]> buf(new uint8_t[want]);
  line->Start(std::move(job));
  const km27::IoResult r = port.Read(buf.get(), want);
  line->ReaderDone();
  line->WaitWriter();

  Check(r.count <= want && r.count <= total);
  Check(std::memcmp(buf.get(), stream, r.count) == 0);
  if (r.status == IoStatus::Ok) Check(r.count == want);
  if (total < want) Check(r.status != IoStatus::Ok);
  if (port.AbortRequested()) {
    Check(r.status == IoStatus::Aborted || r.status == IoStatus::Ok);
    port.ClearAbort();
  }

  if (line->Master() < 0) {
    // The device hung up: a read of a silent, gone device must say so, not succeed.
    if (r.count < want) Check(r.status == IoStatus::HungUp || r.status == IoStatus::TimedOut);
    line->Reopen();
    return 0;
  }
  // Nothing lost, nothing repeated: the bytes not taken are still there, in order.
  const std::vector<uint8_t> rest = DrainRest(port, total - r.count);
  Check(rest.size() == total - r.count);
  Check(rest.empty() || std::memcmp(rest.data(), stream + r.count, rest.size()) == 0);
  return 0;
}
