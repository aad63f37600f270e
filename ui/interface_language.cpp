#include "ui/interface_language.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QMenu>
#include <QSettings>

namespace km27::ui {

namespace {

const char* Code(Language language) { return language == Language::kEnglish ? "en" : "zh"; }

}  // namespace

std::string RememberedLanguage() {
  return QSettings().value(QString::fromLatin1(kLanguageSetting)).toString().toStdString();
}

void AddLanguageMenu(QMenu* menu, const std::function<void(const QString&)>& tell) {
  QMenu* languages = menu->addMenu(QCoreApplication::translate("LanguageMenu", "语言"));
  auto* group = new QActionGroup(languages);
  const std::pair<Language, const char*> entries[] = {
      {Language::kChinese, QT_TRANSLATE_NOOP("LanguageMenu", "中文")},
      {Language::kEnglish, QT_TRANSLATE_NOOP("LanguageMenu", "English")},
  };
  // Checked first is the language this run speaks; a choice then moves the check to itself.
  for (const auto& [language, name] : entries) {
    QAction* action = languages->addAction(QCoreApplication::translate("LanguageMenu", name));
    action->setCheckable(true);
    action->setChecked(language == CurrentLanguage());
    group->addAction(action);
    QObject::connect(action, &QAction::triggered, languages, [language = language, tell] {
      QSettings().setValue(QString::fromLatin1(kLanguageSetting), QString::fromLatin1(Code(language)));
      tell(QCoreApplication::translate("LanguageMenu", "所选的界面语言在下次启动时生效。"));
    });
  }
}

}  // namespace km27::ui
