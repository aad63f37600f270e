#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "model/param_table.h"

// The code box's byte protocol and its 968-byte programme frame (same layout both ways):
// the 8 option bytes with their check byte, then per carrier block the first 47 bytes and,
// in place of the time byte of slot 23, a check byte that makes the 48-byte group sum to 0.
namespace km27 {

inline constexpr uint8_t CMD_BOX_PRESENCE = 0xA5;  // box -> PC: a chunk starting with it brings the link up
inline constexpr uint8_t CMD_BOX_DOWNLOAD = 0x55;  // PC -> box: the frame follows
inline constexpr uint8_t CMD_BOX_ACCEPT = 0x5A;    // box -> PC: 'Z', download accepted
inline constexpr uint8_t CMD_BOX_UPLOAD = 0xAA;    // PC -> box: send me your frame

inline constexpr size_t kBoxHeaderBytes = kOptionsBytes;                  // 8
inline constexpr size_t kBoxGroupBytes = kBlockBytes;                     // 48
inline constexpr size_t kBoxFrameBytes = kBoxHeaderBytes + kTableBytes;  // 968

using BoxFrame = std::array<uint8_t, kBoxFrameBytes>;

// Stores the header check byte in `options` (it travels with the options and is saved with them).
void SealBoxHeader(ParamOptions& options);

// Frame of the options as they are (header check byte recomputed in the frame) and a copy of the
// table whose group check bytes are filled in; neither argument changes.
BoxFrame BuildBoxFrame(const ParamOptions& options, const ParamTable& table);

// True when the header and every 48-byte group of `frame` (kBoxFrameBytes long) sum to 0.
bool BoxFrameValid(const uint8_t* frame);

// On a valid frame fills both outputs from it (the group check bytes land in slot 23's time
// byte) and returns true; otherwise leaves them untouched.
bool ParseBoxFrame(const uint8_t* frame, ParamOptions& options, ParamTable& table);

}  // namespace km27
