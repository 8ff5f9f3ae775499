#pragma once

#include <QLocale>

namespace lumet {

// Puts the window's texts into the language of `locale` where a translation exists (the
// compiled ones are in the resources under :/i18n, lumet_LANG.qm) and Qt's own dialogs'
// where Qt has one; English, the texts' source, otherwise. A second call replaces the
// first one's translation. True when a translation of the window's texts was loaded.
bool InstallTranslation(const QLocale& locale);

}  // namespace lumet
