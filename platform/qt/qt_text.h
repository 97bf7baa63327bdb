#pragma once

#include "translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QString>
#include <QTranslator>

namespace tolvar {

// A caption of the window in the user's language, through the catalogue the engine's words
// come from.
inline QString T_(const char* msgid) {
    return QString::fromUtf8(_(msgid));
}

// Qt's own words (the file dialogs' buttons, Yes and No) in the user's language too, from
// Qt's catalogues. Call once the application exists; it keeps the translator.
inline void installQtTranslations() {
    auto* words = new QTranslator(QCoreApplication::instance());
    if (words->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(words);
}

} // namespace tolvar
