#include "link/transmitter_image.h"

#include <algorithm>
#include <cstring>

namespace km27 {

namespace {

uint8_t SwapBits(uint8_t v, int a, int b) {
  uint8_t ba = (v >> a) & 1u, bb = (v >> b) & 1u;
  if (ba == bb) return v;
  return uint8_t(v ^ ((1u << a) | (1u << b)));
}

// 650/750 Hz, UM71 2000/2300 Hz, ZPW2000 2001.4/1698.7 Hz and 2601.4/2298.7 Hz change places.
constexpr int kBlockSwaps[][2] = {{1, 2}, {5, 6}, {9, 12}, {11, 14}};

}  // namespace

uint8_t TransmitterImage::ExchangeMask(int family, uint8_t mask) {
  switch (family) {
    case 0:
    case 1:
      return SwapBits(mask, 1, 2);
    case 2:
      return SwapBits(SwapBits(mask, 1, 4), 3, 6);
    default:
      return mask;
  }
}

void TransmitterImage::ExchangeMasks() {
  for (int f = 0; f < 3; ++f) bytes[kImageMaskOffset + size_t(f)] = ExchangeMask(f, bytes[kImageMaskOffset + size_t(f)]);
}

int TransmitterImage::CarrierOfDeviceBlock(int block) {
  for (const auto& s : kBlockSwaps) {
    if (block == s[0]) return s[1];
    if (block == s[1]) return s[0];
  }
  return block;
}

void TransmitterImage::ExchangeBlocks() {
  uint8_t* table = bytes.data() + kImageTableOffset;
  for (const auto& s : kBlockSwaps)
    std::swap_ranges(table + s[0] * kBlockBytes, table + (s[0] + 1) * kBlockBytes, table + s[1] * kBlockBytes);
}

void TransmitterImage::BuildFrom(const ParamOptions& options, const ParamTable& table) {
  for (int f = 0; f < 4; ++f) bytes[kImageMaskOffset + size_t(f)] = ExchangeMask(f, options.MaskByte(f));
  std::memcpy(bytes.data() + kImageTableOffset, table.bytes.data(), kTableBytes);
  ExchangeBlocks();
}

DeviceInfo TransmitterImage::Info() const {
  DeviceInfo info;
  std::copy(bytes.begin(), bytes.begin() + kDeviceInfoBytes, info.begin());
  return info;
}

void TransmitterImage::SetInfo(const DeviceInfo& info) { std::copy(info.begin(), info.end(), bytes.begin()); }

size_t TransmitterImage::BlockBytes(int block) {
  if (block < 0 || block >= kTransferBlocks) return 0;
  return block == kTransferBlocks - 1 ? kLastBlockBytes : kTransferBlockBytes;
}

std::array<uint8_t, kTransferBlockBytes> TransmitterImage::BlockPayload(int block) const {
  std::array<uint8_t, kTransferBlockBytes> p{};
  size_t n = BlockBytes(block);
  if (n) std::memcpy(p.data(), bytes.data() + size_t(block) * kTransferBlockBytes, n);
  return p;
}

void TransmitterImage::StoreBlock(int block, const uint8_t* payload64) {
  size_t n = BlockBytes(block);
  if (n) std::memcpy(bytes.data() + size_t(block) * kTransferBlockBytes, payload64, n);
}

}  // namespace km27
