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

// The machine's full name in the interface's language.
inline const char* DeviceModelTitle(DeviceModel m) {
  return MessageEntry(IsCodeTransmitter(m) ? Msg::kCodeTransmitterTitle : Msg::kCodeBoxTitle).In(CurrentLanguage());
}

}  // namespace km27
