#include "ui/applicationsetup.h"

#include "core/version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

QString commandLineTr(const char *text)
{
    return QCoreApplication::translate("CommandLine", text);
}

} // namespace

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

void readCommandLine(const QCoreApplication &application)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(commandLineTr(
        "Muestra la hora de un reloj GPS conectado a un puerto serie y pone en hora el PC.\n"
        "El puerto se elige en la ventana; QUORVEL_COM1 a QUORVEL_COM4 pueden nombrar el\n"
        "dispositivo de cada puerto, como /dev/ttyUSB0."));
    parser.addHelpOption();
    // The package's version. The window's version line and the Windows version record keep
    // the numbers of their own.
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     commandLineTr("Muestra la versión y termina."));
    parser.addOption(version);

    // Handles --help, --help-all and unknown options as Qt does, then ends the program.
    parser.process(application);
    if (parser.isSet(version)) {
        std::printf("quorvel %s\n", PackageVersion);
        std::exit(EXIT_SUCCESS);
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(
            stderr, "%s\n",
            qPrintable(commandLineTr("quorvel: argumento inesperado \"%1\"; pruebe quorvel --help.")
                           .arg(parser.positionalArguments().constFirst())));
        std::exit(EXIT_FAILURE);
    }
}

void addFontFallbacks()
{
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("Helvetica"),
                                QStringLiteral("DejaVu Sans Condensed")});
}

void setApplicationIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationVersion(QLatin1String(RecordedVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("example.quorvel.Quorvel"));
    QGuiApplication::setWindowIcon(programIcon());
}

QIcon programIcon()
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/quorvel-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/quorvel-32.png"), QSize(32, 32));
    return icon;
}
