#include "core/Error.h"
#include "core/Platform.h"
#include "restore/DownloadStream.h"
#include "restore/RunAndWait.h"
#include "settings/SettingsStore.h"
#include "support/ErrorOf.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <optional>

#include <windows.h>

namespace {

// A value of the store's key that none of the user's settings uses.
const QString TestValue = QStringLiteral("CorvaneTestValue");
constexpr const wchar_t* KeyPath = L"SOFTWARE\\Corvane";

// A registry value as the registry API gives it: its type and its bytes; REG_NONE when it is missing.
struct TRawValue {
    DWORD Type = REG_NONE;
    QByteArray Data;
    bool operator==(const TRawValue&) const = default;
};

QByteArray TextBytes(const QString& text) {
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

const wchar_t* WideName(const QString& name) {
    return reinterpret_cast<const wchar_t*>(name.utf16());
}

TRawValue ReadRaw(const QString& name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return {};
    TRawValue value;
    DWORD size = 0;
    if (::RegQueryValueExW(key, WideName(name), nullptr, &value.Type, nullptr, &size) == ERROR_SUCCESS) {
        value.Data.resize(size);
        ::RegQueryValueExW(key, WideName(name), nullptr, &value.Type,
                           reinterpret_cast<BYTE*>(value.Data.data()), &size);
    } else {
        value = {};
    }
    ::RegCloseKey(key);
    return value;
}

void WriteRaw(const QString& name, DWORD type, const QByteArray& data) {
    HKEY key = nullptr;
    QVERIFY(::RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr) == ERROR_SUCCESS);
    QVERIFY(::RegSetValueExW(key, WideName(name), 0, type, reinterpret_cast<const BYTE*>(data.constData()),
                             DWORD(data.size())) == ERROR_SUCCESS);
    ::RegCloseKey(key);
}

void RemoveRaw(const QString& name) {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, KeyPath, WideName(name));
}

} // namespace

namespace QTest {
template <> char* toString(const TRawValue& value) {
    return qstrdup(QByteArray("type " + QByteArray::number(uint(value.Type)) + ", " + value.Data.toHex(' ')));
}
} // namespace QTest

class TestWindowsPlatform : public QObject {
    Q_OBJECT

  private slots:
    void init() { QVERIFY(FFolder.isValid()); }

    // The store keeps its values under HKEY_CURRENT_USER\SOFTWARE\Corvane as REG_SZ texts exactly as
    // given, with nothing escaped or tagged; reading leaves them as they are.
    void registryTextsAreKeptExactly_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << QStringLiteral("  backups/db \"q\" ;x=1 \u00e9");
        QTest::newRow("leading @") << QStringLiteral("@backups/db");
        QTest::newRow("two @") << QStringLiteral("@@backups/db");
        QTest::newRow("looks invalid") << QStringLiteral("@Invalid()");
        QTest::newRow("looks like a variant") << QStringLiteral("@Variant(\\0\\0\\0\\x2)");
        QTest::newRow("controls") << QStringLiteral("a\tb\r\nc");
        QTest::newRow("empty") << QString();
    }

    void registryTextsAreKeptExactly() {
        QFETCH(QString, text);
        const TSettingsStore store;
        QCOMPARE(store.Location(), QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Corvane"));
        const auto remove = qScopeGuard([] { RemoveRaw(TestValue); });

        store.WriteText(TestValue, text);
        QCOMPARE(ReadRaw(TestValue), (TRawValue{REG_SZ, TextBytes(text) + QByteArray(2, '\0')}));
        QCOMPARE(store.ReadText(TestValue), text);

        // Written by another program: read as it stands, and left so.
        const QByteArray raw = TextBytes(text) + QByteArray(2, '\0');
        WriteRaw(TestValue, REG_SZ, raw);
        QCOMPARE(store.ReadText(TestValue), text);
        QCOMPARE(ReadRaw(TestValue), (TRawValue{REG_SZ, raw}));
    }

    // Values others wrote: texts up to their first NUL, whatever their end; other types refused.
    void registryValuesOthersWrote_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("error");
        const QString invalid = QStringLiteral("Invalid data type for 'CorvaneTestValue'");
        QTest::newRow("no terminating NUL") << int(REG_SZ) << TextBytes(QStringLiteral("@Invalid()"))
                                            << QStringLiteral("@Invalid()") << QString();
        QTest::newRow("embedded NUL")
            << int(REG_SZ) << TextBytes(QStringLiteral("before") + QChar(u'\0') + QStringLiteral("after"))
            << QStringLiteral("before") << QString();
        QTest::newRow("no data") << int(REG_SZ) << QByteArray() << QString() << QString();
        QTest::newRow("number") << int(REG_DWORD) << QByteArray("\x2a\0\0\0", 4) << QString() << invalid;
        QTest::newRow("expandable text")
            << int(REG_EXPAND_SZ) << TextBytes(QStringLiteral("%TEMP%")) + QByteArray(2, '\0') << QString()
            << invalid;
        QTest::newRow("text list") << int(REG_MULTI_SZ)
                                   << TextBytes(QStringLiteral("a")) + QByteArray(6, '\0') << QString()
                                   << invalid;
        QTest::newRow("bytes") << int(REG_BINARY) << QByteArray("/tmp") << QString() << invalid;
    }

    void registryValuesOthersWrote() {
        QFETCH(int, type);
        QFETCH(QByteArray, data);
        QFETCH(QString, expected);
        QFETCH(QString, error);
        const auto remove = qScopeGuard([] { RemoveRaw(TestValue); });
        WriteRaw(TestValue, DWORD(type), data);
        // As the registry keeps it: Wine ends a text that lacks its NUL with one, Windows does not.
        const TRawValue written = ReadRaw(TestValue);
        QCOMPARE(written.Type, DWORD(type));
        const TSettingsStore store;

        QString text;
        QCOMPARE(ErrorOf([&] { text = store.ReadText(TestValue); }), error);
        QCOMPARE(text, expected);
        QCOMPARE(ReadRaw(TestValue), written);

        // Writing replaces the value whatever its type was; removing it leaves nothing to read.
        store.WriteText(TestValue, QStringLiteral("replaced"));
        QCOMPARE(store.ReadText(TestValue), QStringLiteral("replaced"));
        store.RemoveValue(TestValue);
        QCOMPARE(ReadRaw(TestValue), TRawValue{});
        QCOMPARE(store.ReadText(TestValue), QString());
        store.RemoveValue(TestValue);
    }

    // No other open gets at the file meanwhile, but it can be removed: it goes once it is closed.
    void exclusiveFileIsOpenToNobodyElse() {
        const QString path = FFolder.filePath(QStringLiteral("a.backup"));
        {
            TExclusiveFile file(path);
            QCOMPARE(file.Write("PGDMP", 5), 5);
            const QString refused = ErrorOf([&] { TExclusiveFile second(path); });
            QVERIFY2(refused.startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(path)),
                     qPrintable(refused));
            QFile reader(path);
            QVERIFY(!reader.open(QIODevice::ReadOnly));
        }
        QFile reader(path);
        QVERIFY(reader.open(QIODevice::ReadOnly));
        QCOMPARE(reader.readAll(), QByteArray("PGDMP"));
        reader.close();
        {
            TExclusiveFile file(path);
            RemoveFile(path);
        }
        QVERIFY(!QFileInfo::exists(path));
    }

    // An existing file is cut on open; Resize leaves the position where it was, as on POSIX.
    void exclusiveFileCutsAndResizes() {
        const QString path = FFolder.filePath(QStringLiteral("b.backup"));
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old contents");
        }
        TExclusiveFile file(path);
        QCOMPARE(file.Size(), 0);
        QCOMPARE(file.Write("0123456789", 10), 10);
        file.Resize(4);
        QCOMPARE(file.Size(), 4);
        QCOMPARE(file.Position(), 10);
        file.SetPosition(2);
        QCOMPARE(file.Position(), 2);
        QVERIFY(!ErrorOf([&] { file.SetPosition(-1); }).isEmpty());
    }

    // The checksum of a file not hashed while written is read through the download's own handle: the
    // file cannot be opened again meanwhile.
    void downloadChecksumReadsTheOpenFile() {
        TS3DownloadStream stream(FFolder.filePath(QStringLiteral("d.backup")));
        stream.SetHashing(false);
        const QByteArray content(3 * TS3DownloadStream::GatherSize / 2, 'x');
        QCOMPARE(stream.Write(std::span(content.constData(), content.size()), 0, content.size()),
                 content.size());
        QCOMPARE(stream.Md5(), QCryptographicHash::hash(content, QCryptographicHash::Md5));
        QCOMPARE(stream.Position(), content.size());
    }

    // The checksum thread reads the file back through the download's handle while the download writes
    // ranges out of order through it: both name their offsets, and the gathered writes go on at the
    // stream's own position.
    void downloadHashesWhileItWrites() {
        TS3DownloadStream stream(FFolder.filePath(QStringLiteral("e.backup")));
        QByteArray content(24 * TS3DownloadStream::GatherSize + 12345, Qt::Uninitialized);
        for (qsizetype i = 0; i < content.size(); ++i)
            content[i] = char((i * 7919) >> 9);
        const qint64 head = 8 * TS3DownloadStream::GatherSize;
        const qint64 tail = content.size() - head;
        for (qint64 offset = head + tail / 2; offset > head;
             offset -= 3 * TS3DownloadStream::GatherSize / 2) {
            const qint64 start = std::max(head, offset - 3 * TS3DownloadStream::GatherSize / 2);
            stream.WriteAt(start, content.constData() + start, offset - start);
        }
        stream.WriteAt(head + tail / 2, content.constData() + head + tail / 2, tail - tail / 2);
        for (qint64 offset = 0; offset < head; offset += 16 * 1024)
            QCOMPARE(stream.Write(std::span(content.constData(), head), offset, 16 * 1024), 16 * 1024);
        QCOMPARE(stream.Md5(), QCryptographicHash::hash(content, QCryptographicHash::Md5));
        QCOMPARE(stream.Position(), head);
        QCOMPARE(stream.Size(), content.size());
    }

    void removeFile() {
        const QString path = FFolder.filePath(QStringLiteral("c.backup"));
        RemoveFile(path);
        QFile created(path);
        QVERIFY(created.open(QIODevice::WriteOnly));
        created.close();
        RemoveFile(path);
        QVERIFY(!QFile::exists(path));
    }

    // The command runner on Windows: a console program started hidden (no console window), its exit code
    // and a failed start.
    void runsConsolePrograms_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("parameters");
        QTest::addColumn<bool>("started");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("success") << "cmd.exe"
                                 << "/c exit 0" << true << 0;
        QTest::newRow("failure") << "cmd.exe"
                                 << "/c exit 3" << true << 3;
        QTest::newRow("found through PATH without .exe") << "cmd"
                                                         << "/c exit 0" << true << 0;
        QTest::newRow("not found") << "corvane-no-such-program.exe"
                                   << "--if-exists" << false << -1;
    }

    void runsConsolePrograms() {
        QFETCH(QString, program);
        QFETCH(QString, parameters);
        QFETCH(bool, started);
        QFETCH(int, exitCode);
        QStringList log;
        const TProgramOutcome outcome =
            RunAndWait(program, parameters, [&](const QString& line) { log << line; });
        QCOMPARE(log, QStringList{program + u' ' + parameters});
        QCOMPARE(outcome.Started, started);
        QCOMPARE(outcome.ExitCode, exitCode);
    }

    // Names the client programs cannot receive are told apart from those they can: their arguments go
    // through the ANSI code page, where a missing character becomes "?" or a look-alike.
    void argumentsInTheCodePage_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("carried");
        QTest::newRow("ASCII") << "sales office" << true;
        QTest::newRow("Cyrillic and Arabic, in no one code page") << "продажи مبيعات" << false;
        if (GetACP() == 1252) {
            QTest::newRow("in code page 1252") << "café Zürich" << true;
            QTest::newRow("a look-alike only (ł as l)") << "łódź" << false;
            QTest::newRow("Cyrillic") << "продажи" << false;
        }
    }
    void argumentsInTheCodePage() {
        QFETCH(QString, text);
        QFETCH(bool, carried);
        if (GetACP() == CP_UTF8)
            QSKIP("the system's ANSI code page is UTF-8, which carries every character");
        QCOMPARE(ProgramArgumentsCarry(text), carried);
        QCOMPARE(ProgramArgumentsCodePage(), QStringLiteral("Windows' ANSI code page %1").arg(GetACP()));
    }

    // A download's file in a folder whose path is longer than the 260 characters of old.
    void longPaths() {
        QString folder = FFolder.path();
        while (folder.size() < 300)
            folder += QStringLiteral("/a folder with a long name");
        QVERIFY(QDir().mkpath(folder));
        const QString path =
            QDir::toNativeSeparators(folder + QStringLiteral("/Sales Office-20231118.backup"));
        {
            TExclusiveFile file(path);
            QCOMPARE(file.Write("PGDMP", 5), 5);
            QCOMPARE(file.Size(), 5);
        }
        QVERIFY(QFile::exists(path));
        RemoveFile(path);
        QVERIFY(!QFile::exists(path));
    }

    void commandLinesShowWindowsNames() {
        QCOMPARE(ProgramFileName(QStringLiteral("dropdb")), QStringLiteral("dropdb.exe"));
        QCOMPARE(JoinNativePath(QStringLiteral("C:\\Backups"), QStringLiteral("x.backup")),
                 QStringLiteral("C:\\Backups\\x.backup"));
        QCOMPARE(JoinNativePath(QStringLiteral("C:\\Backups\\"), QStringLiteral("x.backup")),
                 QStringLiteral("C:\\Backups\\x.backup"));
        QCOMPARE(JoinNativePath(QStringLiteral("C:/Backups/"), QStringLiteral("x.backup")),
                 QStringLiteral("C:/Backups/x.backup"));
    }

  private:
    QTemporaryDir FFolder;
};

QTEST_GUILESS_MAIN(TestWindowsPlatform)
#include "TestWindowsPlatform.moc"
