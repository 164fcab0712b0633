#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <vector>

#include <windows.h>

// What Windows itself reads from Quorvel2.exe: its version record, through the version API,
// and its icon, through the resource API.
class TestVersionRecord : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fixedVersion();
    void oneTranslationSpanishUnicode();
    void strings_data();
    void strings();
    void iconHasSmallAndLargeImages();

private:
    const void *query(const QString &path, UINT *size = nullptr);

    std::wstring m_program;
    std::vector<char> m_record;
};

void TestVersionRecord::initTestCase()
{
    const QString program = QDir::toNativeSeparators(QCoreApplication::applicationDirPath()
                                                     + QLatin1Char('/') + QUORVEL_PROGRAM_NAME);
    QVERIFY2(QFileInfo::exists(program), qPrintable(program));
    m_program = program.toStdWString();

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(m_program.c_str(), &ignored);
    QVERIFY2(size > 0, "the program has no version record");
    m_record.resize(size);
    QVERIFY(GetFileVersionInfoW(m_program.c_str(), 0, size, m_record.data()));
}

const void *TestVersionRecord::query(const QString &path, UINT *size)
{
    void *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(m_record.data(), reinterpret_cast<LPCWSTR>(path.utf16()), &value, &length))
        return nullptr;
    if (size)
        *size = length;
    return value;
}

void TestVersionRecord::fixedVersion()
{
    UINT size = 0;
    const auto *fixed = static_cast<const VS_FIXEDFILEINFO *>(query(QStringLiteral("\\"), &size));
    QVERIFY(fixed);
    QCOMPARE(size, UINT(sizeof(VS_FIXEDFILEINFO)));
    QCOMPARE(fixed->dwSignature, DWORD(0xFEEF04BD));
    // 1.0.0.0
    QCOMPARE(fixed->dwFileVersionMS, DWORD(0x00010000));
    QCOMPARE(fixed->dwFileVersionLS, DWORD(0));
    QCOMPARE(fixed->dwProductVersionMS, DWORD(0x00010000));
    QCOMPARE(fixed->dwProductVersionLS, DWORD(0));
    QCOMPARE(fixed->dwFileType, DWORD(VFT_APP));
}

void TestVersionRecord::oneTranslationSpanishUnicode()
{
    UINT size = 0;
    const auto *translations =
        static_cast<const WORD *>(query(QStringLiteral("\\VarFileInfo\\Translation"), &size));
    QVERIFY(translations);
    QCOMPARE(size, UINT(2 * sizeof(WORD)));  // one language and code page pair
    QCOMPARE(translations[0], WORD(0x0C0A)); // Spanish (Spain)
    QCOMPARE(translations[1], WORD(1200));   // Unicode
}

void TestVersionRecord::strings_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");

    QTest::newRow("ProductName") << "ProductName"
                                 << "Quorvel2";
    QTest::newRow("InternalName") << "InternalName"
                                  << "Quorvel2";
    QTest::newRow("OriginalFilename") << "OriginalFilename"
                                      << "Quorvel2.exe";
    QTest::newRow("FileVersion") << "FileVersion"
                                 << "1.00";
    QTest::newRow("ProductVersion") << "ProductVersion"
                                    << "1.00";
}

void TestVersionRecord::strings()
{
    QFETCH(QString, name);
    QFETCH(QString, value);

    UINT size = 0;
    const auto *text = static_cast<const wchar_t *>(
        query(QStringLiteral("\\StringFileInfo\\0C0A04B0\\") + name, &size));
    QVERIFY2(text, qPrintable(name + QLatin1String(" is missing")));
    QCOMPARE(QString::fromWCharArray(text), value);
}

void TestVersionRecord::iconHasSmallAndLargeImages()
{
    HMODULE module = LoadLibraryExW(m_program.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    QVERIFY(module);
    // The first icon group is the one Explorer and the Start menu show.
    LPWSTR firstGroup = nullptr;
    EnumResourceNamesW(
        module, RT_GROUP_ICON,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) -> BOOL {
            *reinterpret_cast<LPWSTR *>(found) = name;
            return FALSE;
        },
        reinterpret_cast<LONG_PTR>(&firstGroup));
    QVERIFY2(firstGroup, "the program has no icon");
    HRSRC resource = FindResourceW(module, firstGroup, RT_GROUP_ICON);
    QVERIFY(resource);
    const auto *group = static_cast<const BYTE *>(LockResource(LoadResource(module, resource)));
    QVERIFY(group);

    // GRPICONDIR: reserved, type 1, count; then 14-byte entries starting with width, height.
    const auto word = [group](int at) { return WORD(group[at] | (group[at + 1] << 8)); };
    QCOMPARE(word(2), WORD(1));
    QList<QSize> sizes;
    for (int i = 0; i < word(4); ++i)
        sizes.append(QSize(group[6 + 14 * i], group[6 + 14 * i + 1]));
    QVERIFY2(sizes.contains(QSize(16, 16)), "no 16 x 16 image");
    QVERIFY2(sizes.contains(QSize(32, 32)), "no 32 x 32 image");

    HICON large = nullptr;
    HICON small = nullptr;
    QCOMPARE(ExtractIconExW(m_program.c_str(), 0, &large, &small, 1), UINT(2));
    QVERIFY(large && small);
    DestroyIcon(large);
    DestroyIcon(small);
    FreeLibrary(module);
}

QTEST_GUILESS_MAIN(TestVersionRecord)
#include "tst_versionrecord.moc"
