#include "app/translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace lumet {

namespace {

// The translators installed last: one for the window's texts, one for Qt's.
QTranslator* own = nullptr;
QTranslator* qt = nullptr;

void Drop(QTranslator*& translator) {
  if (translator == nullptr) return;
  QCoreApplication::removeTranslator(translator);
  delete translator;
  translator = nullptr;
}

}  // namespace

bool InstallTranslation(const QLocale& locale) {
  Drop(own);
  Drop(qt);
  auto* qtTexts = new QTranslator(QCoreApplication::instance());
  if (qtTexts->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(qtTexts);
    qt = qtTexts;
  } else {
    delete qtTexts;
  }
  auto* texts = new QTranslator(QCoreApplication::instance());
  // load() tries the locale's UI languages in turn ("ja_JP", then "ja"), never English's.
  if (!texts->load(locale, QStringLiteral("lumet"), QStringLiteral("_"), QStringLiteral(":/i18n"))) {
    delete texts;
    return false;
  }
  QCoreApplication::installTranslator(texts);
  own = texts;
  return true;
}

}  // namespace lumet
