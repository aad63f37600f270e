#include "ctl/ctl_texts.h"

#include <iterator>

namespace km27::ctl {

namespace {

constexpr Bilingual kEntries[] = {
#define KM27_MSG(id, zh, en) {zh, en},
#include "ctl/ctl_texts.def"
#undef KM27_MSG
};
static_assert(std::size(kEntries) == size_t(Say::kCount));

// The placeholders a pattern uses, as a bit set; "{{" is a brace, not one.
constexpr unsigned Placeholders(const char* p) {
  unsigned set = 0;
  for (; *p; ++p) {
    if (p[0] == '{' && p[1] == '{') {
      ++p;
    } else if (p[0] == '{' && p[1] >= '1' && p[1] <= '9' && p[2] == '}') {
      set |= 1u << (p[1] - '0');
    }
  }
  return set;
}

// A CJK ideograph or punctuation mark: a three-byte UTF-8 sequence led by E3..E9, or EF BC/BD.
constexpr bool HasCjk(const char* p) {
  for (; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    const unsigned char next = static_cast<unsigned char>(p[1]);
    if ((c >= 0xE3 && c <= 0xE9) || (c == 0xEF && (next == 0xBC || next == 0xBD))) return true;
  }
  return false;
}

// Checked when the program is built: a missing or half-translated entry does not compile.
constexpr bool EveryEntryHasBothLanguages() {
  for (const Bilingual& e : kEntries) {
    if (!*e.zh || !*e.en || HasCjk(e.en) || Placeholders(e.zh) != Placeholders(e.en)) return false;
  }
  return true;
}
static_assert(EveryEntryHasBothLanguages(), "every entry of ctl_texts.def needs Chinese and English, "
                                            "no Chinese in the English, and the same placeholders");

}  // namespace

std::string Words(Say id, std::initializer_list<MsgArg> args) { return Localize(kEntries[size_t(id)], args); }

std::string WordsIn(Language language, Say id, std::initializer_list<MsgArg> args) {
  return FormatMessage(kEntries[size_t(id)].In(language), args);
}

}  // namespace km27::ctl
