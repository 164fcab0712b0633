#include "tools/sim/simoptions.h"

#include "core/duration.h"
#include "core/line.h"

#include <QCommandLineParser>

#include <algorithm>
#include <limits>

namespace {

constexpr qint64 Unlimited = std::numeric_limits<qint64>::max();
constexpr qint64 MaximumBurst = 1000;

const QString Description =
    QStringLiteral(
        "Plays a GPS clock device. Creates a pseudo-terminal (or opens --device), prints the\n"
        "device path to use as the first line on stdout, then sends at the start of every\n"
        "period of its clock (plus --delay) the frame \"$hh:mm:ss,mm/dd/yyyy,weekday,summer\"\n"
        "CR LF, one character every %1/%2 s as a %2 baud line does: on a pseudo-terminal each\n"
        "character becomes readable when its stop bit would end, so the \"$\" one character\n"
        "time after its second began. Its clock is the computer's clock plus --offset, in the\n"
        "computer's time zone. Ends on SIGINT or SIGTERM.\n"
        "Durations are decimal numbers of seconds, or with a unit ms, s, m, h or d\n"
        "(3d, -1.5h, 250ms, -0.3).")
        .arg(BitsPerCharacter)
        .arg(LineBaud);

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
    if (!duration || *duration < minimum) {
        const QString bound = minimum.count() > 0    ? QStringLiteral(" greater than zero")
                              : minimum.count() == 0 ? QStringLiteral(" of zero or more")
                                                     : QString();
        return QStringLiteral("--%1 needs a duration%2, not \"%3\"")
            .arg(name, bound, parser.value(name));
    }
    value = *duration;
    return {};
}

// Reads every --jump of `parser` ("<duration>@<n>") into `jumps`, in frame order; returns an
// error text for the first that has any other form.
QString readJumps(const QCommandLineParser &parser, QList<ClockJump> &jumps)
{
    for (const QString &value : parser.values(QStringLiteral("jump"))) {
        const qsizetype at = value.lastIndexOf(u'@');
        const std::optional<std::chrono::nanoseconds> by =
            at > 0 ? parseDuration(value.left(at)) : std::nullopt;
        bool ok = false;
        const qint64 frame = at > 0 ? value.mid(at + 1).toLongLong(&ok) : 0;
        if (!by || !ok || frame < 1)
            return QStringLiteral("--jump needs <duration>@<frame>, a frame of at least 1, "
                                  "not \"%1\"")
                .arg(value);
        jumps.append({*by, frame});
    }
    std::stable_sort(jumps.begin(), jumps.end(), [](const ClockJump &a, const ClockJump &b) {
        return a.afterFrame < b.afterFrame;
    });
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
        {QStringLiteral("busy"),
         QStringLiteral("After each slot's frames, send a stray \"$\" in noise, then other "
                        "lines of the device back to back until 20 ms before the next slot, "
                        "so that the line is never quiet for 100 ms.")},
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
         QStringLiteral("Seed of the random choices of --noise, --split and --jitter (default: "
                        "a random one)."),
         QStringLiteral("n")},
        {QStringLiteral("delay"),
         QStringLiteral("Begin each frame's \"$\" <duration> after the device's second "
                        "begins, as a GPS receiver does (default 0)."),
         QStringLiteral("duration")},
        {QStringLiteral("jitter"),
         QStringLiteral("Make each period's frames later still by a random 0 to <duration>, "
                        "drawn from --seed (default 0)."),
         QStringLiteral("duration")},
        {QStringLiteral("latency"),
         QStringLiteral("Hand the bytes to the reader in bursts, at the whole multiples of "
                        "<duration> of the computer's clock, as a USB adapter's latency timer "
                        "does (default: each as it arrives)."),
         QStringLiteral("duration")},
        {QStringLiteral("jump"),
         QStringLiteral("After frame <n>, step the device's clock by <duration> (may be "
                        "negative); may be given more than once."),
         QStringLiteral("duration@n")},
        {QStringLiteral("freeze"),
         QStringLiteral("After frame <n>, send the time of frame <n> in every frame."),
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
        readDuration(parser, QStringLiteral("delay"), std::chrono::nanoseconds(0), options.delay),
        readDuration(parser, QStringLiteral("jitter"), std::chrono::nanoseconds(0), options.jitter),
        readDuration(parser, QStringLiteral("latency"), std::chrono::nanoseconds(1),
                     options.latency),
        readJumps(parser, options.jumps),
        readNumber(parser, QStringLiteral("freeze"), 1, Unlimited, options.freezeAfter),
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
    options.busy = parser.isSet(QStringLiteral("busy"));
    options.split = parser.isSet(QStringLiteral("split"));
    options.malformed = parser.isSet(QStringLiteral("malformed"));
    options.verbose = parser.isSet(QStringLiteral("verbose"));
    return result;
}
