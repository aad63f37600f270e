#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

// The device end of a simulated serial line, shared by the simulated lower machines.
//
// A SimLine owns a pseudo-terminal: the tool opens the slave side through a COM link
// (DIR/COMn → /dev/pts/N); the simulator reads and writes the master side. It holds no slave
// descriptor of its own, or the port would look taken by another program to a tool that checks
// before it opens. So while nobody has the port open the master reports a hang-up: reads then
// wait out their time and bring nothing, and what the device sends is lost, as on a real line
// with nobody listening. Unplug() closes the pty and removes the link (the tool sees a
// hang-up); Plug() makes a new pty and link under the same name.
//
// Faults it can apply to everything the device sends: Mute (nothing leaves), a fraction of
// corrupted bytes (one bit flipped, from a seeded generator), and pacing: each byte leaves on
// an absolute clock deadline at the baud rate the tool set, so transfer times are realistic.
// With pacing on, WaitReceived() holds a received frame back until its last byte could have
// arrived on a real line (first byte time + n byte times).
//
// Not thread-safe: one device thread uses a SimLine.
namespace km27::sim {

// What the command line of every simulated machine says alike: where its line goes and whether
// it keeps the line's pace. The rest of the arguments are the machine's own.
struct SimCommandLine {
  std::string comDir;  // --com-dir; $KM27_COM_DIR by default
  int com = 1;         // --com
  bool paced = true;   // off with --no-pace: everything leaves at once
  std::vector<std::string> rest;
};

class SimLine {
 public:
  using Clock = std::chrono::steady_clock;

  SimLine() = default;
  ~SimLine();
  SimLine(const SimLine&) = delete;
  SimLine& operator=(const SimLine&) = delete;

  // Creates the pty and links its slave as comDir/COM<com> (an old entry is replaced).
  bool Open(const std::string& comDir, int com);
  // Same pty and link handling with an explicit link path.
  bool OpenAt(const std::string& linkPath);
  void Close();  // closes the pty and removes the link
  bool IsOpen() const { return master_ >= 0; }

  void Unplug() { Close(); }
  bool Plug() { return OpenAt(linkPath_); }

  int MasterFd() const { return master_; }
  const std::string& SlavePath() const { return slavePath_; }
  const std::string& LinkPath() const { return linkPath_; }
  const std::string& Error() const { return error_; }

  // The line settings the tool applied to its end (from the master's termios).
  int Baud() const;
  // Bits per character on the wire: start + data + parity + stop.
  int BitsPerChar() const;
  std::chrono::nanoseconds ByteTime() const;

  // Waits up to timeoutMs for input and returns what came (possibly nothing). `firstByte`
  // gets the time the first of these bytes was seen.
  struct Input {
    std::vector<uint8_t> bytes;
    Clock::time_point firstByte{};
    bool nobodyOnPort = false;  // nobody had the port open while we waited
  };
  Input Read(int timeoutMs);

  // Sends bytes through the fault filters; returns false when the line is closed. Bytes nobody
  // takes (the port is not open, or its input has stayed full for a while) are dropped: a
  // device that chatters never blocks on a tool that does not read.
  bool Write(const uint8_t* data, size_t n);
  bool Write(const std::vector<uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }

  // With pacing: sleeps until `first` + n byte times (a frame of n bytes is complete then).
  void WaitReceived(Clock::time_point first, size_t n) const;

  void SetPaced(bool on) { paced_ = on; }
  bool Paced() const { return paced_; }
  void SetMuted(bool on) { muted_ = on; }
  bool Muted() const { return muted_; }
  void SetCorruption(double fraction, unsigned seed);
  size_t CorruptedCount() const { return corrupted_; }

 private:
  bool NobodyOnPort() const;

  int master_ = -1;
  std::string slavePath_;
  std::string linkPath_;
  std::string error_;
  bool paced_ = false;
  bool muted_ = false;
  double corruptFraction_ = 0;
  std::mt19937 rng_{1};
  size_t corrupted_ = 0;
};

// Formats bytes as "55 06 31 00 3C 3E" for --verbose output.
std::string HexBytes(const uint8_t* data, size_t n);

}  // namespace km27::sim
