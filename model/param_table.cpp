#include "model/param_table.h"

#include "model/code_catalogue.h"
#include "model/messages.h"

namespace km27 {

void UpdateCarrierMask(const ParamTable& table, ParamOptions& options) {
  for (int c = 0; c < kCarrierCount; ++c) {
    bool inUse = false;
    for (int s = 0; s < kSlotsPerBlock && !inUse; ++s) inUse = table.Occupied(c, s);
    const CarrierInfo& info = Carrier(c);
    uint8_t byte = options.MaskByte(info.family);
    const uint8_t bit = uint8_t(1u << info.maskBit);
    byte = inUse ? uint8_t(byte | bit) : uint8_t(byte & ~bit);
    options.SetMaskByte(info.family, byte);
  }
}

TableCounts CountTable(const ParamTable& table) {
  // Slot ranges of the four families over the whole table (24 slots a block); block 19 is spare.
  struct Range {
    int first, last;
  };
  static const Range kRanges[kFamilyCount] = {{0, 95}, {96, 191}, {192, 383}, {384, 455}};
  TableCounts counts;
  int previousBlock = -1;
  for (const Range& r : kRanges) {
    bool used = false;
    for (int i = r.first; i <= r.last; ++i) {
      // Slot 23 carries the code box's check byte, not a step.
      if (i % kSlotsPerBlock == kSlotsPerBlock - 1) continue;
      if (table.bytes[size_t(i) * 2 + 1] == 0) continue;
      ++counts.entries;
      used = true;
      if (i / kSlotsPerBlock != previousBlock) {
        ++counts.carriers;
        previousBlock = i / kSlotsPerBlock;
      }
    }
    if (used) ++counts.families;
  }
  return counts;
}

std::array<std::string, 3> CountTexts(const TableCounts& counts) {
  return {Text(Msg::kCountFamilies, {counts.families}), Text(Msg::kCountCarriers, {counts.carriers}),
          Text(Msg::kCountCodes, {counts.entries})};
}

uint8_t Sum8(const uint8_t* data, size_t n) {
  uint8_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum = uint8_t(sum + data[i]);
  return sum;
}

uint8_t CheckByteFor(const uint8_t* data, size_t n) { return uint8_t(-Sum8(data, n)); }

}  // namespace km27
