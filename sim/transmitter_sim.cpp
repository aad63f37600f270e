#include "sim/transmitter_sim.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "link/crc16.h"
#include "link/transfer_frame.h"

namespace km27::sim {

namespace {

constexpr int kPollMs = 10;
constexpr auto kFrameGap = std::chrono::milliseconds(100);  // a stalled partial frame is dropped

bool KnownLength(uint8_t len) {
  return len == kShortFrameBytes || len == kIdentifyFrameBytes || len == kBlockFrameBytes;
}

}  // namespace

TransmitterSim::TransmitterSim(TransmitterSimOptions options) : options_(options), storeRng_(options.seed + 1) {}

TransmitterSim::~TransmitterSim() { Stop(); }

bool TransmitterSim::Start(const std::string& comDir, int com) {
  if (!line_.Open(comDir, com)) {
    error_ = line_.Error();
    return false;
  }
  line_.SetPaced(options_.paced);
  line_.SetMuted(options_.silent);
  line_.SetCorruption(options_.corruptFraction, options_.seed);
  {
    std::lock_guard<std::mutex> lock(m_);
    slavePath_ = line_.SlavePath();
  }
  stop_ = false;
  thread_ = std::thread(&TransmitterSim::Run, this);
  return true;
}

void TransmitterSim::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  line_.Close();
}

bool TransmitterSim::RunCommand(Command c) {
  std::unique_lock<std::mutex> lock(m_);
  if (!thread_.joinable()) return false;
  command_ = c;
  cv_.wait(lock, [&] { return command_ == Command::kNone; });
  return commandResult_;
}

void TransmitterSim::Unplug() { RunCommand(Command::kUnplug); }
bool TransmitterSim::Plug() { return RunCommand(Command::kPlug); }

TransmitterImage TransmitterSim::Image() const {
  std::lock_guard<std::mutex> lock(m_);
  return image_;
}

void TransmitterSim::SetImage(const TransmitterImage& image) {
  std::lock_guard<std::mutex> lock(m_);
  image_ = image;
}

bool TransmitterSim::LoadImage(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (data.size() != kImageBytes) return false;
  std::lock_guard<std::mutex> lock(m_);
  std::memcpy(image_.bytes.data(), data.data(), kImageBytes);
  return true;
}

bool TransmitterSim::SaveImage(const std::string& path) const {
  TransmitterImage copy = Image();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(copy.bytes.data()), std::streamsize(kImageBytes));
  return bool(out);
}

TransmitterSim::Stats TransmitterSim::GetStats() const {
  std::lock_guard<std::mutex> lock(m_);
  return stats_;
}

void TransmitterSim::ResetStats() {
  std::lock_guard<std::mutex> lock(m_);
  stats_ = Stats{};
}

void TransmitterSim::SetSilent(bool on) {
  std::lock_guard<std::mutex> lock(m_);
  options_.silent = on;
}

void TransmitterSim::SetNoAckBlock(int block) {
  std::lock_guard<std::mutex> lock(m_);
  options_.noAckBlock = block;
}

void TransmitterSim::SetStoreWrongByte(int offset) {
  std::lock_guard<std::mutex> lock(m_);
  options_.storeWrongByte = offset;
}

void TransmitterSim::SetFailReads(bool on) {
  std::lock_guard<std::mutex> lock(m_);
  options_.failReads = on;
}

void TransmitterSim::SetLog(std::function<void(const std::string&)> log) {
  std::lock_guard<std::mutex> lock(m_);
  log_ = std::move(log);
}

std::string TransmitterSim::SlavePath() const {
  std::lock_guard<std::mutex> lock(m_);
  return slavePath_;
}

void TransmitterSim::Log(const std::string& s) {
  std::function<void(const std::string&)> log;
  bool verbose;
  {
    std::lock_guard<std::mutex> lock(m_);
    log = log_;
    verbose = options_.verbose;
  }
  if (!verbose) return;
  if (log)
    log(s);
  else
    std::fprintf(stderr, "%s\n", s.c_str());
}

void TransmitterSim::Run() {
  while (!stop_) {
    Command c;
    {
      std::lock_guard<std::mutex> lock(m_);
      c = command_;
    }
    if (c != Command::kNone) {
      bool ok = true;
      if (c == Command::kUnplug) {
        line_.Unplug();
        partial_.clear();
        Log("unplugged");
      } else {
        ok = line_.Plug();
        if (ok) {
          line_.SetPaced(options_.paced);
          Log("plugged in again at " + line_.SlavePath());
        }
      }
      {
        std::lock_guard<std::mutex> lock(m_);
        slavePath_ = line_.SlavePath();
        commandResult_ = ok;
        command_ = Command::kNone;
      }
      cv_.notify_all();
      continue;
    }
    if (!line_.IsOpen()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
      continue;
    }
    SimLine::Input in = line_.Read(kPollMs);
    auto now = SimLine::Clock::now();
    if (!partial_.empty() && now - partialLast_ > kFrameGap) {
      Log("partial frame dropped: " + HexBytes(partial_.data(), partial_.size()));
      partial_.clear();
    }
    if (in.bytes.empty()) continue;
    if (options_.requireBaud && line_.Baud() != kBaud) {
      Log("noise at " + std::to_string(line_.Baud()) + " baud: " + HexBytes(in.bytes.data(), in.bytes.size()));
      continue;
    }
    Feed(in.bytes.data(), in.bytes.size(), in.firstByte);
  }
  std::lock_guard<std::mutex> lock(m_);
  command_ = Command::kNone;
  cv_.notify_all();
}

void TransmitterSim::Feed(const uint8_t* data, size_t n, SimLine::Clock::time_point when) {
  for (size_t i = 0; i < n; ++i) {
    uint8_t b = data[i];
    if (partial_.empty()) {
      if (b != kFrameStart) continue;  // resynchronise on the start byte
      partialFirst_ = when;
    } else if (partial_.size() == 1 && !KnownLength(b)) {
      partial_.clear();
      if (b == kFrameStart) partial_.push_back(b);
      continue;
    }
    partial_.push_back(b);
    partialLast_ = when;
    if (partial_.size() >= 2 && partial_.size() == partial_[1]) {
      std::vector<uint8_t> frame;
      frame.swap(partial_);
      Handle(frame, partialFirst_);
    }
  }
}

void TransmitterSim::Send(const std::vector<uint8_t>& frame) {
  bool silent;
  {
    std::lock_guard<std::mutex> lock(m_);
    silent = options_.silent;
  }
  line_.SetMuted(silent);
  Log(std::string(silent ? "-> (silent) " : "-> ") + HexBytes(frame.data(), frame.size()));
  line_.Write(frame);
}

void TransmitterSim::Handle(const std::vector<uint8_t>& f, SimLine::Clock::time_point first) {
  line_.WaitReceived(first, f.size());
  Log("<- " + HexBytes(f.data(), f.size()));
  if (!FrameCrcGood(f.data(), f.size())) {
    std::lock_guard<std::mutex> lock(m_);
    ++stats_.badFrames;
    return;
  }
  uint8_t cmd = f[2];
  int block = f[3];
  Frame answer;
  {
    std::lock_guard<std::mutex> lock(m_);
    if (cmd == CMD_IDENTIFY && f.size() == kIdentifyFrameBytes) {
      ++stats_.identify;
      answer = BuildFrame(RSP_IDENTIFY, 0, nullptr, 0);
    } else if (cmd == CMD_OPEN && f.size() == kShortFrameBytes) {
      ++stats_.open;
      answer = BuildFrame(CMD_OPEN, 0, reinterpret_cast<const uint8_t*>(kOpenAnswerText), sizeof kOpenAnswerText - 1);
    } else if (cmd == CMD_WRITE_BLOCK && f.size() == kBlockFrameBytes && block < kTransferBlocks) {
      ++stats_.writes[size_t(block)];
      if (block != options_.noAckBlock) {
        image_.StoreBlock(block, f.data() + kPayloadOffset);
        const int wrong = options_.storeWrongByte;
        if (wrong >= 0 && size_t(wrong) < kImageBytes && wrong / int(kTransferBlockBytes) == block) ++image_.bytes[size_t(wrong)];
        if (options_.storeWrongFraction > 0 &&
            std::uniform_real_distribution<double>(0, 1)(storeRng_) < options_.storeWrongFraction) {
          const size_t at = size_t(block) * kTransferBlockBytes +
                            std::uniform_int_distribution<size_t>(0, TransmitterImage::BlockBytes(block) - 1)(storeRng_);
          ++image_.bytes[at];
        }
        answer = BuildFrame(CMD_WRITE_BLOCK, uint8_t(block), nullptr, 0);
      }
    } else if (cmd == CMD_READ_BLOCK && f.size() == kShortFrameBytes && block < kTransferBlocks) {
      ++stats_.reads[size_t(block)];
      if (block != options_.noAckBlock && !options_.failReads) {
        auto payload = image_.BlockPayload(block);
        answer = BuildFrame(CMD_READ_BLOCK, uint8_t(block), payload.data(), payload.size());
      }
    } else {
      ++stats_.badFrames;
    }
  }
  if (!answer.empty()) Send(answer);
}

}  // namespace km27::sim

namespace {

volatile sig_atomic_t g_quit = 0;
void OnSignal(int) { g_quit = 1; }

void Usage() {
  std::fprintf(stderr,
               "usage: km27sim --model KM27C [--com-dir DIR] [--com N] [--no-pace] [options]\n"
               "  --image FILE       load the 1060-byte image at start\n"
               "  --save FILE        save the image after each complete download and at exit\n"
               "  --silent           answer nothing\n"
               "  --no-ack K         never answer block K (write: no acknowledgement; read: no data)\n"
               "  --store-wrong N    store image byte N (0..1059) one higher than a download sent it\n"
               "  --fail-reads       never answer a block read (downloads work, read-backs fail)\n"
               "  --corrupt F        flip one bit in a fraction F (0..1) of the bytes sent\n"
               "  --seed S           seed of the corruption\n"
               "  --unplug-after S   disappear after S seconds ...\n"
               "  --away S           ... and come back S seconds later (default 5)\n"
               "  --verbose          print every frame\n");
}

}  // namespace

int RunTransmitterSim(const km27::sim::SimCommandLine& line) {
  using namespace km27::sim;
  TransmitterSimOptions options;
  options.paced = line.paced;
  const std::string& comDir = line.comDir;
  const int com = line.com;
  std::string imagePath, savePath;
  double unplugAfter = -1, away = 5;
  const std::vector<std::string>& args = line.rest;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "%s needs a value\n", a.c_str());
        std::exit(2);
      }
      return args[++i];
    };
    if (a == "--image") imagePath = next();
    else if (a == "--save") savePath = next();
    else if (a == "--silent") options.silent = true;
    else if (a == "--no-ack") options.noAckBlock = std::atoi(next().c_str());
    else if (a == "--store-wrong") options.storeWrongByte = std::atoi(next().c_str());
    else if (a == "--fail-reads") options.failReads = true;
    else if (a == "--corrupt") options.corruptFraction = std::atof(next().c_str());
    else if (a == "--seed") options.seed = unsigned(std::strtoul(next().c_str(), nullptr, 10));
    else if (a == "--unplug-after") unplugAfter = std::atof(next().c_str());
    else if (a == "--away") away = std::atof(next().c_str());
    else if (a == "--verbose") options.verbose = true;
    else if (a == "--help") {
      Usage();
      return 0;
    } else {
      std::fprintf(stderr, "unknown option %s\n", a.c_str());
      Usage();
      return 2;
    }
  }
  TransmitterSim sim(options);
  if (!imagePath.empty() && !sim.LoadImage(imagePath)) {
    std::fprintf(stderr, "cannot load a 1060-byte image from %s\n", imagePath.c_str());
    return 1;
  }
  if (!sim.Start(comDir, com)) {
    std::fprintf(stderr, "cannot create the line: %s\n", sim.Error().c_str());
    return 1;
  }
  std::fprintf(stderr, "KM27C simulated on %s/COM%d -> %s\n", comDir.c_str(), com, sim.SlavePath().c_str());
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  signal(SIGHUP, OnSignal);
  auto start = std::chrono::steady_clock::now();
  bool unplugged = false, replugged = false;
  int lastBlock16Writes = 0;
  while (!g_quit) {
    usleep(50000);
    double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (unplugAfter >= 0 && !unplugged && t >= unplugAfter) {
      sim.Unplug();
      unplugged = true;
      std::fprintf(stderr, "unplugged\n");
    }
    if (unplugged && !replugged && t >= unplugAfter + away) {
      replugged = true;
      if (sim.Plug()) std::fprintf(stderr, "back on %s\n", sim.SlavePath().c_str());
    }
    int w16 = sim.GetStats().writes[km27::kTransferBlocks - 1];
    if (!savePath.empty() && w16 != lastBlock16Writes) {
      lastBlock16Writes = w16;
      sim.SaveImage(savePath);
    }
  }
  sim.Stop();
  if (!savePath.empty()) sim.SaveImage(savePath);
  return 0;
}
