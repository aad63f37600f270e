#include "link/link_timing.h"

#include <initializer_list>

namespace km27 {

namespace {
int Div(int v, int d) {
  if (v == 0) return 0;
  int r = v / d;
  return r < 1 ? 1 : r;
}
}  // namespace

LinkTiming LinkTiming::Scaled(int divisor) const {
  if (divisor <= 1) return *this;
  LinkTiming t = *this;
  for (int LinkTiming::*m :
       {&LinkTiming::readIntervalMs, &LinkTiming::readTotalPerByteMs, &LinkTiming::readTotalConstantMs,
        &LinkTiming::writeTotalPerByteMs, &LinkTiming::writeTotalConstantMs, &LinkTiming::exchangePauseMs,
        &LinkTiming::identifyPauseMs, &LinkTiming::openBreakMs, &LinkTiming::openRtsSettleMs,
        &LinkTiming::portScanMs, &LinkTiming::linkWatchMs,
        &LinkTiming::statusResetMs, &LinkTiming::uploadTimeoutMs, &LinkTiming::linkStartMs,
        &LinkTiming::boxFramePauseMs, &LinkTiming::boxAcceptWaitMs, &LinkTiming::boxSettleMs,
        &LinkTiming::boxUploadPauseMs}) {
    t.*m = Div(t.*m, divisor);
  }
  return t;
}

LinkTiming LinkTiming::OverNetwork(int allowanceMs, int boxFrameBytes) const {
  LinkTiming t = *this;
  if (allowanceMs <= 0) return t;
  t.readIntervalMs += allowanceMs;
  t.readTotalConstantMs += allowanceMs;
  const int lineMs = (boxFrameBytes * 10 * 1000 + 9599) / 9600;  // 8N1: ten bits a byte
  t.boxAcceptWaitMs += lineMs + allowanceMs;
  return t;
}

}  // namespace km27
