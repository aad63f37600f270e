// Answer checks of the code transmitter: arbitrary bytes of any length, for every block number.
// An accepted answer must really be what the check claims.
#include <cstdint>
#include <cstdlib>

#include "link/crc16.h"
#include "link/transfer_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int block = data[0] % 18;  // the blocks in use, and one beyond
  const uint8_t* frame = data + 1;
  const size_t n = size - 1;
  const bool crcGood = n >= 2 && km27::Crc16Update(0xFFFF, frame, int(n)) == 0xF0B8;
  if (km27::IsIdentifyAnswer(frame, n) && !(n == 6 && crcGood && frame[2] == 0x0A && frame[3] == 0)) std::abort();
  if (km27::IsOpenAnswer(frame, n) && !(n == 16 && crcGood)) std::abort();
  if (km27::IsWriteAck(frame, n, block) && !(n == 6 && crcGood && frame[2] == 0x20 && frame[3] == block))
    std::abort();
  if (km27::IsReadAnswer(frame, n, block) && !(n == 70 && crcGood && frame[2] != 0 && frame[3] == block))
    std::abort();
  return 0;
}
