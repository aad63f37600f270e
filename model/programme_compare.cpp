#include "model/programme_compare.h"

#include "model/code_catalogue.h"

namespace km27 {

VerifyDifference CompareProgrammes(const Programme& a, const Programme& b) {
  VerifyDifference d;
  for (int i = 0; i < kOptionsBytes - 1; ++i) {
    const uint8_t x = a.options.bytes[size_t(i)], y = b.options.bytes[size_t(i)];
    if (x == y) continue;
    DifferenceItem item;
    const bool line = i < kLineOptionFamilies;
    item.where = line ? DifferenceItem::kLineOption : DifferenceItem::kMask;
    item.family = line ? i : i - ParamOptions::kMaskOffset;
    item.offset = size_t(i);
    item.sent = x;
    item.read = y;
    d.items.push_back(item);
    ++d.bytes;
  }
  for (int c = 0; c < kCarrierCount; ++c) {
    for (int slot = 0; slot < kEditableSlots; ++slot) {
      const ParamEntry x = a.table.Entry(c, slot), y = b.table.Entry(c, slot);
      const int bytes = (x.code != y.code) + (x.seconds != y.seconds);
      if (bytes == 0) continue;
      DifferenceItem item;
      item.carrier = c;
      item.step = slot + 1;
      item.offset = size_t(kOptionsBytes) + ParamTable::Offset(c, slot);
      item.sentStep = x;
      item.readStep = y;
      d.items.push_back(item);
      d.bytes += size_t(bytes);
    }
  }
  return d;
}

}  // namespace km27
