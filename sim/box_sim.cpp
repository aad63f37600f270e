#include "sim/box_sim.h"

#include <poll.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace km27::sim {

namespace {
using Clock = SimLine::Clock;
using std::chrono::milliseconds;

constexpr uint8_t kStatusByte = 0x01;  // the box's own chatter; never 0xA5 or 'Z'
constexpr uint8_t kExtraByte = 0xEE;
constexpr int kBadGroup = 3;           // the group the bad-sum fault spoils
constexpr int kMaxPollMs = 20;
}  // namespace

BoxFrame DemoBoxFrame() {
  ParamOptions options;
  ParamTable table;
  table.SetEntry(0, 0, {1, 8});    // 550 Hz
  table.SetEntry(0, 1, {5, 10});
  table.SetEntry(0, 2, {12, 15});
  table.SetEntry(4, 0, {2, 20});   // 1700 Hz
  table.SetEntry(4, 1, {7, 30});
  table.SetEntry(16, 0, {3, 5});   // 25 Hz
  UpdateCarrierMask(table, options);
  options.SetLineOption(1, 1);
  SealBoxHeader(options);
  return BuildBoxFrame(options, table);
}

BoxSim::BoxSim(BoxSimOptions options)
    : options_(std::move(options)),
      silent_(options_.silent),
      noAccept_(options_.noAccept),
      earlyAccept_(options_.earlyAccept),
      badGroupSum_(options_.badGroupSum),
      pieces_(options_.pieces < 1 ? 1 : options_.pieces),
      extraBytes_(options_.extraBytes),
      storeWrongByte_(options_.storeWrongByte),
      noUploadAnswer_(options_.noUploadAnswer),
      storeRng_(options_.seed),
      frame_(DemoBoxFrame()) {}

BoxSim::~BoxSim() { Stop(); }

bool BoxSim::Start() {
  if (running_) return true;
  if (!line_.Open(options_.comDir, options_.com)) {
    error_ = line_.Error();
    return false;
  }
  line_.SetPaced(options_.paced);
  line_.SetCorruption(options_.corruptFraction, options_.seed);
  running_ = true;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void BoxSim::Stop() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
  line_.Close();
}

void BoxSim::SetFrame(const BoxFrame& frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  frame_ = frame;
}

BoxFrame BoxSim::Frame() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frame_;
}

std::vector<uint8_t> BoxSim::LastDownloadFrame() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastDownload_;
}

void BoxSim::Run() {
  nextChatter_ = Clock::now();
  while (running_) {
    const auto now = Clock::now();
    int waitMs = int(std::chrono::duration_cast<milliseconds>(nextChatter_ - now).count());
    if (waitMs < 1) waitMs = 1;
    if (waitMs > kMaxPollMs) waitMs = kMaxPollMs;
    SimLine::Input in = line_.Read(waitMs);
    if (!in.bytes.empty()) Handle(in);
    if (receiving_ && Clock::now() - lastByte_ > milliseconds(options_.frameTimeoutMs)) {
      if (options_.verbose) std::fprintf(stderr, "box: frame incomplete (%zu bytes), dropped\n", incoming_.size());
      receiving_ = false;
    }
    Tick();
  }
}

void BoxSim::Tick() {
  const auto now = Clock::now();
  if (now < nextChatter_) return;
  const int period = options_.otherData ? options_.presenceMs / 2 : options_.presenceMs;
  nextChatter_ = now + milliseconds(period < 1 ? 1 : period);
  const bool presence = presenceNext_ || !options_.otherData;
  presenceNext_ = !presence;
  if (silent_ || !options_.chatter) return;
  // A request already waiting is answered first: chatter sent after the tool's request has left
  // would land in front of the answer and spoil its frame.
  pollfd pending{line_.MasterFd(), POLLIN, 0};
  if (::poll(&pending, 1, 0) > 0 && (pending.revents & POLLIN)) return;
  Send({presence ? CMD_BOX_PRESENCE : kStatusByte}, nullptr);
}

void BoxSim::Handle(const SimLine::Input& in) {
  if (options_.verbose) std::fprintf(stderr, "box: got %s\n", HexBytes(in.bytes.data(), in.bytes.size()).c_str());
  for (uint8_t b : in.bytes) {
    if (receiving_) {
      incoming_.push_back(b);
      lastByte_ = Clock::now();
      if (incoming_.size() == kBoxFrameBytes) {
        receiving_ = false;
        FinishDownload();
      }
      continue;
    }
    if (b == CMD_BOX_DOWNLOAD) {
      receiving_ = true;
      incoming_.clear();
      lastByte_ = Clock::now();
      if (earlyAccept_ && !noAccept_ && !silent_) Send({CMD_BOX_ACCEPT}, "early accept");
    } else if (b == CMD_BOX_UPLOAD) {
      AnswerUpload();
    }
  }
}

void BoxSim::FinishDownload() {
  // No waiting for the frame's line time: the tool counts its acceptance window from its drain,
  // which a pty reports at once, so a box that waited would always answer too late.
  ++downloads_;
  const bool valid = BoxFrameValid(incoming_.data());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lastDownload_ = incoming_;
    if (valid) {
      std::copy(incoming_.begin(), incoming_.end(), frame_.begin());
      StoreWrongly();
    }
  }
  if (options_.verbose) std::fprintf(stderr, "box: frame %s\n", valid ? "valid" : "with a bad sum");
  if (!valid) return;
  ++accepted_;
  if (!noAccept_ && !earlyAccept_ && !silent_) Send({CMD_BOX_ACCEPT}, "accept");
}

// The memory fault: one byte kept one higher than it came, its header or group sum put right,
// as a box that keeps its own sums would hold it.
void BoxSim::StoreWrongly() {
  int at = storeWrongByte_;
  if (at < 0 && options_.storeWrongFraction > 0 &&
      std::uniform_real_distribution<double>(0, 1)(storeRng_) < options_.storeWrongFraction)
    at = std::uniform_int_distribution<int>(0, int(kBoxFrameBytes) - 1)(storeRng_);
  if (at < 0 || size_t(at) >= kBoxFrameBytes) return;
  ++frame_[size_t(at)];
  const size_t start = size_t(at) < kBoxHeaderBytes ? 0 : size_t(at) - (size_t(at) - kBoxHeaderBytes) % kBoxGroupBytes;
  const size_t len = size_t(at) < kBoxHeaderBytes ? kBoxHeaderBytes : kBoxGroupBytes;
  if (size_t(at) != start + len - 1) {
    uint8_t& check = frame_[start + len - 1];
    check = CheckByteFor(&frame_[start], len - 1);
  }
}

void BoxSim::AnswerUpload() {
  if (silent_ || noUploadAnswer_) return;
  std::vector<uint8_t> answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    answer.assign(frame_.begin(), frame_.end());
  }
  if (badGroupSum_) {
    uint8_t& check = answer[kBoxHeaderBytes + kBadGroup * kBoxGroupBytes + kBoxGroupBytes - 1];
    check = uint8_t(check + 1);
  }
  answer.insert(answer.end(), extraBytes_.load(), kExtraByte);
  // Counted before the bytes go: whoever has read the answer may rely on the count.
  ++uploads_;
  const size_t pieces = size_t(pieces_.load());
  const size_t step = (answer.size() + pieces - 1) / pieces;
  for (size_t at = 0; at < answer.size(); at += step) {
    if (at) std::this_thread::sleep_for(milliseconds(options_.pieceGapMs));
    const size_t end = std::min(answer.size(), at + step);
    Send(std::vector<uint8_t>(answer.begin() + long(at), answer.begin() + long(end)), "answer");
  }
  // The answer stands alone: no chatter may follow too closely and look like part of it.
  nextChatter_ = Clock::now() + milliseconds(options_.presenceMs);
  presenceNext_ = true;
}

void BoxSim::Send(const std::vector<uint8_t>& bytes, const char* what) {
  line_.Write(bytes);
  if (options_.verbose && what) std::fprintf(stderr, "box: sent %s, %zu bytes\n", what, bytes.size());
}

}  // namespace km27::sim

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

void Usage() {
  std::fprintf(stderr,
               "km27sim --model KM27A [--com-dir DIR] [--com N] [--no-pace] [options]\n"
               "  --presence-ms MS   presence byte period (default 100)\n"
               "  --no-chatter       send only the presence byte, no status bytes\n"
               "  --zero-programme   hold 968 zero bytes instead of the demo programme\n"
               "faults:\n"
               "  --no-accept        never answer a download with 'Z'\n"
               "  --early-accept     answer 'Z' to the announcement, before the frame\n"
               "  --bad-group-sum    answer an upload with a group that does not sum to 0\n"
               "  --silent           send nothing at all\n"
               "  --silent-after MS  fall silent after MS milliseconds (the tool loses the link)\n"
               "  --pieces N         send an upload answer in N pieces\n"
               "  --extra N          send N more bytes after the 968 of an upload answer\n"
               "  --store-wrong N    store frame byte N (0..967) of a download one higher (sums kept right)\n"
               "  --no-upload-answer never answer an upload request (downloads work, read-backs fail)\n"
               "  --verbose          log the exchanges\n");
}

}  // namespace

int RunBoxSim(const km27::sim::SimCommandLine& line) {
  km27::sim::BoxSimOptions o;
  o.comDir = line.comDir;
  o.com = line.com;
  o.paced = line.paced;
  int silentAfterMs = -1;
  bool zero = false;
  const std::vector<std::string>& args = line.rest;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](int& out) {
      if (i + 1 >= args.size()) return false;
      out = std::atoi(args[++i].c_str());
      return true;
    };
    int n = 0;
    if (a == "--presence-ms" && value(o.presenceMs)) {
    } else if (a == "--no-chatter") {
      o.otherData = false;
    } else if (a == "--zero-programme") {
      zero = true;
    } else if (a == "--no-accept") {
      o.noAccept = true;
    } else if (a == "--early-accept") {
      o.earlyAccept = true;
    } else if (a == "--bad-group-sum") {
      o.badGroupSum = true;
    } else if (a == "--silent") {
      o.silent = true;
    } else if (a == "--silent-after" && value(silentAfterMs)) {
    } else if (a == "--pieces" && value(o.pieces)) {
    } else if (a == "--store-wrong" && value(o.storeWrongByte)) {
    } else if (a == "--no-upload-answer") {
      o.noUploadAnswer = true;
    } else if (a == "--extra" && value(n)) {
      o.extraBytes = size_t(n < 0 ? 0 : n);
    } else if (a == "--verbose") {
      o.verbose = true;
    } else {
      Usage();
      return a == "--help" ? 0 : 2;
    }
  }
  km27::sim::BoxSim box(o);
  if (zero) box.SetFrame(km27::BoxFrame{});
  if (!box.Start()) {
    std::fprintf(stderr, "km27sim: %s\n", box.Error().c_str());
    return 1;
  }
  std::fprintf(stderr, "KM27A code box on %s/COM%d\n", o.comDir.c_str(), o.com);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  const auto start = std::chrono::steady_clock::now();
  while (!g_stop) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (silentAfterMs >= 0 &&
        std::chrono::steady_clock::now() - start > std::chrono::milliseconds(silentAfterMs)) {
      box.SetSilent(true);
      silentAfterMs = -1;
    }
  }
  box.Stop();
  return 0;
}
