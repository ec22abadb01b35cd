#include "settings/SettingsStore.h"
#include "support/ErrorOf.h"
#include "support/FileContents.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t ModeOf(const QString& path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return 0;
    return status.st_mode & 07777;
}

// Lets the test see the modes the store asks for rather than what the umask leaves of them.
class TUmaskScope {
  public:
    explicit TUmaskScope(mode_t mask)
        : FPrevious(::umask(mask)) {}
    ~TUmaskScope() { ::umask(FPrevious); }

  private:
    mode_t FPrevious;
};

} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT

  private slots:
    void defaultLocationIsThePerUserIniFile() {
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        QVERIFY(!config.isEmpty());
        QCOMPARE(TSettingsStore().Location(), config + QStringLiteral("/Corvane/Corvane.ini"));
    }

    void textsComeBackExactly_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << QStringLiteral("backups/db") << QStringLiteral("backups/db");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("blanks kept") << QStringLiteral("  two  ") << QStringLiteral("  two  ");
        QTest::newRow("one blank") << QStringLiteral(" ") << QStringLiteral(" ");
        QTest::newRow("INI syntax") << QStringLiteral("a, b;c=d \"q\" [g] #x")
                                    << QStringLiteral("a, b;c=d \"q\" [g] #x");
        QTest::newRow("looks like a variant")
            << QStringLiteral("@Variant(\\0\\0\\0\\x2)") << QStringLiteral("@Variant(\\0\\0\\0\\x2)");
        QTest::newRow("backslashes") << QStringLiteral("C:\\Temp\\x") << QStringLiteral("C:\\Temp\\x");
        QTest::newRow("controls") << QStringLiteral("a\tb\r\nc") << QStringLiteral("a\tb\r\nc");
        QTest::newRow("beyond Latin-1") << QStringLiteral("pässwörd €𝄞") << QStringLiteral("pässwörd €𝄞");
        QTest::newRow("NUL ends the text")
            << QStringLiteral("before") + QChar(u'\0') + QStringLiteral("after") << QStringLiteral("before");
    }

    void textsComeBackExactly() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Corvane/Corvane.ini"));

        TSettingsStore(path).WriteText(TSettingName::Bucket, QStringLiteral("kept"));
        TSettingsStore(path).WriteText(TSettingName::Password, text);

        const TSettingsStore reader(path);
        QCOMPARE(reader.ReadText(TSettingName::Password), expected);
        QCOMPARE(reader.ReadText(TSettingName::Bucket), QStringLiteral("kept"));
        QCOMPARE(reader.ReadText(TSettingName::Username), QString());
    }

    void readingAMissingStoreGivesEmptyTextsAndCreatesNothing() {
        QTemporaryDir dir;
        const TSettingsStore store(dir.filePath(QStringLiteral("Corvane/Corvane.ini")));
        for (const QLatin1String name : {TSettingName::Username, TSettingName::Password, TSettingName::Bucket,
                                         TSettingName::TempDir, TSettingName::DBUsername})
            QCOMPARE(store.ReadText(name), QString());
        QVERIFY(QDir(dir.path()).isEmpty());
    }

    // Stores edited by hand or by another program: only texts are accepted.
    void readingWhatOthersWrote_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("error");
        const QByteArray numbers = "[General]\nUsername=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\nPassword=p\n";
        QTest::newRow("number") << numbers << QStringLiteral("Username") << QString()
                                << QStringLiteral("Invalid data type for 'Username'");
        QTest::newRow("text next to a number")
            << numbers << QStringLiteral("Password") << QStringLiteral("p") << QString();
        QTest::newRow("list") << QByteArray("[General]\nBucket=backups, db\n") << QStringLiteral("Bucket")
                              << QString() << QStringLiteral("Invalid data type for 'Bucket'");
        QTest::newRow("bytes") << QByteArray("[General]\nTempDir=@ByteArray(/tmp)\n")
                               << QStringLiteral("TempDir") << QString()
                               << QStringLiteral("Invalid data type for 'TempDir'");
        QTest::newRow("tagged text") << QByteArray("[General]\nDBUsername=@String(postgres)\n")
                                     << QStringLiteral("DBUsername") << QStringLiteral("postgres")
                                     << QString();
        QTest::newRow("escaped NUL") << QByteArray("[General]\nPassword=abc\\0def\n")
                                     << QStringLiteral("Password") << QStringLiteral("abc") << QString();
        QTest::newRow("no value") << QByteArray("[General]\n") << QStringLiteral("Password") << QString()
                                  << QString();
    }

    void readingWhatOthersWrote() {
        QFETCH(QByteArray, content);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Corvane.ini"));
        QVERIFY(WriteFile(path, content));
        const TSettingsStore store(path);

        QString text;
        QCOMPARE(ErrorOf([&] { text = store.ReadText(name); }), error);
        QCOMPARE(text, expected);

        // Writing replaces the value whatever its type was.
        store.WriteText(name, QStringLiteral("replaced"));
        QCOMPARE(store.ReadText(name), QStringLiteral("replaced"));
    }

    void writesThatCannotBeMadeFail_data() {
        QTest::addColumn<QString>("blocker");
        QTest::addColumn<QString>("storePath");
        QTest::newRow("folder is a file")
            << QStringLiteral("Corvane") << QStringLiteral("Corvane/Corvane.ini");
        QTest::newRow("parent is a file")
            << QStringLiteral("config") << QStringLiteral("config/Corvane/Corvane.ini");
        QTest::newRow("store is a folder")
            << QStringLiteral("Corvane.ini/x") << QStringLiteral("Corvane.ini");
    }

    void writesThatCannotBeMadeFail() {
        QFETCH(QString, blocker);
        QFETCH(QString, storePath);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QFileInfo(dir.filePath(blocker)).path()));
        QVERIFY(WriteFile(dir.filePath(blocker), "in the way"));
        const TSettingsStore store(dir.filePath(storePath));

        QCOMPARE(ErrorOf([&] { store.WriteText(TSettingName::TempDir, QStringLiteral("/tmp")); }),
                 QStringLiteral("Failed to set data for 'TempDir'"));
        QCOMPARE(store.ReadText(TSettingName::TempDir), QString());
    }

    void storeIsOwnerOnlyAndReplacedWhole() {
        const TUmaskScope openUmask(0);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("config/Corvane"));
        const QString path = folder + QStringLiteral("/Corvane.ini");
        const TSettingsStore store(path);

        store.WriteText(TSettingName::Password, QStringLiteral("secret"));
        QCOMPARE(ModeOf(path), mode_t(0600));
        QCOMPARE(ModeOf(folder), mode_t(0700));
        QCOMPARE(ModeOf(dir.filePath(QStringLiteral("config"))), mode_t(0700));

        // A store made readable by others is closed again at the next write.
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0644) == 0);
        // The old file keeps its content under another name: the write put a new file in its place
        // rather than rewriting it where it stood.
        const QString before = dir.filePath(QStringLiteral("before.ini"));
        QVERIFY(::link(QFile::encodeName(path).constData(), QFile::encodeName(before).constData()) == 0);
        store.WriteText(TSettingName::Password, QStringLiteral("changed"));
        QCOMPARE(ModeOf(path), mode_t(0600));
        QCOMPARE(TSettingsStore(before).ReadText(TSettingName::Password), QStringLiteral("secret"));
        QCOMPARE(store.ReadText(TSettingName::Password), QStringLiteral("changed"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("Corvane.ini")});
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "TestSettingsStore.moc"
