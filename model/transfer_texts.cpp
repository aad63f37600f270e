#include "model/transfer_texts.h"

#include <cstdio>

#include "model/messages.h"
#include "model/status_texts.h"

namespace km27 {

namespace {

std::string Hex(uint8_t b) {
  char s[8];
  std::snprintf(s, sizeof s, "0x%02X", b);
  return s;
}

std::string Shown(uint8_t b, bool hex) { return hex ? Hex(b) : std::to_string(b); }

std::string Step(const CodeCatalogue& catalogue, int carrier, const ParamEntry& e) {
  if (e.seconds == 0 && e.code == 0) return Text(Msg::kEmptyStep);
  return Text(Msg::kStepValue, {catalogue.Name(FamilyOfCarrier(carrier), e.code), e.seconds});
}

std::string ProgressText(std::string lead, int blocksDone, int blocks, int attempt) {
  if (attempt > 1) return lead + Text(Msg::kBlocksRetry, {blocksDone, blocks, attempt - 1});
  return lead + std::to_string(blocksDone) + "/" + std::to_string(blocks);
}

}  // namespace

std::string DescribeDifference(const DifferenceItem& d, const CodeCatalogue& catalogue) {
  const std::string family = FamilyName(SignalFamily(d.family));
  const std::string caption = Carrier(d.carrier).caption;
  const std::string ownFamily = FamilyName(FamilyOfCarrier(d.carrier));
  switch (d.where) {
    case DifferenceItem::kStep:
      return Text(Msg::kDiffStep, {caption, ownFamily, d.step, Step(catalogue, d.carrier, d.sentStep),
                                   Step(catalogue, d.carrier, d.readStep)});
    case DifferenceItem::kDeviceInfo:
      return Text(Msg::kDiffDeviceInfo, {family, d.index, Shown(d.sent, false), Shown(d.read, false)});
    case DifferenceItem::kMask: return Text(Msg::kDiffMask, {family, Hex(d.sent), Hex(d.read)});
    case DifferenceItem::kLineOption: return Text(Msg::kDiffLineOption, {family, Shown(d.sent, false), Shown(d.read, false)});
    case DifferenceItem::kHeaderCheck: return Text(Msg::kDiffHeaderCheck, {Hex(d.sent), Hex(d.read)});
    case DifferenceItem::kGroupCheck: return Text(Msg::kDiffGroupCheck, {caption, ownFamily, Hex(d.sent), Hex(d.read)});
    case DifferenceItem::kSpareByte:
      return Text(Msg::kDiffSpareByte, {caption, ownFamily, d.index, Hex(d.sent), Hex(d.read)});
    case DifferenceItem::kSpareBlock: return Text(Msg::kDiffSpareBlock, {d.index, Hex(d.sent), Hex(d.read)});
  }
  return {};
}

std::string VerifyMismatchMessage(const VerifyDifference& d, const CodeCatalogue& catalogue) {
  const std::string first = d.items.empty() ? std::string() : DescribeDifference(d.items.front(), catalogue);
  return Text(Msg::kVerifyMismatchMessage, {first, d.bytes});
}

std::string VerifyStatusText(VerifyOutcome outcome) {
  const char* verdict = outcome == VerifyOutcome::kSame       ? text::kVerifySame()
                        : outcome == VerifyOutcome::kMismatch ? text::kVerifyMismatch()
                                                               : text::kVerifyFailed();
  return std::string(text::kDownloadOk()) + verdict;
}

std::string VerifyMessage(VerifyOutcome outcome, const VerifyDifference& difference, const CodeCatalogue& catalogue) {
  switch (outcome) {
    case VerifyOutcome::kSame: return {};
    case VerifyOutcome::kMismatch: return VerifyMismatchMessage(difference, catalogue);
    case VerifyOutcome::kReadBackFailed: return text::kVerifyFailedMessage();
  }
  return {};
}

std::string TransferProgressText(bool download, int blocksDone, int blocks, int attempt) {
  return ProgressText(Text(download ? Msg::kDownloading : Msg::kUploading), blocksDone, blocks, attempt);
}

std::string VerifyProgressText(int blocksDone, int blocks, int attempt) {
  return ProgressText(std::string(text::kDownloadOk()) + text::kVerifying() + " ", blocksDone, blocks, attempt);
}

std::string DeviceInfoProgressText(int blocksDone, int blocks, int attempt) {
  return ProgressText(Text(Msg::kReadingDeviceInfo), blocksDone, blocks, attempt);
}

}  // namespace km27
