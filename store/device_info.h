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
void ParseDeviceInfo(const std::string& text, uint8_t* info96);

// The file's bytes (GBK) for 96 values.
std::string FormatDeviceInfo(const uint8_t* info96);

// Zeroes the values, then fills them from the file; false when it can't be read.
bool LoadDeviceInfo(const std::string& startDir, DeviceInfo& info);
// Replaces the file with the values; the old file stays whole if writing fails.
SaveResult SaveDeviceInfo(const std::string& startDir, const DeviceInfo& info);

}  // namespace km27
