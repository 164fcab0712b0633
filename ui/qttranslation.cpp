#include "ui/qttranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

#include <utility>

bool installQtTranslation(QCoreApplication *application)
{
    QStringList folders{QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
#ifdef Q_OS_WIN
    // The Qt the program ships with is the DLLs beside it, without a Qt folder of its own.
    folders.prepend(QCoreApplication::applicationDirPath());
#endif
    auto *translator = new QTranslator(application);
    for (const QString &folder : std::as_const(folders)) {
        if (translator->load(QStringLiteral("qtbase_es"), folder))
            return QCoreApplication::installTranslator(translator);
    }
    delete translator;
    return false;
}
