#pragma once
#include "model/param_table.h"
#include "model/transfer_texts.h"

namespace km27 {

// Two programmes compared on what makes them the programme (and its fingerprint): the line
// options, the carrier masks and the 20 steps of each carrier. Check bytes and the spare bytes
// of a block follow from these or carry nothing, so they are not differences of their own.
// Items and offsets are as a code box's read-back names them (the frame's layout).
VerifyDifference CompareProgrammes(const Programme& a, const Programme& b);

}  // namespace km27
