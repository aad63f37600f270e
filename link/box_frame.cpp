#include "link/box_frame.h"

#include <algorithm>

namespace km27 {

void SealBoxHeader(ParamOptions& options) {
  options.SetCheckByte(CheckByteFor(options.bytes.data(), ParamOptions::kCheckOffset));
}

BoxFrame BuildBoxFrame(const ParamOptions& options, const ParamTable& table) {
  BoxFrame f{};
  std::copy(options.bytes.begin(), options.bytes.end(), f.begin());
  f[ParamOptions::kCheckOffset] = CheckByteFor(f.data(), ParamOptions::kCheckOffset);
  uint8_t* body = f.data() + kBoxHeaderBytes;
  std::copy(table.bytes.begin(), table.bytes.end(), body);
  for (int g = 0; g < kBlockCount; ++g) {
    uint8_t* group = body + size_t(g) * kBoxGroupBytes;
    group[kBoxGroupBytes - 1] = CheckByteFor(group, kBoxGroupBytes - 1);
  }
  return f;
}

bool BoxFrameValid(const uint8_t* frame) {
  if (Sum8(frame, kBoxHeaderBytes) != 0) return false;
  for (int g = 0; g < kBlockCount; ++g) {
    if (Sum8(frame + kBoxHeaderBytes + size_t(g) * kBoxGroupBytes, kBoxGroupBytes) != 0) return false;
  }
  return true;
}

bool ParseBoxFrame(const uint8_t* frame, ParamOptions& options, ParamTable& table) {
  if (!BoxFrameValid(frame)) return false;
  std::copy(frame, frame + kBoxHeaderBytes, options.bytes.begin());
  std::copy(frame + kBoxHeaderBytes, frame + kBoxFrameBytes, table.bytes.begin());
  return true;
}

}  // namespace km27
