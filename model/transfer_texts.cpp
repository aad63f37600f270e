#include "model/transfer_texts.h"

#include <cstdio>

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

std::string Step(const CodeCatalogue& catalogue, int carrier, const ParamEntry& e) {
  if (e.seconds == 0 && e.code == 0) return "空";
  return catalogue.Name(FamilyOfCarrier(carrier), e.code) + " " + std::to_string(e.seconds) + " 秒";
}

std::string ProgressText(std::string lead, int blocksDone, int blocks, int attempt) {
  lead += std::to_string(blocksDone) + "/" + std::to_string(blocks);
  if (attempt > 1) lead += " (重试 " + std::to_string(attempt - 1) + ")";
  return lead;
}

}  // namespace

std::string DescribeDifference(const DifferenceItem& d, const CodeCatalogue& catalogue) {
  const std::string family = FamilyName(SignalFamily(d.family));
  switch (d.where) {
    case DifferenceItem::kStep:
      return CarrierTitle(d.carrier) + "第 " + std::to_string(d.step) + " 步：下发 " +
             Step(catalogue, d.carrier, d.sentStep) + "，读回 " + Step(catalogue, d.carrier, d.readStep);
    case DifferenceItem::kDeviceInfo:
      return "设备信息（" + family + "）第 " + std::to_string(d.index) + " 个值" + SentAndRead(d.sent, d.read, false);
    case DifferenceItem::kMask: return "载频掩码（" + family + "）" + SentAndRead(d.sent, d.read, true);
    case DifferenceItem::kLineOption: return "线路设置（" + family + "）" + SentAndRead(d.sent, d.read, false);
    case DifferenceItem::kHeaderCheck: return "参数头校验字节" + SentAndRead(d.sent, d.read, true);
    case DifferenceItem::kGroupCheck: return CarrierTitle(d.carrier) + "的组校验字节" + SentAndRead(d.sent, d.read, true);
    case DifferenceItem::kSpareByte:
      return CarrierTitle(d.carrier) + "的备用字节（第 " + std::to_string(d.index) + " 字节）" +
             SentAndRead(d.sent, d.read, true);
    case DifferenceItem::kSpareBlock:
      return "备用数据块第 " + std::to_string(d.index) + " 字节" + SentAndRead(d.sent, d.read, true);
  }
  return {};
}

std::string VerifyMismatchMessage(const VerifyDifference& d, const CodeCatalogue& catalogue) {
  const std::string first = d.items.empty() ? std::string() : DescribeDifference(d.items.front(), catalogue);
  return "校验不一致：下位机读回的参数与下发的不同。\n\n第一处不同：" + first + "\n共 " + std::to_string(d.bytes) +
         " 个字节不同。\n\n请重新下载。";
}

std::string VerifyStatusText(VerifyOutcome outcome) {
  const char* verdict = outcome == VerifyOutcome::kSame       ? text::kVerifySame
                        : outcome == VerifyOutcome::kMismatch ? text::kVerifyMismatch
                                                               : text::kVerifyFailed;
  return std::string(text::kDownloadOk) + verdict;
}

std::string VerifyMessage(VerifyOutcome outcome, const VerifyDifference& difference, const CodeCatalogue& catalogue) {
  switch (outcome) {
    case VerifyOutcome::kSame: return {};
    case VerifyOutcome::kMismatch: return VerifyMismatchMessage(difference, catalogue);
    case VerifyOutcome::kReadBackFailed: return text::kVerifyFailedMessage;
  }
  return {};
}

std::string TransferProgressText(bool download, int blocksDone, int blocks, int attempt) {
  return ProgressText(download ? " 下载中… " : " 上传中… ", blocksDone, blocks, attempt);
}

std::string VerifyProgressText(int blocksDone, int blocks, int attempt) {
  return ProgressText(std::string(text::kDownloadOk) + text::kVerifying + " ", blocksDone, blocks, attempt);
}

std::string DeviceInfoProgressText(int blocksDone, int blocks, int attempt) {
  return ProgressText(" 读取下位机设备信息… ", blocksDone, blocks, attempt);
}

}  // namespace km27
