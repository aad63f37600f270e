#include "link/verify.h"

#include "link/box_frame.h"

namespace km27 {

namespace {

// Byte `byte` of table block `block` (table order), whose first byte stands at `base` in what
// was compared; `groupCheck`: the block's last byte is the box's group check byte.
DifferenceItem TableByte(int block, size_t byte, size_t base, bool groupCheck) {
  DifferenceItem d;
  d.offset = base + byte;
  d.index = int(byte) + 1;
  if (block >= kCarrierCount) {
    d.where = DifferenceItem::kSpareBlock;
    return d;
  }
  d.carrier = block;
  if (groupCheck) {
    d.where = DifferenceItem::kGroupCheck;
  } else if (byte / 2 >= size_t(kEditableSlots)) {
    d.where = DifferenceItem::kSpareByte;
  } else {
    d.where = DifferenceItem::kStep;
    d.step = int(byte / 2) + 1;
    d.offset = base + (byte & ~size_t(1));
  }
  return d;
}

// `place(i)`: where byte i lies. Both bytes of a step are one difference.
template <class Place>
VerifyDifference Compare(const uint8_t* sent, const uint8_t* read, size_t n, Place place) {
  VerifyDifference d;
  for (size_t i = 0; i < n; ++i) {
    if (sent[i] == read[i]) continue;
    ++d.bytes;
    DifferenceItem item = place(i);
    if (item.where == DifferenceItem::kStep) {
      if (!d.items.empty() && d.items.back().where == DifferenceItem::kStep && d.items.back().offset == item.offset)
        continue;
      item.sentStep = {sent[item.offset], sent[item.offset + 1]};
      item.readStep = {read[item.offset], read[item.offset + 1]};
    } else {
      item.sent = sent[i];
      item.read = read[i];
    }
    d.items.push_back(item);
  }
  return d;
}

DifferenceItem Option(DifferenceItem::Where where, int family, size_t offset) {
  DifferenceItem d;
  d.where = where;
  d.family = family;
  d.offset = offset;
  return d;
}

}  // namespace

VerifyDifference CompareTransmitterImages(const TransmitterImage& sent, const TransmitterImage& readBack) {
  return Compare(sent.bytes.data(), readBack.bytes.data(), kImageBytes, [](size_t i) {
    if (i < kDeviceInfoBytes) {
      DifferenceItem d = Option(DifferenceItem::kDeviceInfo, int(i / kDeviceInfoRowBytes), i);
      d.index = int(i % kDeviceInfoRowBytes) + 1;
      return d;
    }
    if (i < kImageTableOffset) return Option(DifferenceItem::kMask, int(i - kImageMaskOffset), i);
    const size_t t = i - kImageTableOffset;
    const int deviceBlock = int(t / kBlockBytes);
    return TableByte(TransmitterImage::CarrierOfDeviceBlock(deviceBlock), t % kBlockBytes,
                     kImageTableOffset + size_t(deviceBlock) * kBlockBytes, false);
  });
}

VerifyDifference CompareBoxFrames(const uint8_t* sent, const uint8_t* readBack) {
  return Compare(sent, readBack, kBoxFrameBytes, [](size_t i) {
    if (i < size_t(kLineOptionFamilies)) return Option(DifferenceItem::kLineOption, int(i), i);
    if (i < size_t(kOptionsBytes) - 1) return Option(DifferenceItem::kMask, int(i - kLineOptionFamilies), i);
    if (i == size_t(kOptionsBytes) - 1) return Option(DifferenceItem::kHeaderCheck, 0, i);
    const size_t t = i - kOptionsBytes;
    const size_t byte = t % kBlockBytes;
    return TableByte(int(t / kBlockBytes), byte, kOptionsBytes + (t / kBlockBytes) * kBlockBytes,
                     byte == size_t(kBlockBytes) - 1);
  });
}

}  // namespace km27
