#pragma once
#include <initializer_list>
#include <string>

#include "model/messages.h"

// km27ctl's own words in both languages (ctl_texts.def), in the language chosen at start-up.
namespace km27::ctl {

enum class Say : int {
#define KM27_MSG(id, zh, en) id,
#include "ctl/ctl_texts.def"
#undef KM27_MSG
  kCount
};

std::string Words(Say id, std::initializer_list<MsgArg> args = {});
std::string WordsIn(Language language, Say id, std::initializer_list<MsgArg> args = {});

}  // namespace km27::ctl
