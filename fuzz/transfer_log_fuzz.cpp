// The transfer log's reader: any line; what it accepts writes out and reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "store/transfer_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  km27::TransferRecord r;
  if (!km27::ParseRecordLine(std::string(reinterpret_cast<const char*>(data), size), &r)) return 0;
  km27::TransferRecord again;
  if (!km27::ParseRecordLine(km27::RecordLine(r), &again)) std::abort();
  if (km27::RecordLine(again) != km27::RecordLine(r)) std::abort();
  return 0;
}
