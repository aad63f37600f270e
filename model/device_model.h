#pragma once
#include <cstdint>

#include "model/messages.h"

namespace km27 {

// The lower machine served; fixed for the life of the main window. Consumers test zero / non-zero.
enum DeviceModel : uint8_t {
  CodeBox = 0,          // KM27A code box
  CodeTransmitter = 1,  // KM27C code transmitter
};

inline bool IsCodeTransmitter(DeviceModel m) { return m != CodeBox; }

// The machines' full names, as the start-up dialog's template holds them (the window translates
// its templates itself).
inline constexpr char kCodeBoxTitle[] = "KM27A通用机车信号发码箱";
inline constexpr char kCodeTransmitterTitle[] = "KM27C通用机车信号发码器";

// The full name in the interface's language, as messages give it.
inline const char* DeviceModelTitle(DeviceModel m) {
  return MessageEntry(IsCodeTransmitter(m) ? Msg::kCodeTransmitterTitle : Msg::kCodeBoxTitle).In(CurrentLanguage());
}

}  // namespace km27
