#include "link/transfer_frame.h"

#include <cstring>

#include "link/crc16.h"

namespace km27 {

Frame BuildFrame(uint8_t command, uint8_t parameter, const uint8_t* payload, size_t payloadBytes) {
  Frame f(payloadBytes + kFrameOverhead, 0);
  f[0] = kFrameStart;
  f[1] = uint8_t(f.size());
  f[2] = command;
  f[3] = parameter;
  if (payloadBytes) std::memcpy(&f[kPayloadOffset], payload, payloadBytes);
  SealFrame(f.data(), f.size());
  return f;
}

uint8_t BlockByte(int block) { return uint8_t(block % 255); }

Frame BuildIdentifyFrame() {
  return BuildFrame(CMD_IDENTIFY, 0, reinterpret_cast<const uint8_t*>(kIdentifyText), sizeof kIdentifyText - 1);
}

Frame BuildOpenFrame() { return BuildFrame(CMD_OPEN, 0, nullptr, 0); }

Frame BuildReadBlockFrame(int block) { return BuildFrame(CMD_READ_BLOCK, BlockByte(block), nullptr, 0); }

Frame BuildWriteBlockFrame(int block, const uint8_t* payload64) {
  return BuildFrame(CMD_WRITE_BLOCK, BlockByte(block), payload64, kBlockPayloadBytes);
}

bool IsIdentifyAnswer(const uint8_t* d, size_t n) {
  return n == kShortFrameBytes && d[2] == RSP_IDENTIFY && d[3] == 0 && FrameCrcGood(d, n);
}

bool IsOpenAnswer(const uint8_t* d, size_t n) { return n == kOpenAnswerBytes && FrameCrcGood(d, n); }

bool IsWriteAck(const uint8_t* d, size_t n, int block) {
  return n == kShortFrameBytes && d[2] == CMD_WRITE_BLOCK && d[3] == BlockByte(block) && FrameCrcGood(d, n);
}

bool IsReadAnswer(const uint8_t* d, size_t n, int block) {
  return n == kBlockFrameBytes && d[2] != 0 && d[3] == BlockByte(block) && FrameCrcGood(d, n);
}

}  // namespace km27
