#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "model/param_table.h"

// One programme, one fingerprint: in the window, in km27ctl, after an upload from either lower
// machine and on paper. It is the SHA-256 of the programme's own bytes, nothing a file or a
// device adds: the seven option bytes without the check byte (KM27A.dat bytes 88-94), then for
// each of the 19 carriers its first 20 steps (40 bytes of its 48-byte block).
namespace km27 {

inline constexpr size_t kFingerprintBytes = 7 + 19 * 40;  // 767

std::string Sha256Hex(const uint8_t* data, size_t n);  // 64 lower-case hex digits

std::string ProgrammeFingerprint(const ParamOptions& options, const ParamTable& table);

// "1a2b 3c4d ...": groups of four hex digits, as the printed record shows it.
std::string GroupedFingerprint(const std::string& hex);

}  // namespace km27
