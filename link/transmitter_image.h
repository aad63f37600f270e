#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "model/device_info_bytes.h"
#include "model/param_table.h"

namespace km27 {

// The code transmitter's programme as it travels: 96 bytes of device information (4 rows of
// 24, one per family), the four carrier masks and the 960-byte table, the last two in the
// device's carrier order.
inline constexpr size_t kImageBytes = 1060;
inline constexpr size_t kImageMaskOffset = kDeviceInfoBytes;
inline constexpr size_t kImageTableOffset = 100;
inline constexpr int kTransferBlocks = 17;
inline constexpr size_t kTransferBlockBytes = 64;
inline constexpr size_t kLastBlockBytes = kImageBytes - 16 * kTransferBlockBytes;  // 36

static_assert(kImageTableOffset + kTableBytes == kImageBytes, "the table fills the image");

class TransmitterImage {
 public:
  std::array<uint8_t, kImageBytes> bytes{};

  // The device orders some carriers differently; every exchange is its own inverse.
  static uint8_t ExchangeMask(int family, uint8_t mask);
  void ExchangeMasks();   // image bytes 96..98 in place
  void ExchangeBlocks();  // the table area in place
  // The table block (carrier) that travels as device block `block`.
  static int CarrierOfDeviceBlock(int block);

  // Bytes 96..1059 from the options' masks and the table, in device order; 0..95 are kept.
  void BuildFrom(const ParamOptions& options, const ParamTable& table);

  // Image bytes carried by transfer block k (64, or 36 for the last block).
  static size_t BlockBytes(int block);
  // The 64 payload bytes of block k (the last block padded with zeros).
  std::array<uint8_t, kTransferBlockBytes> BlockPayload(int block) const;
  // Stores a received payload; only BlockBytes(k) bytes of it, so the image never grows.
  void StoreBlock(int block, const uint8_t* payload64);

  void Clear() { bytes.fill(0); }
  DeviceInfo Info() const;                  // bytes 0..95
  void SetInfo(const DeviceInfo& info);
  bool operator==(const TransmitterImage& o) const { return bytes == o.bytes; }
};

}  // namespace km27
