#pragma once
#include <cstdint>
#include <string>

#include "model/device_info_bytes.h"
#include "store/file_io.h"

// "DDINFO.txt": the code transmitter's 96 bytes of device information as GBK text, four
// comment lines and four lines of 24 "%d," values, CR LF line ends.
namespace km27 {

inline constexpr char kDeviceInfoFileName[] = "DDINFO.txt";

// Comment line of family 0..3 (UTF-8); empty for any other family.
std::string DeviceInfoHeader(int family);

// "<startDir>/DDINFO.txt"; empty when the path would not fit the platform's path limit (the
// file is then skipped rather than a shortened path used).
std::string DeviceInfoPath(const std::string& startDir);

// The lenient reader over the file's bytes: lines containing "//" are skipped; every other
// line (an empty one too) fills the next row of 24 bytes. Blanks, then tabs, are removed; a
// field runs to the next comma searched from its second character and converts like atoi to
// its low 8 bits. Values beyond the 24th of a line and lines beyond the fourth are dropped.
// True when all 96 values were there (four value lines of at least 24 values each).
bool ParseDeviceInfo(const std::string& text, uint8_t* info96);

// The file's bytes (GBK) for 96 values.
std::string FormatDeviceInfo(const uint8_t* info96);

// What the file gave. Only a file with all 96 values may stand for the device's information:
// a download that sent zeros for the missing ones would wipe the device's own.
struct DeviceInfoLoad {
  enum Kind { kLoaded, kMissing, kUnreadable, kIncomplete };
  Kind kind = kMissing;
  std::string path;
  StoreFailure failure;  // why it cannot be used; kNone when loaded
  explicit operator bool() const { return kind == kLoaded; }
};

// Zeroes the values, then fills them from the file as far as it goes.
DeviceInfoLoad LoadDeviceInfo(const std::string& startDir, DeviceInfo& info);
// Replaces the file with the values; the old file stays whole if writing fails.
SaveResult SaveDeviceInfo(const std::string& startDir, const DeviceInfo& info);

}  // namespace km27
