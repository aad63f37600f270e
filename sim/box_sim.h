#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "link/box_frame.h"
#include "sim/sim_line.h"

namespace km27::sim {

// What the simulated code box does, and how it misbehaves on request.
struct BoxSimOptions {
  std::string comDir;
  int com = 1;
  int presenceMs = 100;       // a presence byte this often; must stay under the tool's watchdog period
  bool otherData = true;      // a status byte between presence bytes, as a real box chatters
  bool chatter = true;        // false: answers only, no presence or status bytes at all
  bool paced = true;          // each byte takes its time at the tool's baud rate
  int frameTimeoutMs = 3000;  // a download frame not complete by then is dropped

  // Faults.
  bool noAccept = false;      // never answer 'Z'
  bool earlyAccept = false;   // answer 'Z' to the announcement instead of to the frame
  bool badGroupSum = false;   // the upload answer has one group that does not sum to 0
  bool silent = false;        // send nothing at all (the tool loses the link)
  int pieces = 1;             // the upload answer goes out in this many pieces ...
  int pieceGapMs = 20;        // ... with this pause between them
  size_t extraBytes = 0;      // bytes sent after the 968 of an upload answer
  // Faults of the box's memory and of its read-back, for proving verification.
  int storeWrongByte = -1;    // frame byte stored one higher than a download sent it (sums kept right)
  bool noUploadAnswer = false;  // never answer an upload request; downloads work
  double storeWrongFraction = 0;  // share of stored downloads with one random byte one higher
  double corruptFraction = 0;     // share of sent bytes with one bit flipped
  unsigned seed = 1;
  bool verbose = false;       // log the exchanges to stderr
};

// A code box on a pseudo-terminal linked as comDir/COM<com>. Runs its own thread; the setters
// and the statistics may be used from any thread while it runs.
class BoxSim {
 public:
  explicit BoxSim(BoxSimOptions options);
  ~BoxSim();
  BoxSim(const BoxSim&) = delete;
  BoxSim& operator=(const BoxSim&) = delete;

  bool Start();  // false when the pty or its link cannot be made (Error() says why)
  void Stop();
  const std::string& Error() const { return error_; }

  // The programme the box holds and answers an upload with.
  void SetFrame(const BoxFrame& frame);
  BoxFrame Frame() const;

  void SetSilent(bool on) { silent_ = on; }
  void SetNoAccept(bool on) { noAccept_ = on; }
  void SetEarlyAccept(bool on) { earlyAccept_ = on; }
  void SetBadGroupSum(bool on) { badGroupSum_ = on; }
  void SetPieces(int n) { pieces_ = n < 1 ? 1 : n; }
  void SetExtraBytes(size_t n) { extraBytes_ = n; }
  void SetStoreWrongByte(int offset) { storeWrongByte_ = offset; }
  void SetNoUploadAnswer(bool on) { noUploadAnswer_ = on; }

  int DownloadsReceived() const { return downloads_; }  // complete frames after 0x55
  int DownloadsAccepted() const { return accepted_; }   // ... of which were valid and stored
  int UploadsAnswered() const { return uploads_; }
  std::vector<uint8_t> LastDownloadFrame() const;       // as it came off the wire

 private:
  void Run();
  void Tick();
  void Handle(const SimLine::Input& in);
  void FinishDownload();
  void StoreWrongly();
  void AnswerUpload();
  void Send(const std::vector<uint8_t>& bytes, const char* what);

  BoxSimOptions options_;
  SimLine line_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::string error_;

  std::atomic<bool> silent_;
  std::atomic<bool> noAccept_;
  std::atomic<bool> earlyAccept_;
  std::atomic<bool> badGroupSum_;
  std::atomic<int> pieces_;
  std::atomic<size_t> extraBytes_;
  std::atomic<int> storeWrongByte_;
  std::atomic<bool> noUploadAnswer_;
  std::mt19937 storeRng_;  // the box's thread only
  std::atomic<int> downloads_{0};
  std::atomic<int> accepted_{0};
  std::atomic<int> uploads_{0};

  mutable std::mutex mutex_;  // frame_ and lastDownload_
  BoxFrame frame_{};
  std::vector<uint8_t> lastDownload_;

  // Device thread only.
  bool receiving_ = false;
  std::vector<uint8_t> incoming_;
  SimLine::Clock::time_point lastByte_{};
  SimLine::Clock::time_point nextChatter_{};
  bool presenceNext_ = true;
};

// A small programme so that an upload from the simulated box shows something.
BoxFrame DemoBoxFrame();

}  // namespace km27::sim

// Runs the simulated KM27A code box with the options only it takes; returns the process exit code.
int RunBoxSim(const km27::sim::SimCommandLine& line);
