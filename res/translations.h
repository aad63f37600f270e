#pragma once
#include "model/messages.h"

class QCoreApplication;
class QTranslator;

namespace km27::res {

// The interface's words in `language`: English from our own translation (Qt's dialogs then keep
// their English source texts), Chinese as written in the sources with Qt's own dialogs and
// buttons in Chinese too. Whatever an earlier call installed is taken out first, so the language
// can be set again.
void InstallInterfaceLanguage(QCoreApplication& app, km27::Language language);

// Qt's own dialogs and buttons (file choosers, the print dialog, 是/否) in Chinese, whatever the
// system's language; nullptr when the translation is missing. The caller owns the translator.
QTranslator* InstallQtChinese(QCoreApplication& app);

}  // namespace km27::res
