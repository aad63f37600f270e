#pragma once
#include <cstddef>
#include <cstdint>

// CRC-16/X-25 (the HDLC frame check sequence): width 16, poly 0x1021 processed reflected
// (0x8408), init 0xFFFF, reflected in and out, xorout 0xFFFF, sent low byte first.
namespace km27 {

inline constexpr uint16_t kCrcInitial = 0xFFFF;
inline constexpr uint16_t kCrcResidue = 0xF0B8;  // register after a whole good frame, CRC included

extern const uint16_t kCrc16Table[256];

// Register after feeding `count` bytes into a register that starts at `initial`.
uint16_t Crc16Update(uint16_t initial, const uint8_t* data, int count);

// Writes the complemented CRC of bytes 0..length-3 into the last two bytes, low byte first.
void SealFrame(uint8_t* frame, size_t length);
// True when the CRC residue over all `length` bytes is the good-frame residue.
bool FrameCrcGood(const uint8_t* frame, size_t length);

}  // namespace km27
