#pragma once
#include <cstddef>
#include <string>

#include "store/store_error.h"

namespace km27 {

inline constexpr const char kHelpFileName[] = "KM27A.txt";

struct HelpFileResult {
  bool ok = false;
  bool created = false;  // false: an existing file was left as it was
  StoreFailure failure;  // why the file could not be made
};

// The file's bytes: first part, line break, second part, line break; GBK, CR LF line ends.
// `ok` is false when a character has no GBK form.
std::string HelpFileContent(const std::string& firstUtf8, const std::string& secondUtf8, bool* ok = nullptr);

// Writes the help file only when it is missing; an existing file is never rewritten. The
// file appears complete or not at all, since a torn one would be kept for good.
HelpFileResult EnsureHelpFile(const std::string& path, const std::string& firstUtf8, const std::string& secondUtf8);

// A help file bigger than this is no help text of ours and is not shown.
inline constexpr size_t kLargestHelpFile = size_t(4) << 20;

struct HelpFileText {
  bool ok = false;
  std::string bytes;   // the file as it is (GBK, CR LF)
  StoreFailure failure;  // why it could not be read
};
HelpFileText ReadHelpFile(const std::string& path);

}  // namespace km27
