#include "clock/clocksetting.h"
#include "clock/windowsclockbackend.h"
#include "frametime/frametime.h"
#include "ui/windowtexts.h"

#include <QDateTime>
#include <QList>
#include <QSignalSpy>
#include <QTest>

#include <optional>
#include <vector>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(DWORD)

namespace {

UtcTime utcOf(const QDateTime &when, std::chrono::microseconds extra = {})
{
    return UtcTime(std::chrono::milliseconds(when.toMSecsSinceEpoch())) + extra;
}

// What GetSystemTime reads, unless a test says otherwise: 9 December 2026, 01:00:00.000 UTC.
const QDateTime Reading(QDate(2026, 12, 9), QTime(1, 0), Qt::UTC);

SYSTEMTIME systemTimeOf(const QDateTime &when)
{
    SYSTEMTIME value{};
    value.wYear = WORD(when.date().year());
    value.wMonth = WORD(when.date().month());
    value.wDayOfWeek = WORD(when.date().dayOfWeek() % 7);
    value.wDay = WORD(when.date().day());
    value.wHour = WORD(when.time().hour());
    value.wMinute = WORD(when.time().minute());
    value.wSecond = WORD(when.time().second());
    value.wMilliseconds = WORD(when.time().msec());
    return value;
}

// The Windows calls, recorded: what was asked, in order, with the answers the test sets.
// SetSystemTime is never called for real.
struct Recorder
{
    QStringList asked;
    QList<SYSTEMTIME> times;
    DWORD privilegeAnswer = ERROR_SUCCESS;
    DWORD setAnswer = ERROR_SUCCESS;
    QDateTime reading = Reading;

    WindowsClockCalls calls()
    {
        return WindowsClockCalls{[this] {
                                     asked.append(QStringLiteral("privilege"));
                                     return privilegeAnswer;
                                 },
                                 [this] {
                                     asked.append(QStringLiteral("read"));
                                     return systemTimeOf(reading);
                                 },
                                 [this](const SYSTEMTIME &value) {
                                     asked.append(QStringLiteral("set"));
                                     times.append(value);
                                     return setAnswer;
                                 }};
    }
};

// Whether the process token holds SE_SYSTEMTIME_NAME, and whether it is enabled.
struct TokenPrivilege
{
    bool held = false;
    bool enabled = false;
};

std::optional<TokenPrivilege> systemTimePrivilegeInToken()
{
    LUID luid{};
    if (!LookupPrivilegeValueW(nullptr, SE_SYSTEMTIME_NAME, &luid))
        return std::nullopt;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return std::nullopt;
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<char> buffer(size);
    std::optional<TokenPrivilege> found;
    if (size > 0 && GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) {
        found = TokenPrivilege{};
        const auto *privileges = reinterpret_cast<const TOKEN_PRIVILEGES *>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID_AND_ATTRIBUTES &entry = privileges->Privileges[i];
            if (entry.Luid.LowPart == luid.LowPart && entry.Luid.HighPart == luid.HighPart) {
                found->held = true;
                found->enabled = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
            }
        }
    }
    CloseHandle(token);
    return found;
}

} // namespace

class TestWindowsClockBackend : public QObject
{
    Q_OBJECT

private slots:
    void setsUniversalTimeInOneCall_data();
    void setsUniversalTimeInOneCall();
    void answers_data();
    void answers();
    void elevationForTheOneChange_data();
    void elevationForTheOneChange();
    void elevatedCommandLine_data();
    void elevatedCommandLine();
    void realPrivilegeRequestMatchesTheToken();
    void realElevationHandsBackTheExitCode();
    void programUsesTheWindowsBackend();
};

void TestWindowsClockBackend::setsUniversalTimeInOneCall_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<int>("extraMicroseconds");
    QTest::addColumn<QList<int>>("fields"); // year month weekday day hour minute second ms
    QTest::addColumn<QDateTime>("reading"); // what GetSystemTime reads at the change

    const auto at = [](int y, int mo, int d, int h, int mi, int s, int ms) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
    };
    QTest::newRow("a Friday in summer") << at(2007, 6, 15, 10, 0, 0, 250) << 0
                                        << QList<int>{2007, 6, 5, 15, 10, 0, 0, 250} << Reading;
    QTest::newRow("Sunday is weekday 0") << at(2007, 6, 17, 23, 59, 59, 0) << 0
                                         << QList<int>{2007, 6, 0, 17, 23, 59, 59, 0} << Reading;
    QTest::newRow("Saturday is weekday 6")
        << at(2007, 6, 16, 0, 0, 0, 0) << 0 << QList<int>{2007, 6, 6, 16, 0, 0, 0, 0} << Reading;
    QTest::newRow("leap day, microseconds cut to milliseconds")
        << at(2008, 2, 29, 23, 59, 59, 999) << 999 << QList<int>{2008, 2, 5, 29, 23, 59, 59, 999}
        << Reading;
    QTest::newRow("start of the epoch")
        << at(1970, 1, 1, 0, 0, 0, 0) << 0 << QList<int>{1970, 1, 4, 1, 0, 0, 0, 0} << Reading;
    QTest::newRow("past 32-bit seconds")
        << at(2038, 1, 19, 3, 14, 8, 1) << 0 << QList<int>{2038, 1, 2, 19, 3, 14, 8, 1} << Reading;
    // The offset goes onto what the clock reads at the change, milliseconds and all.
    QTest::newRow("clock read with milliseconds, device ahead into the next day")
        << at(2026, 12, 10, 0, 0, 0, 5) << 0 << QList<int>{2026, 12, 4, 10, 0, 0, 0, 5}
        << at(2026, 12, 9, 23, 59, 58, 505);
    QTest::newRow("clock read with milliseconds, device behind into the previous year")
        << at(2025, 12, 31, 23, 59, 59, 999) << 0 << QList<int>{2025, 12, 3, 31, 23, 59, 59, 999}
        << at(2026, 1, 1, 0, 0, 1, 1);
}

void TestWindowsClockBackend::setsUniversalTimeInOneCall()
{
    QFETCH(QDateTime, when);
    QFETCH(int, extraMicroseconds);
    QFETCH(QList<int>, fields);
    QFETCH(QDateTime, reading);

    Recorder recorder;
    recorder.reading = reading;
    WindowsClockBackend backend(recorder.calls());
    QSignalSpy finished(&backend, &ClockBackend::finished);
    backend.setTimeBy(utcOf(when, std::chrono::microseconds(extraMicroseconds)) - utcOf(reading));

    // The clock is read once, after the privilege and right before it is set.
    QCOMPARE(recorder.asked, (QStringList{"privilege", "read", "set"}));
    const SYSTEMTIME &value = recorder.times.first();
    QCOMPARE((QList<int>{value.wYear, value.wMonth, value.wDayOfWeek, value.wDay, value.wHour,
                         value.wMinute, value.wSecond, value.wMilliseconds}),
             fields);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(0).value<ClockBackend::Outcome>(), ClockBackend::Outcome::Set);
    QCOMPARE(finished.first().at(1).toString(), QString());
}

void TestWindowsClockBackend::answers_data()
{
    QTest::addColumn<DWORD>("privilegeAnswer");
    QTest::addColumn<DWORD>("setAnswer");
    QTest::addColumn<ClockBackend::Outcome>("outcome");
    QTest::addColumn<bool>("setCalled");

    using O = ClockBackend::Outcome;
    QTest::newRow("set") << DWORD(ERROR_SUCCESS) << DWORD(ERROR_SUCCESS) << O::Set << true;
    QTest::newRow("not elevated: token lacks the privilege")
        << DWORD(ERROR_NOT_ALL_ASSIGNED) << DWORD(ERROR_SUCCESS) << O::NoPermission << false;
    QTest::newRow("privilege not held")
        << DWORD(ERROR_PRIVILEGE_NOT_HELD) << DWORD(ERROR_SUCCESS) << O::NoPermission << false;
    QTest::newRow("token cannot be opened")
        << DWORD(ERROR_INVALID_HANDLE) << DWORD(ERROR_SUCCESS) << O::Refused << false;
    QTest::newRow("SetSystemTime: privilege not held")
        << DWORD(ERROR_SUCCESS) << DWORD(ERROR_PRIVILEGE_NOT_HELD) << O::NoPermission << true;
    QTest::newRow("SetSystemTime: access denied")
        << DWORD(ERROR_SUCCESS) << DWORD(ERROR_ACCESS_DENIED) << O::NoPermission << true;
    QTest::newRow("SetSystemTime: other refusal")
        << DWORD(ERROR_SUCCESS) << DWORD(ERROR_INVALID_PARAMETER) << O::Refused << true;
}

void TestWindowsClockBackend::answers()
{
    QFETCH(DWORD, privilegeAnswer);
    QFETCH(DWORD, setAnswer);
    QFETCH(ClockBackend::Outcome, outcome);
    QFETCH(bool, setCalled);

    Recorder recorder;
    recorder.privilegeAnswer = privilegeAnswer;
    recorder.setAnswer = setAnswer;
    WindowsClockBackend backend(recorder.calls());
    QSignalSpy finished(&backend, &ClockBackend::finished);
    backend.setTimeBy(std::chrono::microseconds(2500000));

    // Answered before setTimeBy() returned, once.
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(0).value<ClockBackend::Outcome>(), outcome);
    QCOMPARE(recorder.asked.contains(QStringLiteral("set")), setCalled);
    // A refusal carries the system's own text for its error code.
    const QString text = finished.first().at(1).toString();
    const DWORD error = privilegeAnswer != ERROR_SUCCESS ? privilegeAnswer : setAnswer;
    if (outcome == ClockBackend::Outcome::Set)
        QCOMPARE(text, QString());
    else
        QCOMPARE(text, qt_error_string(int(error)));
}

// The value a SYSTEMTIME stands for.
QDateTime dateTimeOf(const SYSTEMTIME &value)
{
    return QDateTime(QDate(value.wYear, value.wMonth, value.wDay),
                     QTime(value.wHour, value.wMinute, value.wSecond, value.wMilliseconds),
                     Qt::UTC);
}

constexpr DWORD RunTheElevatedProgram = 0xffffffff; // the fake prompt is accepted

void TestWindowsClockBackend::elevationForTheOneChange_data()
{
    QTest::addColumn<DWORD>("windowPrivilege"); // the window's own token
    QTest::addColumn<DWORD>("promptAnswer");    // what starting the elevated program gives
    QTest::addColumn<bool>("asked");
    QTest::addColumn<ClockBackend::Outcome>("outcome");
    QTest::addColumn<QString>("message");

    using O = ClockBackend::Outcome;
    const QString notSet = QStringLiteral("No se pudo poner en hora el PC.\r\n");
    QTest::newRow("elevated window: set directly, no prompt")
        << DWORD(ERROR_SUCCESS) << DWORD(ERROR_SUCCESS) << false << O::Set << QString();
    QTest::newRow("not elevated: prompt accepted, the elevated program sets it")
        << DWORD(ERROR_NOT_ALL_ASSIGNED) << RunTheElevatedProgram << true << O::Set << QString();
    QTest::newRow("not elevated: prompt refused")
        << DWORD(ERROR_NOT_ALL_ASSIGNED) << DWORD(ERROR_CANCELLED) << true << O::NoPermission
        << notSet + QStringLiteral("Se necesitan permisos de administrador.");
    QTest::newRow("elevated program did not end in time")
        << DWORD(ERROR_PRIVILEGE_NOT_HELD) << DWORD(WAIT_TIMEOUT) << true << O::Refused
        << notSet + QStringLiteral("El servicio de hora del sistema rechazó el cambio: ")
               + qt_error_string(WAIT_TIMEOUT);
    QTest::newRow("token cannot be read: no prompt either")
        << DWORD(ERROR_INVALID_HANDLE) << DWORD(ERROR_SUCCESS) << false << O::Refused
        << notSet + QStringLiteral("El servicio de hora del sistema rechazó el cambio: ")
               + qt_error_string(ERROR_INVALID_HANDLE);
}

void TestWindowsClockBackend::elevationForTheOneChange()
{
    QFETCH(DWORD, windowPrivilege);
    QFETCH(DWORD, promptAnswer);
    QFETCH(bool, asked);
    QFETCH(ClockBackend::Outcome, outcome);
    QFETCH(QString, message);

    // The window's calls and the elevated program's: the clock has moved on 40 s by the time
    // the elevated program reads it, as when the prompt stays open that long.
    Recorder window;
    window.privilegeAnswer = windowPrivilege;
    Recorder elevated;
    elevated.reading = Reading.addSecs(40);
    QStringList requests;
    const QString program = QStringLiteral("C:\\Program Files\\Quorvel\\Quorvel2.exe");
    ElevationCalls elevation{
        [&](const QString &file, const QString &arguments) -> DWORD {
            requests.append(file + QLatin1Char(' ') + arguments);
            if (promptAnswer != RunTheElevatedProgram)
                return promptAnswer;
            return DWORD(*elevatedClockChange(QStringList{file, arguments}, elevated.calls()));
        },
        program};
    WindowsClockBackend backend(window.calls(), elevation);
    QSignalSpy finished(&backend, &ClockBackend::finished);
    backend.setTimeBy(-2500ms);
    if (finished.isEmpty())
        QVERIFY(finished.wait(5000));

    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(0).value<ClockBackend::Outcome>(), outcome);
    QCOMPARE(clockSettingText(outcome, finished.first().at(1).toString()), message);
    QCOMPARE(requests, asked ? QStringList{program + QStringLiteral(" --set-time-by=-2500000")}
                             : QStringList());
    // Exactly one SetSystemTime in all, at the clock as read at the change, 2.5 s back; the
    // window that is not elevated never tries it.
    const QList<SYSTEMTIME> sets = window.times + elevated.times;
    const bool setsTheClock = outcome == ClockBackend::Outcome::Set;
    QCOMPARE(sets.size(), setsTheClock ? 1 : 0);
    if (setsTheClock) {
        const Recorder &setter = asked ? elevated : window;
        QCOMPARE(dateTimeOf(sets.first()), setter.reading.addMSecs(-2500));
    }
}

void TestWindowsClockBackend::elevatedCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode"); // -1: not the elevated program's command line
    QTest::addColumn<qint64>("offsetMs");

    const QString program = QStringLiteral("Quorvel2.exe");
    QTest::newRow("ahead") << QStringList{program, "--set-time-by=3600000000"} << 0
                           << qint64(3600000);
    QTest::newRow("behind") << QStringList{program, "--set-time-by=-1000"} << 0 << qint64(-1);
    QTest::newRow("a window's command line") << QStringList{program} << -1 << qint64(0);
    QTest::newRow("another option") << QStringList{program, "--version"} << -1 << qint64(0);
    const int invalid = int(ERROR_INVALID_PARAMETER);
    for (const char *bad :
         {"--set-time-by=", "--set-time-by=+5", "--set-time-by= 5", "--set-time-by=5s",
          "--set-time-by=0x10", "--set-time-by=--5", "--set-time-by=99999999999999999999",
          "--set-time-by=3200000000000000"}) // more than a hundred years
        QTest::newRow(bad) << QStringList{program, bad} << invalid << qint64(0);
    QTest::newRow("with more arguments")
        << QStringList{program, "--set-time-by=5", "--version"} << invalid << qint64(0);
}

void TestWindowsClockBackend::elevatedCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(qint64, offsetMs);

    Recorder recorder;
    const std::optional<int> code = elevatedClockChange(arguments, recorder.calls());
    QCOMPARE(code.value_or(-1), exitCode);
    QCOMPARE(recorder.times.size(), exitCode == 0 ? 1 : 0);
    if (exitCode == 0)
        QCOMPARE(dateTimeOf(recorder.times.first()), Reading.addMSecs(offsetMs));
}

void TestWindowsClockBackend::realPrivilegeRequestMatchesTheToken()
{
    // The real privilege request only changes this process's token, never the clock; the real
    // SetSystemTime is not called here.
    const std::optional<TokenPrivilege> before = systemTimePrivilegeInToken();
    QVERIFY2(before, "the process token cannot be read");

    const DWORD answer = systemWindowsClock().enableSystemTimePrivilege();
    const std::optional<TokenPrivilege> after = systemTimePrivilegeInToken();
    QVERIFY(after);
    qInfo("privilege held: %d, answer: %lu", int(before->held), answer);
    if (before->held) {
        QCOMPARE(answer, DWORD(ERROR_SUCCESS));
        QVERIFY(after->enabled);
    } else {
        QCOMPARE(answer, DWORD(ERROR_NOT_ALL_ASSIGNED));
        QVERIFY(!after->held);
    }
}

void TestWindowsClockBackend::realElevationHandsBackTheExitCode()
{
    // The real request on a harmless program: under wine there is no prompt, and the program
    // runs; on Windows this would show the prompt, so it runs under wine only.
    if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        QSKIP("would show a real elevation prompt: under wine only");
    wchar_t system[MAX_PATH] = {};
    QVERIFY(GetSystemDirectoryW(system, MAX_PATH) > 0);
    const QString cmd = QString::fromWCharArray(system) + QStringLiteral("\\cmd.exe");
    QCOMPARE(systemElevation().runElevated(cmd, QStringLiteral("/c exit 7")), DWORD(7));
    QCOMPARE(systemElevation().runElevated(cmd + QStringLiteral(".missing"), QString()),
             DWORD(ERROR_FILE_NOT_FOUND));
}

void TestWindowsClockBackend::programUsesTheWindowsBackend()
{
    QObject owner;
    ClockBackend *backend = createPlatformClockBackend(&owner);
    QVERIFY(qobject_cast<WindowsClockBackend *>(backend));
    QCOMPARE(backend->parent(), &owner);
}

QTEST_GUILESS_MAIN(TestWindowsClockBackend)
#include "tst_windowsclockbackend.moc"
