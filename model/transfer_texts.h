#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/code_catalogue.h"
#include "model/param_table.h"

// What a read-back found, as facts, and the words the window and the command line give them.
namespace km27 {

// One place where the device holds something else than was sent.
struct DifferenceItem {
  enum Where {
    kStep,         // a step of a carrier: both of its bytes
    kDeviceInfo,   // value `index` (1..24) of family `family`'s row
    kMask,         // the carrier mask of `family`
    kLineOption,   // the line setting of `family`
    kHeaderCheck,  // the check byte of the options
    kGroupCheck,   // the check byte of `carrier`'s block
    kSpareByte,    // byte `index` (1..48) of `carrier`'s block, past its steps
    kSpareBlock,   // byte `index` (1..48) of the spare block
  };
  Where where = kStep;
  int carrier = -1;   // kStep, kGroupCheck, kSpareByte
  int family = 0;     // kDeviceInfo, kMask, kLineOption
  int index = 0;
  int step = 0;       // kStep: 1..20
  size_t offset = 0;  // in what was compared: the step's first byte, or the byte
  ParamEntry sentStep, readStep;  // kStep
  uint8_t sent = 0, read = 0;     // every other place
};

struct VerifyDifference {
  std::vector<DifferenceItem> items;  // every place, in the order of the bytes
  size_t bytes = 0;                   // how many bytes differ; 0: the device holds what was sent
  bool Same() const { return bytes == 0; }
};

// How a read-back ended.
enum class VerifyOutcome { kSame, kMismatch, kReadBackFailed };

// "载频 650 Hz（移频）第 4 步：下发 8.0 Hz 8 秒，读回 8.0 Hz 9 秒", "设备信息（移频）第 6 个值：下发 0，读回 9".
std::string DescribeDifference(const DifferenceItem& item, const CodeCatalogue& catalogue);

// The message box after a mismatch: the first difference and the count.
std::string VerifyMismatchMessage(const VerifyDifference& d, const CodeCatalogue& catalogue);

// The status line after the read-back (the download's success text and the verdict), and the
// message for the operator (empty when all is well).
std::string VerifyStatusText(VerifyOutcome outcome);
std::string VerifyMessage(VerifyOutcome outcome, const VerifyDifference& difference, const CodeCatalogue& catalogue);

// The status line while blocks travel: " 下载中… 5/17", with the retry count once retrying; a
// download's read-back (" KM27A参数数据下载成功!  校验中… 5/17"); the device's own information
// read before a download (" 读取下位机设备信息… 5/17").
std::string TransferProgressText(bool download, int blocksDone, int blocks, int attempt);
std::string VerifyProgressText(int blocksDone, int blocks, int attempt);
std::string DeviceInfoProgressText(int blocksDone, int blocks, int attempt);

}  // namespace km27
