#pragma once
#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "link/comm_runs.h"
#include "link/serial_comm.h"

// The serial comm control of the code box: a COM port with a receive buffer and one event.
//
// Output writes at once (the caller blocks the thread right after, and the box times its answer
// from when the bytes arrive). A reader thread collects what arrives; a drain thread waits until
// written bytes have left the port. Both report to the window's thread through its event queue,
// in the order things happened on the line, and the event is raised there, never inside a
// running handler of it. The send event is raised only once the output buffer is empty at the
// moment of delivery, so an announcement byte followed quickly by the frame yields one event,
// after the frame.
class CMSComm : public QObject, public km27::SerialCommControl {
 public:
  // Line settings stored with the control; the program never changes them.
  static constexpr const char kSettings[] = "9600,n,8,1";

  explicit CMSComm(QObject* parent = nullptr);
  ~CMSComm() override;

  int16_t GetInBufferCount() override;
  void SetInBufferCount(int16_t count) override;
  void SetOutput(const std::vector<uint8_t>& bytes) override;
  std::vector<uint8_t> GetInput() override;
  void SetEventsHeld(bool held) override;

 private:
  struct Pending {
    int16_t code;
    uint64_t session;
    uint64_t seq;
  };

  void OpenPort() override;
  void ClosePort() override;
  void ReaderLoop(uint64_t session, int fd, int wakeFd);
  void DrainLoop(uint64_t session, int fd, int wakeFd);
  void NoteDrainedLocked(uint64_t session, int fd);
  void PostLocked(int16_t code, uint64_t session, uint64_t seq);
  void Deliver(const Pending& p);
  void Raise(const Pending& p);
  void RaiseDeferred();

  // Window thread only, with the properties and the port.
  std::deque<Pending> deferred_;
  bool countTaken_ = false;  // Input delivers what the last InBufferCount reported
  std::thread reader_;
  std::thread drainer_;
  int wakeFd_ = -1;

  // Shared with the reader and drain threads.
  std::mutex m_;
  std::condition_variable cv_;
  uint64_t session_ = 0;       // changes at every open and close; stale reports are dropped
  bool stop_ = false;
  // A run ends when output is reported drained. Its runs are fed by the reader thread under m_;
  // its input belongs to the window's thread.
  km27::ReceivedRuns received_;
  std::vector<uint8_t> unwritten_;  // output the OS did not take at once, in order
  uint64_t outSeq_ = 0;        // outputs handed over
  uint64_t drainedSeq_ = 0;    // outputs known to have left the port
};
