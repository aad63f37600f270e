#include "link/verify.h"

#include <cstdio>

#include "link/box_frame.h"
#include "model/status_texts.h"

namespace km27 {

namespace {

std::string Hex(uint8_t b) {
  char s[8];
  std::snprintf(s, sizeof s, "0x%02X", b);
  return s;
}

std::string SentAndRead(uint8_t sent, uint8_t read, bool hex) {
  const auto show = [hex](uint8_t b) { return hex ? Hex(b) : std::to_string(b); };
  return "：下发 " + show(sent) + "，读回 " + show(read);
}

std::string Step(const CodeCatalogue& catalogue, int carrier, uint8_t code, uint8_t seconds) {
  if (seconds == 0 && code == 0) return "空";
  return catalogue.Name(FamilyOfCarrier(carrier), code) + " " + std::to_string(seconds) + " 秒";
}

// A byte of table block `block` (table order) at `byte` within it; `sentBlock`/`readBlock` are
// that block's 48 bytes as sent and as read back.
std::string TableByte(const CodeCatalogue& catalogue, int block, size_t byte, const uint8_t* sentBlock,
                      const uint8_t* readBlock, bool groupCheck, VerifyDifference& d) {
  if (block < kCarrierCount) d.carrier = block;
  if (block < kCarrierCount && !groupCheck && byte / 2 < size_t(kEditableSlots)) d.step = int(byte / 2) + 1;
  if (block >= kCarrierCount) return "备用数据块第 " + std::to_string(byte + 1) + " 字节" + SentAndRead(sentBlock[byte], readBlock[byte], true);
  if (groupCheck) return CarrierTitle(block) + "的组校验字节" + SentAndRead(sentBlock[byte], readBlock[byte], true);
  const size_t slot = byte / 2;
  if (slot >= size_t(kEditableSlots))
    return CarrierTitle(block) + "的备用字节（第 " + std::to_string(byte + 1) + " 字节）" +
           SentAndRead(sentBlock[byte], readBlock[byte], true);
  const uint8_t* s = sentBlock + 2 * slot;
  const uint8_t* r = readBlock + 2 * slot;
  return CarrierTitle(block) + "第 " + std::to_string(slot + 1) + " 步：下发 " + Step(catalogue, block, s[0], s[1]) +
         "，读回 " + Step(catalogue, block, r[0], r[1]);
}

// `stepOf(i)`: the carrier and the offset of the step byte `i` belongs to, or carrier -1 when
// it is no step.
template <class Describe, class StepOf>
VerifyDifference Compare(const uint8_t* sent, const uint8_t* read, size_t n, Describe describe, StepOf stepOf) {
  VerifyDifference d;
  for (size_t i = 0; i < n; ++i) {
    if (sent[i] == read[i]) continue;
    if (d.bytes++ == 0) {
      d.firstOffset = i;
      d.first = describe(i, d);
    }
    DifferenceItem item;
    int step = 0;
    size_t at = i;
    item.carrier = stepOf(i, step, at);
    if (step > 0) {
      // Both bytes of a step are one difference.
      if (!d.items.empty() && d.items.back().step == step && d.items.back().offset == at) continue;
      item.step = step;
      item.offset = at;
      item.sentStep = {sent[at], sent[at + 1]};
      item.readStep = {read[at], read[at + 1]};
    } else {
      item.offset = i;
      item.sent = sent[i];
      item.read = read[i];
    }
    d.items.push_back(item);
  }
  return d;
}

// Where a byte of table block `block` at `byte` within it stands as a step: its carrier, step
// and the offset of the step's first byte (`base`: the block's offset).
int TableStep(int block, size_t byte, size_t base, bool groupCheck, int& step, size_t& at) {
  if (block >= kCarrierCount) return -1;
  if (!groupCheck && byte / 2 < size_t(kEditableSlots)) {
    step = int(byte / 2) + 1;
    at = base + (byte & ~size_t(1));
  }
  return block;
}

}  // namespace

VerifyDifference CompareTransmitterImages(const TransmitterImage& sent, const TransmitterImage& readBack,
                                          const CodeCatalogue& catalogue) {
  const uint8_t* s = sent.bytes.data();
  const uint8_t* r = readBack.bytes.data();
  return Compare(s, r, kImageBytes, [&](size_t i, VerifyDifference& d) -> std::string {
    if (i < kDeviceInfoBytes)
      return std::string("设备信息（") + FamilyName(SignalFamily(i / kDeviceInfoRowBytes)) + "）第 " +
             std::to_string(i % kDeviceInfoRowBytes + 1) + " 个值" + SentAndRead(s[i], r[i], false);
    if (i < kImageTableOffset)
      return std::string("载频掩码（") + FamilyName(SignalFamily(i - kImageMaskOffset)) + "）" + SentAndRead(s[i], r[i], true);
    const size_t t = i - kImageTableOffset;
    const int deviceBlock = int(t / kBlockBytes);
    const size_t base = kImageTableOffset + size_t(deviceBlock) * kBlockBytes;
    return TableByte(catalogue, TransmitterImage::CarrierOfDeviceBlock(deviceBlock), t % kBlockBytes, s + base, r + base,
                     false, d);
  }, [](size_t i, int& step, size_t& at) {
    if (i < kImageTableOffset) return -1;
    const size_t t = i - kImageTableOffset;
    const int deviceBlock = int(t / kBlockBytes);
    return TableStep(TransmitterImage::CarrierOfDeviceBlock(deviceBlock), t % kBlockBytes,
                     kImageTableOffset + size_t(deviceBlock) * kBlockBytes, false, step, at);
  });
}

VerifyDifference CompareBoxFrames(const uint8_t* sent, const uint8_t* readBack, const CodeCatalogue& catalogue) {
  return Compare(sent, readBack, kBoxFrameBytes, [&](size_t i, VerifyDifference& d) -> std::string {
    if (i < size_t(kLineOptionFamilies))
      return std::string("线路设置（") + FamilyName(SignalFamily(i)) + "）" + SentAndRead(sent[i], readBack[i], false);
    if (i < size_t(kOptionsBytes) - 1)
      return std::string("载频掩码（") + FamilyName(SignalFamily(i - kLineOptionFamilies)) + "）" + SentAndRead(sent[i], readBack[i], true);
    if (i == size_t(kOptionsBytes) - 1) return "参数头校验字节" + SentAndRead(sent[i], readBack[i], true);
    const size_t t = i - kOptionsBytes;
    const int block = int(t / kBlockBytes);
    const size_t byte = t % kBlockBytes;
    const size_t base = kOptionsBytes + size_t(block) * kBlockBytes;
    return TableByte(catalogue, block, byte, sent + base, readBack + base, byte == size_t(kBlockBytes) - 1, d);
  }, [](size_t i, int& step, size_t& at) {
    if (i < size_t(kOptionsBytes)) return -1;
    const size_t t = i - kOptionsBytes;
    const size_t byte = t % kBlockBytes;
    return TableStep(int(t / kBlockBytes), byte, kOptionsBytes + (t / kBlockBytes) * kBlockBytes,
                     byte == size_t(kBlockBytes) - 1, step, at);
  });
}

std::string VerifyMismatchMessage(const VerifyDifference& d) {
  return "校验不一致：下位机读回的参数与下发的不同。\n\n第一处不同：" + d.first + "\n共 " + std::to_string(d.bytes) +
         " 个字节不同。\n\n请重新下载。";
}

std::string VerifyStatusText(VerifyOutcome outcome) {
  const char* verdict = outcome == VerifyOutcome::kSame       ? text::kVerifySame
                        : outcome == VerifyOutcome::kMismatch ? text::kVerifyMismatch
                                                               : text::kVerifyFailed;
  return std::string(text::kDownloadOk) + verdict;
}

std::string VerifyMessage(VerifyOutcome outcome, const VerifyDifference& difference) {
  switch (outcome) {
    case VerifyOutcome::kSame: return {};
    case VerifyOutcome::kMismatch: return VerifyMismatchMessage(difference);
    case VerifyOutcome::kReadBackFailed: return text::kVerifyFailedMessage;
  }
  return {};
}

}  // namespace km27
