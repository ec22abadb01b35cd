#include "core/Error.h"
#include "restore/PgQuoting.h"
#include "restore/RestoreSession.h"
#include "support/ErrorOf.h"
#include "support/FakeRestoreHost.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <windows.h>

namespace {

const TBackupRecord SalesOffice{QStringLiteral("Sales Office-20231118.backup"),
                                QStringLiteral("db/Sales Office-20231118.backup")};
// Quotes, blanks, backslashes (one right before a quote, one at the end) and a letter beyond ASCII: each
// must reach the program as one argument, exactly.
const QString Database = QStringLiteral("it's \"a\\\" b\\ \u00e9\\");
const QString User = QStringLiteral("pg user");
const QStringList ClientPrograms{"dropdb", "createdb", "pg_restore", "psql"};

QString Setting(const QString& program, const char* what) {
    return QStringLiteral("CORVANE_STAND_IN_%1_%2").arg(program.toUpper(), QLatin1String(what));
}

QString Arguments(const QStringList& arguments) {
    QString text;
    for (const QString& argument : arguments)
        text += QStringLiteral(" [") + argument + u']';
    return text;
}

QString Psql(const QString& sql) {
    return QStringLiteral("psql") + Arguments({"-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-U", User,
                                               "-w", "-d", "postgres", "-c", sql});
}

QString Rename(const QString& from, const QString& to) {
    return QStringLiteral("ALTER DATABASE %1 RENAME TO %2").arg(QuoteIdentifier(from), QuoteIdentifier(to));
}

} // namespace

// The restore on Windows with stand-ins for the client programs (first on PATH), which record the
// arguments they receive: the restore's command lines reach the .exe programs argument for argument,
// their output and exit codes come back, and a stopped program is asked to end with Ctrl+Break.
class TestWindowsRestore : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void argumentsArriveWhole();
    void failures_data();
    void failures();
    void stopEndsTheProgram_data();
    void stopEndsTheProgram();
    void namesOutsideTheCodePageAreRefused_data();
    void namesOutsideTheCodePageAreRefused();
    void clientProgramsEndWithCorvane();

  private:
    QStringList Recorded() const;
    QString BackupFile() const { return FWorkingFolder + QStringLiteral("\\") + SalesOffice.Name; }

    QTemporaryDir FFolder;
    QString FWorkingFolder;
    QString FRecord;
};

void TestWindowsRestore::initTestCase() {
    QVERIFY(FFolder.isValid());
    const QString standIns = QCoreApplication::applicationDirPath() + QStringLiteral("/stand-ins");
    for (const QString& program : ClientPrograms)
        QVERIFY2(QFile::exists(standIns + u'/' + ProgramFileName(program)), qPrintable(program));
    qputenv("PATH", (QDir::toNativeSeparators(standIns) + u';' + qEnvironmentVariable("PATH")).toUtf8());
    FRecord = FFolder.filePath(QStringLiteral("record.txt"));
    qputenv("CORVANE_STAND_IN_RECORD", QDir::toNativeSeparators(FRecord).toUtf8());
    FWorkingFolder = FFolder.filePath(QStringLiteral("work folder"));
    QVERIFY(QDir().mkpath(FWorkingFolder));
}

void TestWindowsRestore::init() {
    QFile::remove(FRecord);
    for (const QString& program : ClientPrograms) {
        for (const char* what : {"OUTPUT", "ERROR", "EXIT", "WAIT"})
            qunsetenv(qPrintable(Setting(program, what)));
    }
    // The named database exists.
    qputenv(qPrintable(Setting("psql", "OUTPUT")), "1");
}

QStringList TestWindowsRestore::Recorded() const {
    QFile file(FRecord);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return WithoutToken(QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts));
}

void TestWindowsRestore::argumentsArriveWhole() {
    TFakeRestoreHost host;
    host.RealPrograms = true;
    // The checks before the download are answered here: the stand-ins' one line and exit code serve
    // the steps of the restore itself.
    for (const QString& step : {QStringLiteral("program version"), QStringLiteral("check server")})
        host.Steps.insert(step, [](const QString&) { return Exited(0); });
    RestoreThroughPhases({FWorkingFolder, {{}, {}, User, {}}, SalesOffice, Database, 2, {}}, host);

    const QString restoring = QStringLiteral("corvane_restoring_<token>");
    const QString replaced = QStringLiteral("corvane_replaced_<token>");
    QCOMPARE(
        Recorded(),
        (QStringList{
            "pg_restore" + Arguments({"--list", "--", BackupFile()}),
            Psql("SELECT count(*) FROM pg_database WHERE datname = " + QuoteLiteral(Database)),
            Psql("BEGIN; " + Rename(Database, replaced) + "; ROLLBACK"),
            "createdb" + Arguments({"-U", User, "-w", "-T", "template0", "-O", User, "--", restoring}),
            "pg_restore" + Arguments({"-U", User, "-w", "-j", "2", "--verbose", "-d",
                                      "dbname=" + QuoteConnectionValue(restoring), "--", BackupFile()}),
            Psql("BEGIN; " + Rename(Database, replaced) + "; " + Rename(restoring, Database) + "; COMMIT"),
            "dropdb" + Arguments({"-U", User, "-w", "--if-exists", "--force", "--", replaced}),
        }));
    // The restore is reported once the swap is made; the old database is dropped after that.
    QVERIFY(host.LogLines.contains(QStringLiteral("The operation has been completed")));
    QVERIFY(!QFile::exists(BackupFile()));
}

void TestWindowsRestore::failures_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("errorLine");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("lastRun");

    QTest::newRow("createdb fails") << "createdb" << 2 << "createdb: error: permission denied"
                                    << "createdb.exe failed with exit code 2: createdb: error: permission "
                                       "denied; the database \"<db>\" was not changed"
                                    << "dropdb";
    QTest::newRow("exit code beyond a byte")
        << "pg_restore" << 70000 << ""
        << "pg_restore cannot read the backup \"Sales Office-20231118.backup\"; "
           "no database was changed (pg_restore.exe failed with exit code 70000)"
        << "pg_restore";
}

void TestWindowsRestore::failures() {
    QFETCH(QString, program);
    QFETCH(int, exitCode);
    QFETCH(QString, errorLine);
    QFETCH(QString, error);
    QFETCH(QString, lastRun);
    qputenv(qPrintable(Setting(program, "EXIT")), QByteArray::number(exitCode));
    qputenv(qPrintable(Setting(program, "ERROR")), errorLine.toUtf8());

    TFakeRestoreHost host;
    host.RealPrograms = true;
    // The checks before the download are answered here: the stand-ins' one line and exit code serve
    // the steps of the restore itself.
    for (const QString& step : {QStringLiteral("program version"), QStringLiteral("check server")})
        host.Steps.insert(step, [](const QString&) { return Exited(0); });
    QCOMPARE(ErrorOf([&] {
                 RestoreThroughPhases(
                     {FWorkingFolder, {{}, {}, User, {}}, SalesOffice, QStringLiteral("salesoffice"), 1, {}},
                     host);
             }),
             QString(error).replace(QStringLiteral("<db>"), QStringLiteral("salesoffice")));
    QVERIFY(Recorded().constLast().startsWith(lastRun + QStringLiteral(" [")));
    QVERIFY(!QFile::exists(BackupFile()));
}

void TestWindowsRestore::stopEndsTheProgram_data() {
    QTest::addColumn<QString>("wait");
    QTest::newRow("alone") << "alone";
    QTest::newRow("with a helper it started") << "with helper";
}

// Stopped while it runs, pg_restore is asked to end as a console program is (Ctrl+Break to its process
// group) or, where the system does not deliver that (Wine), ended at once with the processes it
// started; either way they are gone and the restore ends there.
void TestWindowsRestore::stopEndsTheProgram() {
    QFETCH(QString, wait);
    qputenv(qPrintable(Setting("pg_restore", "WAIT")), wait.toUtf8());
    const bool withHelper = wait == QStringLiteral("with helper");
    const auto helperLine = [this]() -> QString {
        for (const QString& line : Recorded()) {
            if (line.startsWith(QStringLiteral("pg_restore helper ")))
                return line;
        }
        return {};
    };
    TFakeRestoreHost host;
    host.RealPrograms = true;
    // The checks before the download are answered here: the stand-ins' one line and exit code serve
    // the steps of the restore itself.
    for (const QString& step : {QStringLiteral("program version"), QStringLiteral("check server")})
        host.Steps.insert(step, [](const QString&) { return Exited(0); });
    QTimer stopOnceWaiting;
    connect(&stopOnceWaiting, &QTimer::timeout, this, [&] {
        if (Recorded().contains(QStringLiteral("pg_restore waiting")) &&
            (!withHelper || !helperLine().isEmpty()))
            host.Stop.request_stop();
    });
    stopOnceWaiting.start(20);
    QCOMPARE(ErrorOf([&] {
                 RestoreThroughPhases(
                     {FWorkingFolder, {{}, {}, User, {}}, SalesOffice, QStringLiteral("salesoffice"), 1, {}},
                     host);
             }),
             QStringLiteral("pg_restore.exe was stopped; no database was changed"));

    if (withHelper) {
        const DWORD id = helperLine().section(u' ', 2).toULong();
        QVERIFY(id != 0);
        if (const HANDLE helper = OpenProcess(SYNCHRONIZE, FALSE, id)) {
            const DWORD waited = WaitForSingleObject(helper, 30000);
            CloseHandle(helper);
            QCOMPARE(waited, DWORD(WAIT_OBJECT_0));
        }
    }
    QCOMPARE(Recorded().constFirst(), "pg_restore" + Arguments({"--list", "--", BackupFile()}));
}

// A name the ANSI code page cannot carry would reach the programs as "?": it is refused before anything
// runs or is downloaded.
void TestWindowsRestore::namesOutsideTheCodePageAreRefused_data() {
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("refused");
    const QString name = QStringLiteral("продажи مبيعات");
    QTest::newRow("database") << name << User << ""
                              << "The database name \"" + name + "\"";
    QTest::newRow("user") << "sales" << name << ""
                          << "The database user name \"" + name + "\"";
    QTest::newRow("working folder") << "sales" << User << name << "The working folder \"<folder>\"";
}

void TestWindowsRestore::namesOutsideTheCodePageAreRefused() {
    QFETCH(QString, database);
    QFETCH(QString, user);
    QFETCH(QString, folder);
    QFETCH(QString, refused);
    if (GetACP() == CP_UTF8)
        QSKIP("the system's ANSI code page is UTF-8, which carries every character");
    QString workingFolder = FWorkingFolder;
    if (!folder.isEmpty()) {
        workingFolder = FFolder.filePath(folder);
        QVERIFY(QDir().mkpath(workingFolder));
    }
    TFakeRestoreHost host;
    host.RealPrograms = true;
    const QString error = ErrorOf([&] {
        RestoreThroughPhases({workingFolder, {{}, {}, user, {}}, SalesOffice, database, 1, {}}, host);
    });
    QVERIFY2(error.startsWith(QString(refused).replace(QStringLiteral("<folder>"), workingFolder) +
                              QStringLiteral(" holds characters that Windows' ANSI code page ")),
             qPrintable(error));
    QVERIFY2(error.endsWith(QStringLiteral("so nothing was downloaded: use only characters that code page "
                                           "holds")),
             qPrintable(error));
    QCOMPARE(host.Events, QStringList());
    QCOMPARE(Recorded(), QStringList());
}

// Corvane killed while a client program runs: the program, and the helper it started, end with it
// (the job object they run in is closed with Corvane's last handle).
void TestWindowsRestore::clientProgramsEndWithCorvane() {
    qputenv(qPrintable(Setting("pg_restore", "WAIT")), "with helper");
    QProcess corvane;
    corvane.start(QCoreApplication::applicationDirPath() + QStringLiteral("/kept_with_parent.exe"),
                  {QCoreApplication::applicationDirPath() + QStringLiteral("/stand-ins/pg_restore.exe")});
    QVERIFY(corvane.waitForStarted());
    QString helperLine;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(helperLine = Recorded().filter(QStringLiteral("pg_restore helper ")).value(0)).isEmpty(), 30000);
    QVERIFY(Recorded().contains(QStringLiteral("pg_restore waiting")));
    corvane.kill();
    QVERIFY(corvane.waitForFinished());

    const DWORD id = helperLine.section(u' ', 2).toULong();
    QVERIFY(id != 0);
    if (const HANDLE helper = OpenProcess(SYNCHRONIZE, FALSE, id)) {
        const DWORD waited = WaitForSingleObject(helper, 30000);
        CloseHandle(helper);
        QCOMPARE(waited, DWORD(WAIT_OBJECT_0));
    }
    QVERIFY(!Recorded().contains(QStringLiteral("pg_restore waited in vain")));
}

QTEST_GUILESS_MAIN(TestWindowsRestore)
#include "TestWindowsRestore.moc"
