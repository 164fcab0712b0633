#include "ui/commandline.h"

#include "core/version.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CommandLine", text);
}

} // namespace

void readCommandLine(const QCoreApplication &application)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        tr("Muestra la hora de un reloj GPS conectado a un puerto serie y pone en hora el PC.\n"
           "El puerto se elige en la ventana; QUORVEL_COM1 a QUORVEL_COM4 pueden nombrar el\n"
           "dispositivo de cada puerto, como /dev/ttyUSB0."));
    parser.addHelpOption();
    // The package's version. The window's version line and the Windows version record keep
    // the numbers of their own.
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     tr("Muestra la versión y termina."));
    parser.addOption(version);

    // Handles --help, --help-all and unknown options as Qt does, then ends the program.
    parser.process(application);
    if (parser.isSet(version)) {
        std::printf("quorvel %s\n", PackageVersion);
        std::exit(EXIT_SUCCESS);
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "%s\n",
                     qPrintable(tr("quorvel: argumento inesperado \"%1\"; pruebe quorvel --help.")
                                    .arg(parser.positionalArguments().constFirst())));
        std::exit(EXIT_FAILURE);
    }
}
