#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace km27 {

// The code transmitter's 96 bytes of device information: four rows of 24 values, one row per
// signalling family. The tool only carries them between the device and its file.
inline constexpr size_t kDeviceInfoRows = 4;
inline constexpr size_t kDeviceInfoRowBytes = 24;
inline constexpr size_t kDeviceInfoBytes = kDeviceInfoRows * kDeviceInfoRowBytes;

using DeviceInfo = std::array<uint8_t, kDeviceInfoBytes>;

}  // namespace km27
