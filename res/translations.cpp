#include "res/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

// The translations live in a static library, so their registration must be pulled in explicitly.
static void RegisterTranslationResource() { Q_INIT_RESOURCE(km27_res_translations); }

namespace km27::res {

namespace {

std::unique_ptr<QTranslator>& Installed() {
  static std::unique_ptr<QTranslator> installed;
  return installed;
}

}  // namespace

QTranslator* InstallQtChinese(QCoreApplication& app) {
  auto* qt = new QTranslator(&app);
  if (!qt->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(qt)) {
    delete qt;
    return nullptr;
  }
  return qt;
}

void InstallInterfaceLanguage(QCoreApplication& app, km27::Language language) {
  static const bool registered = (RegisterTranslationResource(), true);
  (void)registered;
  std::unique_ptr<QTranslator>& installed = Installed();
  if (installed) QCoreApplication::removeTranslator(installed.get());
  installed.reset();
  if (language == km27::Language::kEnglish) {
    auto ours = std::make_unique<QTranslator>();
    if (ours->load(QStringLiteral(":/i18n/km27param_en.qm")) && QCoreApplication::installTranslator(ours.get()))
      installed = std::move(ours);
    return;
  }
  installed.reset(InstallQtChinese(app));
  if (installed) installed->setParent(nullptr);
}

}  // namespace km27::res
