// quorvel-sim: a simulated GPS clock device on a pseudo-terminal or a serial device.

#include "tools/sim/deviceline.h"
#include "tools/sim/pacer.h"
#include "tools/sim/simoptions.h"
#include "tools/sim/simulateddevice.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    // First, so that SIGINT and SIGTERM are the pacer's from the start.
    Pacer pacer;
    // A driver that stops reading our output must not end us.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvel-sim"));

    const ParsedOptions parsed = parseOptions(QCoreApplication::arguments());
    if (parsed.help) {
        std::fputs(qPrintable(parsed.helpText), stdout);
        return 0;
    }
    if (!parsed.error.isEmpty()) {
        std::fprintf(stderr, "quorvel-sim: %s\nTry quorvel-sim --help.\n",
                     qPrintable(parsed.error));
        return 2;
    }
    if (!pacer.isValid()) {
        std::fputs("quorvel-sim: cannot set up its timer\n", stderr);
        return 1;
    }

    DeviceLine line;
    QString error;
    const bool opened = parsed.options.device.isEmpty()
                            ? line.createPseudoTerminal(&error)
                            : line.openSerialDevice(parsed.options.device, &error);
    if (!opened) {
        std::fprintf(stderr, "quorvel-sim: %s\n", qPrintable(error));
        return 1;
    }
    // The reader waits for this line: it must go out now, not when a buffer fills.
    std::printf("%s\n", qPrintable(line.path()));
    std::fflush(stdout);

    SimulatedDevice device(parsed.options, line, pacer);
    device.run();
    return 0;
}
