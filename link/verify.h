#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/transmitter_image.h"
#include "model/code_catalogue.h"

// What a read-back after a download shows: the device holds exactly what was sent, or where it
// differs, told in the operator's terms (carrier and step, option, header byte).
namespace km27 {

// One place where the device holds something else: a step of a carrier (both of its bytes
// together), or any other byte.
struct DifferenceItem {
  int carrier = -1;   // the carrier (table block); -1 outside the carriers
  int step = 0;       // 1..20 for a step; 0 for any other byte
  size_t offset = 0;  // in what was compared: the step's first byte, or the byte
  ParamEntry sentStep, readStep;  // a step
  uint8_t sent = 0, read = 0;     // any other byte
};

struct VerifyDifference {
  std::vector<DifferenceItem> items;  // every difference, in the order of the bytes
  size_t bytes = 0;         // how many bytes differ; 0: the device holds what was sent
  size_t firstOffset = 0;   // of the first one, in what was compared
  std::string first;        // the first difference, in the operator's terms (Chinese)
  int carrier = -1;         // the carrier (table block) it lies in; -1 outside the carriers
  int step = 0;             // its step (1..20) within that carrier; 0 when it is no step
  bool Same() const { return bytes == 0; }
};

// The code transmitter: the whole 1060-byte image as it travelled (device carrier order).
VerifyDifference CompareTransmitterImages(const TransmitterImage& sent, const TransmitterImage& readBack,
                                          const CodeCatalogue& catalogue);

// The code box: the 968-byte frame as it travelled.
VerifyDifference CompareBoxFrames(const uint8_t* sent, const uint8_t* readBack, const CodeCatalogue& catalogue);

// The message box after a mismatch.
std::string VerifyMismatchMessage(const VerifyDifference& d);

// How a read-back ended.
enum class VerifyOutcome { kSame, kMismatch, kReadBackFailed };

// The status line after the read-back (the download's success text and the verdict), and the
// message for the operator (empty when all is well).
std::string VerifyStatusText(VerifyOutcome outcome);
std::string VerifyMessage(VerifyOutcome outcome, const VerifyDifference& difference);

}  // namespace km27
