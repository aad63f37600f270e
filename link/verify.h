#pragma once
#include <cstdint>

#include "link/transmitter_image.h"
#include "model/code_catalogue.h"
#include "model/transfer_texts.h"

// What a read-back after a download shows: the device holds exactly what was sent, or every
// place where it differs, as facts (model/transfer_texts.h gives them words).
namespace km27 {

// The code transmitter: the whole 1060-byte image as it travelled (device carrier order).
VerifyDifference CompareTransmitterImages(const TransmitterImage& sent, const TransmitterImage& readBack);

// The code box: the 968-byte frame as it travelled.
VerifyDifference CompareBoxFrames(const uint8_t* sent, const uint8_t* readBack);

}  // namespace km27
