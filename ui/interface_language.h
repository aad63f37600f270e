#pragma once
#include <QString>
#include <functional>
#include <string>

#include "model/messages.h"

class QMenu;

namespace km27::ui {

// Where the language chosen in the window's menu is remembered ("zh" / "en"); it is applied at
// the next start, since texts already shown are not built again.
inline constexpr char kLanguageSetting[] = "interface/language";

// The remembered choice as it is stored; empty when there is none.
std::string RememberedLanguage();

// Adds 语言 / Language to `menu`: a submenu with both languages, the current one checked.
// Choosing one remembers it and hands `tell` the words that say when it takes effect.
void AddLanguageMenu(QMenu* menu, const std::function<void(const QString&)>& tell);

}  // namespace km27::ui
