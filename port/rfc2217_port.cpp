#include "port/rfc2217_port.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "model/messages.h"

namespace km27 {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
constexpr uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
// COM port option commands (client → server); the server confirms with the command + 100.
constexpr uint8_t kSetBaud = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5,
                  kPurgeData = 12;
constexpr uint8_t kServerOffset = 100;

bool Acceptable(uint8_t option) { return option == kBinary || option == kSuppressGoAhead || option == kComPort; }

// Servers (by address) that left a command unconfirmed: the next connection does not wait for
// it again. One search over eleven COM numbers would otherwise pay the wait at every open.
struct Unconfirmed {
  std::mutex m;
  std::set<std::string> keys;
};
Unconfirmed& UnconfirmedStore() {
  static Unconfirmed u;
  return u;
}
std::string UnconfirmedKey(const NetUrl& u, uint8_t cmd) {
  return u.host + "|" + std::to_string(u.port) + "|" + std::to_string(cmd);
}

}  // namespace

void Rfc2217Port::Reset() {
  state_ = State::Data;
  sub_.clear();
  std::memset(remote_, 0, sizeof remote_);
  std::memset(local_, 0, sizeof local_);
  std::memset(refused_, 0, sizeof refused_);
  std::memset(asked_, 0, sizeof asked_);
  std::memset(confirmed_, 0, sizeof confirmed_);
  for (auto& a : answer_) a.clear();
  baud_ = 9600;
}

void Rfc2217Port::Reply(uint8_t verb, uint8_t option) { SendControl({kIac, verb, option}); }

void Rfc2217Port::OnOption(uint8_t verb, uint8_t option) {
  const bool ok = Acceptable(option);
  switch (verb) {
    case kWill:
      if (remote_[option]) return;
      if (!ok) return Reply(kDont, option);
      remote_[option] = true;
      if (!asked_[option]) Reply(kDo, option);
      return;
    case kWont:
      if (asked_[option]) refused_[option] = true;
      if (remote_[option]) Reply(kDont, option);
      remote_[option] = false;
      return;
    case kDo:
      if (local_[option]) return;
      if (!ok) return Reply(kWont, option);
      local_[option] = true;
      if (!asked_[option]) Reply(kWill, option);
      return;
    case kDont:
      if (asked_[option]) refused_[option] = true;
      if (local_[option]) Reply(kWont, option);
      local_[option] = false;
      return;
  }
}

void Rfc2217Port::OnSubnegotiation() {
  if (sub_.size() < 2 || sub_[0] != kComPort || sub_[1] < kServerOffset) return;
  const unsigned cmd = sub_[1] - kServerOffset;
  if (cmd >= 16) return;  // line and modem state notices: nothing here waits for them
  answer_[cmd].assign(sub_.begin() + 2, sub_.end());
  ++confirmed_[cmd];
}

void Rfc2217Port::Take(const uint8_t* data, size_t n) {
  // The state lives on between calls: a word split across reads is put together again.
  size_t runStart = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = data[i];
    switch (state_) {
      case State::Data:
        if (b != kIac) continue;  // a run of device bytes, pushed in one go
        PushInput(data + runStart, i - runStart);
        state_ = State::Iac;
        break;
      case State::Iac:
        if (b == kIac) {
          PushInput(&b, 1);
          state_ = State::Data;
        } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
          verb_ = b;
          state_ = State::Option;
        } else if (b == kSb) {
          sub_.clear();
          state_ = State::Sub;
        } else {
          state_ = State::Data;  // NOP, GA and the like carry nothing for us
        }
        break;
      case State::Option:
        OnOption(verb_, b);
        state_ = State::Data;
        break;
      case State::Sub:
        if (b == kIac) {
          state_ = State::SubIac;
        } else if (sub_.size() < 64) {
          sub_.push_back(b);
        }
        break;
      case State::SubIac:
        if (b == kIac) {
          if (sub_.size() < 64) sub_.push_back(b);
          state_ = State::Sub;
        } else {
          if (b == kSe) OnSubnegotiation();
          state_ = State::Data;
        }
        break;
    }
    runStart = i + 1;
  }
  if (state_ == State::Data && runStart < n) PushInput(data + runStart, n - runStart);
}

bool Rfc2217Port::Start() {
  asked_[kBinary] = asked_[kComPort] = true;
  local_[kBinary] = remote_[kBinary] = local_[kComPort] = false;
  if (!SendControl({kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kComPort})) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timing_.connectMs);
  while (!(local_[kBinary] && remote_[kBinary] && local_[kComPort])) {
    if (refused_[kBinary] || refused_[kComPort])
      return Fail(EPROTONOSUPPORT, Text(Msg::kRfc2217Refused, {Url().host, Url().port}));
    bool timedOut = false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (!WaitInput(int(std::max<long long>(left, 0)), &timedOut)) {
      if (timedOut) return Fail(EPROTO, Text(Msg::kRfc2217NoAnswer, {Url().host, Url().port}));
      return false;  // gone (Open calls that busy) or aborted
    }
  }
  // The line as every open leaves it, and nothing the device said before we came. The speed's
  // confirmation measures the network without sending the device anything.
  const auto asked = Clock::now();
  const unsigned before = confirmed_[kSetBaud];
  if (!SetBaud(9600)) return false;
  if (confirmed_[kSetBaud] != before)
    NoteRoundTripUs(long(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - asked).count()));
  return SetLine(9600, Parity::None, 8, 1) && Purge(true, true);
}

bool Rfc2217Port::Command(uint8_t cmd, const std::vector<uint8_t>& value, std::vector<uint8_t>* answer) {
  if (!IsOpen()) return Fail(EBADF);
  std::vector<uint8_t> word = {kIac, kSb, kComPort, cmd};
  for (uint8_t b : value) {
    word.push_back(b);
    if (b == kIac) word.push_back(kIac);
  }
  word.push_back(kIac);
  word.push_back(kSe);
  const unsigned before = confirmed_[cmd];
  if (!SendControl(word)) return false;
  const std::string key = UnconfirmedKey(Url(), cmd);
  {
    Unconfirmed& u = UnconfirmedStore();
    std::lock_guard<std::mutex> lock(u.m);
    if (u.keys.count(key)) return true;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timing_.ackMs);
  while (confirmed_[cmd] == before) {
    bool timedOut = false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (!WaitInput(int(std::max<long long>(left, 0)), &timedOut)) {
      if (!timedOut) return false;  // gone or aborted
      Unconfirmed& u = UnconfirmedStore();
      std::lock_guard<std::mutex> lock(u.m);
      u.keys.insert(key);
      return true;  // taken as done: the data that follows is in order behind it anyway
    }
  }
  if (answer) *answer = answer_[cmd];
  return true;
}

bool Rfc2217Port::SetLine(int baud, Parity parity, int dataBits, int stopBits) {
  if (dataBits < 5 || dataBits > 8 || (stopBits != 1 && stopBits != 2)) return Fail(EINVAL);
  if (!SetBaud(baud)) return false;
  const uint8_t parityCode = parity == Parity::None ? 1 : parity == Parity::Odd ? 2 : 3;
  return Command(kSetDataSize, {uint8_t(dataBits)}) && Command(kSetParity, {parityCode}) &&
         Command(kSetStopSize, {uint8_t(stopBits)});
}

bool Rfc2217Port::SetBaud(int baud) {
  if (baud <= 0) return Fail(EINVAL);
  std::vector<uint8_t> answer;
  const std::vector<uint8_t> value = {uint8_t(baud >> 24), uint8_t(baud >> 16), uint8_t(baud >> 8), uint8_t(baud)};
  if (!Command(kSetBaud, value, &answer)) return false;
  if (answer.size() == 4) {
    const int got = int(uint32_t(answer[0]) << 24 | uint32_t(answer[1]) << 16 | uint32_t(answer[2]) << 8 | answer[3]);
    // The server answers with the speed its line now has: another one means it refused ours.
    if (got != baud) return Fail(EINVAL, Text(Msg::kRfc2217BaudRefused, {Url().host, Url().port, baud}));
  }
  baud_ = baud;
  return true;
}

bool Rfc2217Port::SetRts(bool on) { return Command(kSetControl, {uint8_t(on ? 11 : 12)}); }

bool Rfc2217Port::Purge(bool input, bool output) {
  if (!input && !output) return IsOpen() || Fail(EBADF);
  const uint8_t which = input && output ? 3 : input ? 1 : 2;
  // Once the server confirms, what the device said before is behind us in the stream.
  return Command(kPurgeData, {which}) && NetPort::Purge(input, output);
}

}  // namespace km27
