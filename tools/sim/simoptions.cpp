#include "tools/sim/simoptions.h"

#include "tools/sim/duration.h"

#include <QCommandLineParser>

#include <algorithm>
#include <limits>

namespace {

constexpr qint64 Unlimited = std::numeric_limits<qint64>::max();
constexpr qint64 MaximumBurst = 1000;

const QString Description = QStringLiteral(
    "Plays a GPS clock device. Creates a pseudo-terminal (or opens --device), prints the\n"
    "device path to use as the first line on stdout, then sends at the start of every\n"
    "period of its clock the frame \"$hh:mm:ss,mm/dd/yyyy,weekday,summer\" CR LF, one\n"
    "character every 10/4800 s as a 4800 baud line does. Its clock is the computer's\n"
    "clock plus --offset, in the computer's time zone. Ends on SIGINT or SIGTERM.\n"
    "Durations are decimal numbers of seconds, or with a unit ms, s, m, h or d\n"
    "(3d, -1.5h, 250ms, -0.3).");

// Reads a whole number from `minimum` to `maximum` from `parser`'s option `name` into
// `value`; returns an error text when the option is set to anything else.
QString readNumber(const QCommandLineParser &parser, const QString &name, qint64 minimum,
                   qint64 maximum, qint64 &value)
{
    if (!parser.isSet(name))
        return {};
    bool ok = false;
    const qint64 number = parser.value(name).toLongLong(&ok);
    if (ok && number >= minimum && number <= maximum) {
        value = number;
        return {};
    }
    const QString range = maximum == Unlimited
                              ? QStringLiteral("of at least %1").arg(minimum)
                              : QStringLiteral("from %1 to %2").arg(minimum).arg(maximum);
    return QStringLiteral("--%1 needs a whole number %2, not \"%3\"")
        .arg(name, range, parser.value(name));
}

// Reads a duration from `parser`'s option `name` into `value`; returns an error text when
// the option is set to anything that is not a duration of at least `minimum`.
QString readDuration(const QCommandLineParser &parser, const QString &name,
                     std::chrono::nanoseconds minimum, std::chrono::nanoseconds &value)
{
    if (!parser.isSet(name))
        return {};
    const std::optional<std::chrono::nanoseconds> duration = parseDuration(parser.value(name));
    if (!duration || *duration < minimum)
        return QStringLiteral("--%1 needs a duration%2, not \"%3\"")
            .arg(name, minimum.count() > 0 ? QStringLiteral(" greater than zero") : QString(),
                 parser.value(name));
    value = *duration;
    return {};
}

} // namespace

ParsedOptions parseOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(Description);
    const QCommandLineOption help = parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("offset"),
         QStringLiteral("Device clock = computer clock + <duration>; may be negative or "
                        "fractional (default 0)."),
         QStringLiteral("duration")},
        {QStringLiteral("period"),
         QStringLiteral("Time between frames (default 1). Frames start when the device clock "
                        "is a whole multiple of it."),
         QStringLiteral("duration")},
        {QStringLiteral("device"),
         QStringLiteral("Send on this serial device (set to 4800 8N1, raw) instead of a new "
                        "pseudo-terminal."),
         QStringLiteral("path")},
        {QStringLiteral("count"),
         QStringLiteral("End after <n> frames, which closes the line (default: no limit)."),
         QStringLiteral("n")},
        {QStringLiteral("noise"),
         QStringLiteral("Send 1 to 16 random bytes (any value but \"$\") at a random moment "
                        "between frames.")},
        {QStringLiteral("split"),
         QStringLiteral("Pause 250 ms at a random place inside every frame.")},
        {QStringLiteral("malformed"),
         QStringLiteral("Break every second frame, in turn: summer field missing, time "
                        "garbled, all fields empty, weekday and summer not valid, frame cut "
                        "short.")},
        {QStringLiteral("silence"),
         QStringLiteral("After every third period with frames, send nothing for at least "
                        "<duration>."),
         QStringLiteral("duration")},
        {QStringLiteral("burst"),
         QStringLiteral("Send <n> frames back to back, with no pause, in every period; each "
                        "holds the time its \"$\" is sent."),
         QStringLiteral("n")},
        {QStringLiteral("hangup-after"),
         QStringLiteral("Close the line after <n> frames, so the reader sees the device go "
                        "away; then wait for SIGINT or SIGTERM."),
         QStringLiteral("n")},
        {QStringLiteral("seed"),
         QStringLiteral("Seed of the random choices of --noise and --split (default: a random "
                        "one)."),
         QStringLiteral("n")},
        {QStringLiteral("verbose"), QStringLiteral("Log every frame sent on stderr.")},
    });

    ParsedOptions result;
    if (!parser.parse(arguments)) {
        result.error = parser.errorText();
        return result;
    }
    if (parser.isSet(help)) {
        result.help = true;
        result.helpText = parser.helpText();
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.error = QStringLiteral("Unexpected argument \"%1\"")
                           .arg(parser.positionalArguments().constFirst());
        return result;
    }

    SimOptions &options = result.options;
    qint64 burst = options.burst;
    qint64 seed = 0;
    const QString errors[] = {
        readDuration(parser, QStringLiteral("offset"), std::chrono::nanoseconds::min(),
                     options.offset),
        readDuration(parser, QStringLiteral("period"), std::chrono::nanoseconds(1), options.period),
        readNumber(parser, QStringLiteral("count"), 1, Unlimited, options.count),
        readDuration(parser, QStringLiteral("silence"), std::chrono::nanoseconds(1),
                     options.silence),
        readNumber(parser, QStringLiteral("burst"), 1, MaximumBurst, burst),
        readNumber(parser, QStringLiteral("hangup-after"), 1, Unlimited, options.hangupAfter),
        readNumber(parser, QStringLiteral("seed"), 0, std::numeric_limits<quint32>::max(), seed),
    };
    const auto firstError = std::find_if(std::cbegin(errors), std::cend(errors),
                                         [](const QString &error) { return !error.isEmpty(); });
    if (firstError != std::cend(errors)) {
        result.error = *firstError;
        return result;
    }
    options.burst = int(burst);
    if (parser.isSet(QStringLiteral("seed")))
        options.seed = quint32(seed);
    options.device = parser.value(QStringLiteral("device"));
    if (parser.isSet(QStringLiteral("device")) && options.device.isEmpty()) {
        result.error = QStringLiteral("--device needs a path");
        return result;
    }
    options.noise = parser.isSet(QStringLiteral("noise"));
    options.split = parser.isSet(QStringLiteral("split"));
    options.malformed = parser.isSet(QStringLiteral("malformed"));
    options.verbose = parser.isSet(QStringLiteral("verbose"));
    return result;
}
