#include "model/messages.h"

#include <cerrno>
#include <atomic>
#include <cstring>

namespace km27 {

namespace {

// Atomic so a test that switches languages never races a worker thread that reads it.
std::atomic<Language> g_language{Language::kChinese};

constexpr Bilingual kEntries[] = {
#define KM27_MSG(id, zh, en) {zh, en},
#include "model/messages.def"
#undef KM27_MSG
};
constexpr const char* kNames[] = {
#define KM27_MSG(id, zh, en) #id,
#include "model/messages.def"
#undef KM27_MSG
};
static_assert(std::size(kEntries) == size_t(Msg::kCount));

bool StartsWith(const char* s, const char* head) { return std::strncmp(s, head, std::strlen(head)) == 0; }

}  // namespace

void SetLanguage(Language language) { g_language.store(language, std::memory_order_relaxed); }
Language CurrentLanguage() { return g_language.load(std::memory_order_relaxed); }

std::optional<Language> ParseLanguage(std::string_view name) {
  if (name == "zh") return Language::kChinese;
  if (name == "en") return Language::kEnglish;
  return std::nullopt;
}

Language LanguageOfLocale(const char* lcAll, const char* lcMessages, const char* lang) {
  for (const char* v : {lcAll, lcMessages, lang}) {
    if (!v || !*v) continue;
    // "en", "en_GB.UTF-8", "en_US@euro"; not "eo" or "enx".
    const bool english = StartsWith(v, "en") && (v[2] == '\0' || v[2] == '_' || v[2] == '.' || v[2] == '@');
    return english ? Language::kEnglish : Language::kChinese;
  }
  return Language::kChinese;
}

std::string FormatMessage(std::string_view pattern, std::initializer_list<MsgArg> args) {
  std::string out;
  out.reserve(pattern.size() + 16 * args.size());
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '{' && i + 1 < pattern.size() && pattern[i + 1] == '{') {
      out += '{';
      ++i;
    } else if (c == '{' && i + 2 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9' &&
               pattern[i + 2] == '}' && size_t(pattern[i + 1] - '1') < args.size()) {
      out += (args.begin() + (pattern[i + 1] - '1'))->text;
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

uint32_t PlaceholdersOf(std::string_view pattern) {
  uint32_t set = 0;
  for (size_t i = 0; i + 2 < pattern.size(); ++i) {
    if (pattern[i] == '{' && pattern[i + 1] == '{') {
      ++i;
    } else if (pattern[i] == '{' && pattern[i + 1] >= '1' && pattern[i + 1] <= '9' && pattern[i + 2] == '}') {
      set |= 1u << (pattern[i + 1] - '0');
    }
  }
  return set;
}

std::string Localize(const Bilingual& entry, std::initializer_list<MsgArg> args) {
  return FormatMessage(entry.In(CurrentLanguage()), args);
}

std::string Text(Msg id, std::initializer_list<MsgArg> args) { return Localize(MessageEntry(id), args); }

std::string TextIn(Language language, Msg id, std::initializer_list<MsgArg> args) {
  return FormatMessage(MessageEntry(id).In(language), args);
}

std::string CommonSystemReason(int err) {
  switch (err) {
    case ENOENT: return Text(Msg::kErrNoSuchFile);
    case EACCES:
    case EPERM: return Text(Msg::kErrNoPermission);
    case ENOSPC: return Text(Msg::kErrNoSpace);
    case EROFS: return Text(Msg::kErrReadOnly);
    case EBUSY: return Text(Msg::kErrBusy);
    case EISDIR: return Text(Msg::kErrIsDirectory);
    default: return {};
  }
}

const char* MessageName(Msg id) { return kNames[size_t(id)]; }
const Bilingual& MessageEntry(Msg id) { return kEntries[size_t(id)]; }

}  // namespace km27
