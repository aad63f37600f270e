#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Frames of the code transmitter: 55, total length, command, parameter, payload, CRC (low first).
namespace km27 {

inline constexpr uint8_t kFrameStart = 0x55;
inline constexpr uint8_t CMD_IDENTIFY = 0x05;
inline constexpr uint8_t RSP_IDENTIFY = 0x0A;
inline constexpr uint8_t CMD_OPEN = 0x31;
inline constexpr uint8_t CMD_WRITE_BLOCK = 0x20;
inline constexpr uint8_t CMD_READ_BLOCK = 0x30;

inline constexpr size_t kFrameOverhead = 6;  // start, length, command, parameter, 2 CRC bytes
inline constexpr size_t kShortFrameBytes = 6;
inline constexpr size_t kIdentifyFrameBytes = 16;
inline constexpr size_t kOpenAnswerBytes = 16;
inline constexpr size_t kBlockPayloadBytes = 64;
inline constexpr size_t kBlockFrameBytes = kBlockPayloadBytes + kFrameOverhead;  // 70
inline constexpr size_t kPayloadOffset = 4;
inline constexpr char kIdentifyText[] = "LYCKKM27CD";  // 10 ASCII bytes, no terminator sent

using Frame = std::vector<uint8_t>;

// A sealed frame: length = payload + 6.
Frame BuildFrame(uint8_t command, uint8_t parameter, const uint8_t* payload, size_t payloadBytes);
// The block number as it travels: block index modulo 255.
uint8_t BlockByte(int block);

Frame BuildIdentifyFrame();
Frame BuildOpenFrame();
Frame BuildReadBlockFrame(int block);
Frame BuildWriteBlockFrame(int block, const uint8_t* payload64);

// Answer checks: exactly the expected length, the examined bytes, and a good CRC. Bytes 0 and 1
// are not examined (the reader always knows how many bytes it waits for).
bool IsIdentifyAnswer(const uint8_t* data, size_t n);
bool IsOpenAnswer(const uint8_t* data, size_t n);
bool IsWriteAck(const uint8_t* data, size_t n, int block);
bool IsReadAnswer(const uint8_t* data, size_t n, int block);

}  // namespace km27
