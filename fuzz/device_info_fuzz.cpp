// Device information reader: any text, any length; nothing may land outside the 96 bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "store/device_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Guard bytes on both sides catch any write past the device information.
  std::vector<uint8_t> buffer(96 + 64, 0xA5);
  km27::ParseDeviceInfo(std::string(reinterpret_cast<const char*>(data), size), buffer.data() + 32);
  for (size_t i = 0; i < 32; ++i)
    if (buffer[i] != 0xA5 || buffer[32 + 96 + i] != 0xA5) std::abort();
  // What the writer makes of the values reads back as the same values.
  const std::string text = km27::FormatDeviceInfo(buffer.data() + 32);
  std::vector<uint8_t> again(96, 0);
  km27::ParseDeviceInfo(text, again.data());
  for (size_t i = 0; i < 96; ++i)
    if (again[i] != buffer[32 + i]) std::abort();
  return 0;
}
