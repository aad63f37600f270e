#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "model/param_table.h"

namespace km27 {

inline constexpr const char kParamFileName[] = "KM27A.dat";
inline constexpr size_t kParamFileSize = 1056;
inline constexpr size_t kMakerFieldSize = 50;
inline constexpr size_t kVersionFieldSize = 38;
inline constexpr size_t kParamHeaderSize = kMakerFieldSize + kVersionFieldSize;  // 88

struct SaveResult {
  bool ok = false;
  std::string path;    // the file that was (or failed to be) written
  std::string reason;  // operating-system reason when !ok
};

// The whole 1056-byte file image for the given state.
std::array<uint8_t, kParamFileSize> BuildParamFileImage(const ParamOptions& options, const ParamTable& table);

// Accepts exactly 1056 bytes whose maker and version texts (up to their first zero) match.
bool ParseParamFileImage(const uint8_t* data, size_t size, ParamOptions& options, ParamTable& table);

// Fills options and table when the file is valid; otherwise leaves them untouched and returns false.
bool LoadParamFile(const std::string& path, ParamOptions& options, ParamTable& table);

// Writes a temporary file beside the target, flushes it to disk and renames it over the
// target, so the file is always either the old or the new complete one.
SaveResult SaveParamFile(const std::string& path, const ParamOptions& options, const ParamTable& table);

}  // namespace km27
