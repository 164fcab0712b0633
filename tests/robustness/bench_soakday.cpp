// A day in minutes, run by hand (not in CI's time budget):
//   QUORVEL_SOAK_MINUTES=30 build/tests/robustness/bench_soakday        (30 minutes by default)
// A simulated device that does what real ones do, read by the real quorvel-refclock feeding
// the real chronyd (-x, without CAP_SYS_TIME), with the window reading through the service.
// In turn: noise, cut and broken frames; a clock that freezes; steps back and forth; the
// device unplugged and plugged in again; the service restarted; a lasting step (followed
// after --accept-step-after, a sixth of the run); the change from summer time in the first
// half and to summer time in the second (a time zone rule made for the run). Prints the frames
// seen and samples sent, chrony's worst error while the device agreed, the seconds without
// samples and why, the service's and the window's memory, and the log lines per hour.
#include "tests/refclock/refclockchain.h"
#include "tests/support/processusage.h"
#include "tests/support/windowonline.h"

#include <QApplication>
#include <QDateTime>
#include <QMap>
#include <QTest>

using namespace std::chrono_literals;

namespace {

// A zone one hour east of UTC whose summer time ends (or, with `starts`, begins) `after` from
// now, today: the change happens during the run, in the device and in the computer alike.
QByteArray zoneChangingIn(std::chrono::seconds after, bool starts)
{
    const QDateTime at = QDateTime::currentDateTimeUtc().addSecs(after.count());
    // A Julian day of the year (J1 to J365, February 29 never counted) and the local time,
    // in the time in force before the change.
    int day = at.date().dayOfYear();
    if (QDate::isLeapYear(at.date().year()) && at.date().month() > 2)
        --day;
    const QString local =
        at.addSecs(starts ? 3600 : 7200).time().toString(QStringLiteral("HH:mm:ss"));
    const QString rule = starts ? QStringLiteral("XST-1XDT,J%1/%2,J365/23").arg(day).arg(local)
                                : QStringLiteral("XST-1XDT,J1/0,J%1/%2").arg(day).arg(local);
    return rule.toLatin1();
}

qint64 residentBytesOf(qint64 pid)
{
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    return statm.readAll().split(' ').value(1).toLongLong() * ::sysconf(_SC_PAGESIZE);
}

} // namespace

class BenchSoakDay : public QObject
{
    Q_OBJECT

private slots:
    void day();
};

void BenchSoakDay::day()
{
    const QString reason = Chronyd::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    int minutes = qEnvironmentVariableIntValue("QUORVEL_SOAK_MINUTES");
    if (minutes <= 0)
        minutes = 30;
    const int total = minutes * 60;
    const auto at = [total](double share) { return int(total * share); };

    EnvironmentSetting zone("TZ");
    zone.set(zoneChangingIn(std::chrono::seconds(at(0.25)), false));
    RefclockChain chain;
    QTemporaryDir shareFolder;
    START_CHRONYD(chain.chronyd, chain.refclockSocket());
    QVERIFY(chain.refclock.shareIn(shareFolder.path()));
    const QStringList service{QStringLiteral("--verbose"), QStringLiteral("--accept-step-after"),
                              QStringLiteral("%1s").arg(qMax(10, at(1.0 / 6)))};
    const QStringList noisy{QStringLiteral("--noise"), QStringLiteral("--split"),
                            QStringLiteral("--malformed"), QStringLiteral("--seed"),
                            QStringLiteral("7")};
    QVERIFY(chain.plug(noisy));
    QVERIFY(chain.startRefclock(service));
    WindowOnLine window;
    window.nameDevice(chain.devicePath());
    window.form.Form_Load();
    window.form.show();

    // What happens when, and what each stretch is called in the figures.
    struct Event
    {
        int second;
        QString stretch;
        std::function<bool()> action;
    };
    const auto replug = [&chain](QStringList options) {
        return [&chain, options] { return chain.plug(options); };
    };
    const QList<Event> events{
        {0, QStringLiteral("ruido, tramas cortadas y rotas; fin del verano"), [] { return true; }},
        {at(0.2), QStringLiteral("reloj parado"), replug({QStringLiteral("--freeze"), "20"})},
        {at(0.3), QStringLiteral("saltos de ida y vuelta"),
         replug({QStringLiteral("--jump"), "10s@20", QStringLiteral("--jump"), "-10s@40"})},
        {at(0.42), QStringLiteral("desenchufado"),
         [&chain] {
             chain.unplug();
             return true;
         }},
        {at(0.47), QStringLiteral("enchufado de nuevo, servicio reiniciado, salto duradero"),
         [&] {
             zone.set(zoneChangingIn(std::chrono::seconds(at(0.75) - at(0.47)), true));
             chain.refclock.stopWith(SIGTERM);
             return chain.plug({QStringLiteral("--jump"), "7s@30"}) && chain.startRefclock(service);
         }},
        {at(0.85), QStringLiteral("de nuevo en hora; principio del verano antes"),
         replug({QStringLiteral("--noise")})},
    };

    qint64 frames = 0;
    qint64 samples = 0;
    qint64 logLines = 0;
    // chrony's worst error, per stretch, counted once the device's time has been steady for a
    // minute: chronyd (-x) needs that long to move its estimate after the device's time moves.
    QMap<QString, double> worstError;
    int steadySince = 0;
    QMap<QString, int> silentSeconds;
    qint64 serviceStart = -1;
    qint64 windowStart = -1;
    QString stretch;
    double expectedOffset = 0; // the device's offset from the computer's clock, in seconds
    qsizetype seen = 0;
    int next = 0;
    QElapsedTimer clock;
    clock.start();
    for (int second = 0; second < total; ++second) {
        if (next < events.size() && second >= events.at(next).second) {
            stretch = events.at(next).stretch;
            const int reading = chain.refclock.linesWith(QStringLiteral("Leyendo")).size();
            QVERIFY2(events.at(next).action(), qPrintable(stretch));
            // Once the service reads the device that came back, the user picks its entry
            // again, as the window asks of a device that went away.
            if (chain.refclock.waitForLines(QStringLiteral("Leyendo"), reading + 1, 5000)) {
                auto *combo = window.control<QComboBox>(QStringLiteral("Combo1"));
                emit combo->activated(combo->currentIndex());
            }
            expectedOffset = 0;
            steadySince = second;
            ++next;
        }
        QTest::qWait(int(qMax<qint64>(0, (second + 1) * 1000LL - clock.elapsed())));
        const QStringList lines = chain.refclock.lines();
        int sentNow = 0;
        for (qsizetype i = qMin(seen, lines.size()); i < lines.size(); ++i) {
            const QString &line = lines.at(i);
            // Each line begins with the program's name.
            if (line.contains(QLatin1String(": Muestra enviada")))
                ++sentNow;
            if (line.contains(QLatin1String(": Muestra "))
                || line.contains(QLatin1String(": Trama ")))
                ++frames;
            else
                ++logLines;
            if (line.contains(QLatin1String("mantuvo su nueva hora")))
                expectedOffset = 7;
            if (line.contains(QLatin1String("mantuvo su nueva hora"))
                || line.contains(QLatin1String("saltó")) || line.contains(QLatin1String("parado"))
                || line.contains(QLatin1String("avanza de nuevo")))
                steadySince = second;
        }
        seen = lines.size();
        samples += sentNow;
        if (second % 60 == 59)
            qInfo("%d s: %lld frames, %lld samples so far, %d log lines (%s)", second + 1, frames,
                  samples, int(lines.size()), qPrintable(stretch));
        if (sentNow == 0) {
            ++silentSeconds[stretch];
        } else if (const std::optional<double> estimate = chain.chronyd.estimatedOffset()) {
            if (second - steadySince >= 60)
                worstError[stretch] =
                    qMax(worstError.value(stretch), qAbs(*estimate - expectedOffset) * 1000);
        }
        if (second == 60) {
            serviceStart = residentBytesOf(chain.refclock.processId());
            windowStart = residentBytes();
        }
    }
    const qint64 serviceEnd = residentBytesOf(chain.refclock.processId());
    const qint64 windowEnd = residentBytes();
    QVERIFY(samples > 0);
    qInfo("soak of %d min: %lld frames seen by the service, %lld samples sent", minutes, frames,
          samples);
    for (auto it = worstError.cbegin(); it != worstError.cend(); ++it)
        qInfo("chrony's worst error while the device agreed, a minute after any change: %.2f ms, "
              "%s",
              it.value(), qPrintable(it.key()));
    for (auto it = silentSeconds.cbegin(); it != silentSeconds.cend(); ++it)
        qInfo("seconds without samples: %d, %s", it.value(), qPrintable(it.key()));
    qInfo("memory: service %.1f MB after a minute, %.1f MB at the end (the second service's); "
          "window %.1f MB, %.1f MB",
          double(serviceStart) / 1e6, double(serviceEnd) / 1e6, double(windowStart) / 1e6,
          double(windowEnd) / 1e6);
    qInfo("service log: %.0f lines an hour (besides its per-frame lines)",
          double(logLines) * 3600 / total);
}

int main(int argc, char *argv[])
{
    // Longer than QtTest's watchdog lets a test function run (5 minutes by default).
    qputenv("QTEST_FUNCTION_TIMEOUT", "7200000");
    QApplication application(argc, argv);
    application.setAttribute(Qt::AA_Use96Dpi, true);
    BenchSoakDay bench;
    return QTest::qExec(&bench, argc, argv);
}
#include "bench_soakday.moc"
