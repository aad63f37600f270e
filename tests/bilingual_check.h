#pragma once
#include <string>
#include <vector>

#include "model/messages.h"

namespace km27::test {

// What is wrong with one catalogue entry: a language missing, Chinese left in the English, or
// the two languages not using the same placeholders (a value that one of them would drop).
inline std::vector<std::string> BilingualProblems(const std::string& name, const Bilingual& e) {
  std::vector<std::string> found;
  if (!e.zh || !*e.zh) found.push_back(name + ": no Chinese");
  if (!e.en || !*e.en) found.push_back(name + ": no English");
  if (!e.zh || !e.en) return found;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(e.en); *p; ++p) {
    // Every CJK ideograph and CJK punctuation mark is a three-byte UTF-8 sequence led by E3..E9,
    // or EF BC/BD for the full-width forms.
    if ((*p >= 0xE3 && *p <= 0xE9) || (*p == 0xEF && (p[1] == 0xBC || p[1] == 0xBD))) {
      found.push_back(name + ": Chinese in the English: " + e.en);
      break;
    }
  }
  if (PlaceholdersOf(e.zh) != PlaceholdersOf(e.en)) found.push_back(name + ": placeholders differ: " + e.zh + " / " + e.en);
  return found;
}

}  // namespace km27::test
