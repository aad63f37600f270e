#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// The programme and its options are kept as plain byte arrays: these exact bytes go to the
// parameter file and to both lower machines.
namespace km27 {

inline constexpr int kSlotsPerBlock = 24;
inline constexpr int kEditableSlots = 20;  // slots 0..19 are shown and edited
inline constexpr int kBlockCount = 20;     // 19 carriers + one spare block
inline constexpr int kBlockBytes = kSlotsPerBlock * 2;
inline constexpr int kTableBytes = kBlockCount * kBlockBytes;  // 960
inline constexpr int kOptionsBytes = 8;

// One step: code index, then seconds (0 = empty slot).
struct ParamEntry {
  uint8_t code = 0;
  uint8_t seconds = 0;
  bool Occupied() const { return seconds != 0; }
  bool operator==(const ParamEntry& o) const { return code == o.code && seconds == o.seconds; }
};

class ParamTable {
 public:
  std::array<uint8_t, kTableBytes> bytes{};

  static constexpr size_t Offset(int block, int slot) { return size_t(block) * kBlockBytes + size_t(slot) * 2; }
  ParamEntry Entry(int block, int slot) const {
    return {bytes[Offset(block, slot)], bytes[Offset(block, slot) + 1]};
  }
  void SetEntry(int block, int slot, ParamEntry e) {
    bytes[Offset(block, slot)] = e.code;
    bytes[Offset(block, slot) + 1] = e.seconds;
  }
  bool Occupied(int block, int slot) const { return bytes[Offset(block, slot) + 1] != 0; }
  uint8_t* Block(int block) { return bytes.data() + size_t(block) * kBlockBytes; }
  const uint8_t* Block(int block) const { return bytes.data() + size_t(block) * kBlockBytes; }
  void Clear() { bytes.fill(0); }
  bool operator==(const ParamTable& o) const { return bytes == o.bytes; }
  bool operator!=(const ParamTable& o) const { return bytes != o.bytes; }
};

// Bytes 0..2 line options of families 0..2, 3..6 carrier masks of families 0..3, 7 check byte.
class ParamOptions {
 public:
  std::array<uint8_t, kOptionsBytes> bytes{};

  static constexpr int kMaskOffset = 3;
  static constexpr int kCheckOffset = 7;
  uint8_t LineOption(int family) const { return bytes[size_t(family)]; }
  void SetLineOption(int family, uint8_t v) { bytes[size_t(family)] = v; }
  uint8_t MaskByte(int family) const { return bytes[size_t(kMaskOffset + family)]; }
  void SetMaskByte(int family, uint8_t v) { bytes[size_t(kMaskOffset + family)] = v; }
  uint8_t CheckByte() const { return bytes[kCheckOffset]; }
  void SetCheckByte(uint8_t v) { bytes[kCheckOffset] = v; }
  void Clear() { bytes.fill(0); }
  bool operator==(const ParamOptions& o) const { return bytes == o.bytes; }
  bool operator!=(const ParamOptions& o) const { return bytes != o.bytes; }
};

// The whole programme, as the parameter file and the lower machines hold it.
struct Programme {
  ParamOptions options;
  ParamTable table;
  bool operator==(const Programme& o) const { return options == o.options && table == o.table; }
  bool operator!=(const Programme& o) const { return !(*this == o); }
};

// Sets each carrier's mask bit from its block (any of the 24 slots occupied); bits no carrier
// owns are left alone.
void UpdateCarrierMask(const ParamTable& table, ParamOptions& options);

struct TableCounts {
  int families = 0;
  int carriers = 0;
  int entries = 0;
};
TableCounts CountTable(const ParamTable& table);

// " 类型:%d", " 载频:%d", " 低频:%d" for statics 1030, 1031, 1032.
std::array<std::string, 3> CountTexts(const TableCounts& counts);

// The 8-bit sum of n bytes, and its two's complement: appended, it makes them sum to 0 modulo 256.
uint8_t Sum8(const uint8_t* data, size_t n);
uint8_t CheckByteFor(const uint8_t* data, size_t n);

}  // namespace km27
