#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/transmitter_image.h"
#include "model/code_catalogue.h"

// What a read-back after a download shows: the device holds exactly what was sent, or where it
// differs, told in the operator's terms (carrier and step, option, header byte).
namespace km27 {

struct VerifyDifference {
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
