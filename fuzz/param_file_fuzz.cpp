// Parameter file loader: any bytes on disk, any length.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "store/param_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  km27::ParamOptions options;
  km27::ParamTable table;
  options.bytes.fill(0x5A);
  table.bytes.fill(0x5A);
  const bool ok = km27::ParseParamFileImage(data, size, options, table);
  if (!ok) {
    // A rejected file must leave the programme exactly as it was.
    for (uint8_t b : options.bytes) if (b != 0x5A) std::abort();
    for (uint8_t b : table.bytes) if (b != 0x5A) std::abort();
    return 0;
  }
  // An accepted file is rewritten byte for byte, but for the header tails after each text.
  const auto image = km27::BuildParamFileImage(options, table);
  if (size != image.size() || std::memcmp(data + km27::kParamHeaderSize, image.data() + km27::kParamHeaderSize,
                                          size - km27::kParamHeaderSize) != 0)
    std::abort();
  return 0;
}
