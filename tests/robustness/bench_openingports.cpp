// How late the window's 100 ms tick comes while ports are opened: the window on a device whose
// service accepts its connection but is slow to greet it (a service busy or hung), and on ports
// that the system's listing must resolve. Prints the worst lateness; fails only when the window
// could not be measured.
#include "share/shareprotocol.h"
#include "tests/robustness/tickwatch.h"
#include "tests/support/windowonline.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QThread>

using namespace std::chrono_literals;

namespace {

// A service that accepts every client and never says a word, on a thread of its own.
class SilentService : public QThread
{
public:
    explicit SilentService(QString path) : m_path(std::move(path)) {}
    ~SilentService() override
    {
        quit();
        wait();
    }

private:
    void run() override
    {
        QLocalServer server;
        if (!server.listen(m_path))
            return;
        QObject::connect(&server, &QLocalServer::newConnection, &server, [&server] {
            while (QLocalSocket *client = server.nextPendingConnection())
                client->setParent(&server);
        });
        exec();
    }

    QString m_path;
};

} // namespace

class BenchOpeningPorts : public QObject
{
    Q_OBJECT

private slots:
    void tickWhileOpening();
};

void BenchOpeningPorts::tickWhileOpening()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const EnvironmentSetting share(ShareFolderVariable, QFile::encodeName(folder.path()));
    // Com1 is a device the slow service holds; Com2 to Com4 are the system's own ports.
    const QString device = folder.filePath(QStringLiteral("ttyQUORVEL0"));
    QFile placeholder(device);
    QVERIFY(placeholder.open(QIODevice::WriteOnly));
    SilentService service(shareSocketPath(device));
    service.start();
    QTRY_VERIFY(QFile::exists(shareSocketPath(device)));
    const EnvironmentSetting others[]{EnvironmentSetting("QUORVEL_COM2"),
                                      EnvironmentSetting("QUORVEL_COM3"),
                                      EnvironmentSetting("QUORVEL_COM4")};
    for (const char *name : {"QUORVEL_COM2", "QUORVEL_COM3", "QUORVEL_COM4"})
        qunsetenv(name);

    WindowOnLine rig;
    rig.nameDevice(device);
    rig.form.Form_Load();
    rig.form.show();
    auto *combo = rig.control<QComboBox>(QStringLiteral("Combo1"));
    TickWatch watch(rig.timer1());
    QTest::qWait(300);

    // Each port in turn, a pick every 250 ms, for 40 picks; the worst gap between two ticks.
    // A pick restarts the tick (the port selection sets Timer1 anew), so a gap of up to two
    // intervals is the design; what a pick holds the window's thread is measured apart.
    constexpr int Picks = 40;
    watch.restart();
    qint64 longestPickUs = 0;
    for (int pick = 0; pick < Picks; ++pick) {
        combo->setCurrentIndex(pick % 4);
        QElapsedTimer held;
        held.start();
        emit combo->activated(pick % 4); // as picking the entry does
        longestPickUs = std::max(longestPickUs, held.nsecsElapsed() / 1000);
        QTest::qWait(250);
    }
    const auto worst = watch.longestGap();
    QVERIFY(watch.ticks() > 0);
    qInfo("| opening ports (a service slow to greet on Com1, the system's ports on Com2-4) | "
          "%d picks | %d ticks | worst gap between ticks %lld ms | longest a pick held the "
          "window's thread %.1f ms |",
          Picks, watch.ticks(), qlonglong(worst.count()), double(longestPickUs) / 1000);
}

QTEST_MAIN(BenchOpeningPorts)
#include "bench_openingports.moc"
