#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "link/transmitter_image.h"
#include "sim/sim_line.h"

namespace km27::sim {

struct TransmitterSimOptions {
  bool silent = false;         // reads every frame, answers none
  int noAckBlock = -1;         // never answered: a write is neither stored nor acknowledged, a read gets nothing
  double corruptFraction = 0;  // share of sent bytes with one bit flipped
  unsigned seed = 1;
  bool paced = false;           // bytes leave and arrive at the line's baud
  bool verbose = false;         // log every frame
  bool requireBaud = true;      // bytes arriving while the line is not at 19200 baud are noise
  // Faults of the device's memory and of its read-back, for proving verification.
  int storeWrongByte = -1;      // image byte stored one higher than it came (from a download)
  bool failReads = false;       // block reads never answered; writes work
  double storeWrongFraction = 0;  // share of written blocks stored with one byte one higher (seeded)
};

// A simulated code transmitter on its own thread, answering on a SimLine: the identification
// answer, the opening answer, block write acknowledgements (storing the payload) and block read
// answers from the 1060-byte image it holds.
class TransmitterSim {
 public:
  static constexpr int kBaud = 19200;
  static constexpr char kOpenAnswerText[] = "KM27C V1.0";  // 10 bytes, content not examined by the tool

  struct Stats {
    int identify = 0;
    int open = 0;
    std::array<int, kTransferBlocks> writes{};
    std::array<int, kTransferBlocks> reads{};
    int badFrames = 0;
  };

  explicit TransmitterSim(TransmitterSimOptions options = {});
  ~TransmitterSim();
  TransmitterSim(const TransmitterSim&) = delete;
  TransmitterSim& operator=(const TransmitterSim&) = delete;

  // Creates the line as comDir/COM<com> and starts answering.
  bool Start(const std::string& comDir, int com);
  void Stop();
  const std::string& Error() const { return error_; }

  // The device goes away (the tool sees a hang-up) and comes back under the same name.
  void Unplug();
  bool Plug();

  TransmitterImage Image() const;
  void SetImage(const TransmitterImage& image);
  bool LoadImage(const std::string& path);
  bool SaveImage(const std::string& path) const;

  Stats GetStats() const;
  void ResetStats();
  void SetSilent(bool on);
  void SetNoAckBlock(int block);
  void SetStoreWrongByte(int offset);
  void SetFailReads(bool on);
  void SetLog(std::function<void(const std::string&)> log);
  std::string SlavePath() const;

 private:
  enum class Command { kNone, kUnplug, kPlug };

  void Run();
  void Feed(const uint8_t* data, size_t n, SimLine::Clock::time_point when);
  void Handle(const std::vector<uint8_t>& frame, SimLine::Clock::time_point first);
  void Send(const std::vector<uint8_t>& frame);
  void Log(const std::string& s);
  bool RunCommand(Command c);

  TransmitterSimOptions options_;
  SimLine line_;
  std::string error_;
  std::thread thread_;
  std::atomic<bool> stop_{false};

  mutable std::mutex m_;  // guards everything below
  std::condition_variable cv_;
  Command command_ = Command::kNone;
  bool commandResult_ = false;
  TransmitterImage image_;
  std::mt19937 storeRng_;
  Stats stats_;
  std::function<void(const std::string&)> log_;
  std::string slavePath_;

  // Frame assembly, the sim thread only.
  std::vector<uint8_t> partial_;
  SimLine::Clock::time_point partialFirst_{};
  SimLine::Clock::time_point partialLast_{};
};

}  // namespace km27::sim

// Runs the simulated KM27C code transmitter with the options only it takes; returns the
// process exit code.
int RunTransmitterSim(const km27::sim::SimCommandLine& line);
