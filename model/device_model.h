#pragma once
#include <cstdint>

namespace km27 {

// The lower machine served; fixed for the life of the main window. Consumers test zero / non-zero.
enum DeviceModel : uint8_t {
  CodeBox = 0,          // KM27A code box
  CodeTransmitter = 1,  // KM27C code transmitter
};

inline bool IsCodeTransmitter(DeviceModel m) { return m != CodeBox; }

// The machines' full names, as the start-up dialog and the command line show them.
inline constexpr char kCodeBoxTitle[] = "KM27A通用机车信号发码箱";
inline constexpr char kCodeTransmitterTitle[] = "KM27C通用机车信号发码器";

}  // namespace km27
