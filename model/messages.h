#pragma once
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

// <windows.h> makes FormatMessage a macro for its own function; ours below must keep its name.
#ifdef FormatMessage
#undef FormatMessage
#endif

// The words about facts, in Chinese and English, keyed by identifiers. Each entry is a whole
// message; the parts that vary are numbered placeholders {1}..{9}, so a language can put them
// where its grammar wants them. Both programs choose the language once at start-up.
namespace km27 {

enum class Language { kChinese, kEnglish };

// Set before any other thread starts; read everywhere after.
void SetLanguage(Language language);
Language CurrentLanguage();

// "zh" / "en" (as --lang takes them); nothing for any other word.
std::optional<Language> ParseLanguage(std::string_view name);

// The language a POSIX locale asks for. LC_ALL, then LC_MESSAGES, then LANG decide, the first
// that is set and not empty; an "en" locale gives English, anything else (zh, C, POSIX,
// unset) Chinese, as before the tool spoke English.
Language LanguageOfLocale(const char* lcAll, const char* lcMessages, const char* lang);

// One entry: its two texts.
struct Bilingual {
  const char* zh;
  const char* en;
  const char* In(Language l) const { return l == Language::kEnglish ? en : zh; }
};

enum class Msg : int {
#define KM27_MSG(id, zh, en) id,
#include "model/messages.def"
#undef KM27_MSG
  kCount
};

// A value for a placeholder: text or a whole number.
struct MsgArg {
  std::string text;
  MsgArg(std::string s) : text(std::move(s)) {}
  MsgArg(std::string_view s) : text(s) {}
  MsgArg(const char* s) : text(s ? s : "") {}
  template <class N, std::enable_if_t<std::is_integral_v<N> && !std::is_same_v<N, char>, int> = 0>
  MsgArg(N n) : text(std::to_string(n)) {}
};

// The pattern with {n} replaced by the n-th argument; "{{" stays a lone "{". A placeholder with
// no argument is left as it is, so a missing value shows rather than vanishing.
std::string FormatMessage(std::string_view pattern, std::initializer_list<MsgArg> args = {});

// The message in the current language, and in a given one.
std::string Text(Msg id, std::initializer_list<MsgArg> args = {});
std::string TextIn(Language language, Msg id, std::initializer_list<MsgArg> args = {});
std::string Localize(const Bilingual& entry, std::initializer_list<MsgArg> args = {});

// The catalogue's words for the common reasons a file or port fails (errno values: ENOENT,
// EACCES, EPERM, ENOSPC, EROFS, EBUSY, EISDIR), in the current language; empty for any other,
// which keeps the system's own words.
std::string CommonSystemReason(int err);

// The identifier's name ("kDownloadOk") and its two texts, for checks of the whole table.
const char* MessageName(Msg id);
const Bilingual& MessageEntry(Msg id);

// The numbers of the placeholders a pattern uses, as a bit set (bit n for {n}).
uint32_t PlaceholdersOf(std::string_view pattern);

}  // namespace km27
