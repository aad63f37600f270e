#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "port/port.h"

namespace km27::testing {

// A line the engine tests script: every write is kept with the speed it went at, nothing ever
// answers, and a speed change can be refused (a terminal server's raw TCP keeps its own speed).
// Reads give up at once; the engine's own pauses pace it.
class FakePort : public Port {
 public:
  struct Sent {
    int baud;
    std::vector<uint8_t> bytes;
  };
  bool refuseSpeedChange = false;

  std::vector<Sent> Written() const {
    std::lock_guard<std::mutex> lock(m_);
    return written_;
  }
  int Opens() const { return opens_; }

  bool Open(const std::string& devicePath, OpenDevices*) override {
    path_ = devicePath;
    open_ = true;
    baud_ = 9600;
    ++opens_;
    return true;
  }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  const std::string& DevicePath() const override { return path_; }
  bool SetLine(int baud, Parity, int, int) override { return SetBaud(baud); }
  bool SetBaud(int baud) override {
    if (refuseSpeedChange && baud != 9600) return false;
    baud_ = baud;
    return true;
  }
  int Baud() const override { return baud_; }
  bool SetRts(bool) override { return true; }
  void SetTimeouts(const SerialTimeouts& t) override { timeouts_ = t; }
  const SerialTimeouts& Timeouts() const override { return timeouts_; }
  bool Purge(bool, bool) override { return true; }
  bool Drain() override { return true; }
  IoResult Write(const uint8_t* data, size_t n) override {
    std::lock_guard<std::mutex> lock(m_);
    written_.push_back({baud_, std::vector<uint8_t>(data, data + n)});
    return {n, IoStatus::Ok};
  }
  IoResult Read(uint8_t*, size_t) override { return {0, IoStatus::TimedOut}; }
  IoResult ReadAvailable(uint8_t*, size_t) override { return {0, IoStatus::Ok}; }
  IoResult WriteAvailable(const uint8_t* data, size_t n) override { return Write(data, n); }
  int InBufferCount() const override { return 0; }
  int OutBufferCount() const override { return 0; }
  void Abort() override { aborted_ = true; }
  void ClearAbort() override { aborted_ = false; }
  bool AbortRequested() const override { return aborted_; }
  bool Sleep(int ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return !aborted_;
  }
  int LastError() const override { return 0; }
  std::string LastErrorText() const override { return {}; }
  const PortHolder& Holder() const override { return holder_; }
  std::unique_ptr<PortWatch> Watch(IoDispatcher&, PortEvents) override { return nullptr; }

 private:
  mutable std::mutex m_;
  std::vector<Sent> written_;
  std::string path_;
  std::atomic<bool> open_{false};
  std::atomic<int> baud_{9600};
  std::atomic<int> opens_{0};
  std::atomic<bool> aborted_{false};
  SerialTimeouts timeouts_;
  PortHolder holder_;
};

}  // namespace km27::testing
