#include "clock/platformclockbackend.h"
#include "clock/windowsclockbackend.h"
#include "frametime/utctime.h"

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
    void realPrivilegeRequestMatchesTheToken();
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

void TestWindowsClockBackend::programUsesTheWindowsBackend()
{
    QObject owner;
    ClockBackend *backend = createPlatformClockBackend(&owner);
    QVERIFY(qobject_cast<WindowsClockBackend *>(backend));
    QCOMPARE(backend->parent(), &owner);
}

QTEST_GUILESS_MAIN(TestWindowsClockBackend)
#include "tst_windowsclockbackend.moc"
