// SPDX-License-Identifier: GPL-3.0-or-later
#include "translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QLoggingCategory>
#include <QTranslator>

#ifndef KIVO_TRANSLATIONS_INSTALL_DIR
#define KIVO_TRANSLATIONS_INSTALL_DIR ""
#endif
#ifndef KIVO_TRANSLATIONS_BUILD_DIR
#define KIVO_TRANSLATIONS_BUILD_DIR ""
#endif

namespace kivo {

Q_DECLARE_LOGGING_CATEGORY(lcViewer)

namespace {

QStringList catalogueFolders() {
    QStringList folders;
    // An install moved elsewhere as a whole: the viewer lies in libexec/kivo, tools in bin.
    const QString executableFolder = QCoreApplication::applicationDirPath();
    const QString fromLibexec = executableFolder + QStringLiteral("/../../share/kivo/translations");
    const QString fromBin = executableFolder + QStringLiteral("/../share/kivo/translations");
    for (const QString& folder :
         {fromLibexec, fromBin, QStringLiteral(KIVO_TRANSLATIONS_INSTALL_DIR),
          QStringLiteral(KIVO_TRANSLATIONS_BUILD_DIR)})
        if (!folder.isEmpty() && QDir(folder).exists())
            folders.append(folder);
    return folders;
}

} // namespace

bool installTranslations(QCoreApplication& application) {
    // QLocale's UI languages follow LANGUAGE before LC_MESSAGES and LANG, as gettext does.
    const QLocale locale;
    for (const QString& folder : catalogueFolders()) {
        auto translator = std::make_unique<QTranslator>(&application);
        if (translator->load(locale, QStringLiteral("kivo"), QStringLiteral("_"), folder)) {
            qCDebug(lcViewer) << "translations from" << translator->filePath();
            QCoreApplication::installTranslator(translator.release());
            return true;
        }
    }
    return false;
}

} // namespace kivo
