#include "clock/platformclockbackend.h"
#include "clock/windowsclockbackend.h"

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

// The Windows calls, recorded: what was asked, in order, with the answers the test sets.
// SetSystemTime is never called for real.
struct Recorder
{
    QStringList asked;
    QList<SYSTEMTIME> times;
    DWORD privilegeAnswer = ERROR_SUCCESS;
    DWORD setAnswer = ERROR_SUCCESS;

    WindowsClockCalls calls()
    {
        return WindowsClockCalls{[this] {
                                     asked.append(QStringLiteral("privilege"));
                                     return privilegeAnswer;
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

    const auto at = [](int y, int mo, int d, int h, int mi, int s, int ms) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
    };
    QTest::newRow("a Friday in summer")
        << at(2007, 6, 15, 10, 0, 0, 250) << 0 << QList<int>{2007, 6, 5, 15, 10, 0, 0, 250};
    QTest::newRow("Sunday is weekday 0")
        << at(2007, 6, 17, 23, 59, 59, 0) << 0 << QList<int>{2007, 6, 0, 17, 23, 59, 59, 0};
    QTest::newRow("Saturday is weekday 6")
        << at(2007, 6, 16, 0, 0, 0, 0) << 0 << QList<int>{2007, 6, 6, 16, 0, 0, 0, 0};
    QTest::newRow("leap day, microseconds cut to milliseconds")
        << at(2008, 2, 29, 23, 59, 59, 999) << 999 << QList<int>{2008, 2, 5, 29, 23, 59, 59, 999};
    QTest::newRow("start of the epoch")
        << at(1970, 1, 1, 0, 0, 0, 0) << 0 << QList<int>{1970, 1, 4, 1, 0, 0, 0, 0};
    QTest::newRow("past 32-bit seconds")
        << at(2038, 1, 19, 3, 14, 8, 1) << 0 << QList<int>{2038, 1, 2, 19, 3, 14, 8, 1};
}

void TestWindowsClockBackend::setsUniversalTimeInOneCall()
{
    QFETCH(QDateTime, when);
    QFETCH(int, extraMicroseconds);
    QFETCH(QList<int>, fields);

    Recorder recorder;
    WindowsClockBackend backend(recorder.calls());
    QSignalSpy finished(&backend, &ClockBackend::finished);
    backend.setTime(utcOf(when, std::chrono::microseconds(extraMicroseconds)));

    QCOMPARE(recorder.asked, (QStringList{"privilege", "set"}));
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
    backend.setTime(utcOf(QDateTime(QDate(2007, 6, 15), QTime(10, 0), Qt::UTC)));

    // Answered before setTime() returned, once.
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
