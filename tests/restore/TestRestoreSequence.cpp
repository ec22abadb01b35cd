#include "restore/RestoreSession.h"
#include "support/ErrorOf.h"
#include "support/FakeRestoreHost.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const TBackupRecord SalesOffice{QStringLiteral("Sales Office-20231118.backup"),
                                QStringLiteral("db/Sales Office-20231118.backup")};

const QString Psql = QStringLiteral("psql -X -q -A -t -v ON_ERROR_STOP=1 -U postgres -w -d postgres -c ");

} // namespace

// The restore's order of steps and what it does when each of them fails, with a fake host whose client
// programs succeed unless told otherwise. What the real programs do is TestRestoreEndToEnd's.
class TestRestoreSequence : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void restores_data();
    void restores();
    void inputChecks_data();
    void inputChecks();
    void failures_data();
    void failures();
    void serverChecks_data();
    void serverChecks();
    void serverWithoutPostgresOrForcedDrop();

  private:
    QString WithDir(QString text) const { return text.replace(QStringLiteral("<dir>"), FDir->path()); }
    TRestoreInput Input(const QString& database, int jobs = 1) const {
        return {FDir->path(), {{}, {}, QStringLiteral("postgres"), {}}, SalesOffice, database, jobs, {}};
    }

    std::unique_ptr<QTemporaryDir> FDir;
};

void TestRestoreSequence::init() {
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
}

void TestRestoreSequence::restores_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("jobs");
    QTest::addColumn<QStringList>("expectedLog");

    const QString file = QStringLiteral("\"<dir>/Sales Office-20231118.backup\"");
    const QStringList restoring{"Download completed", "Checking backup file", "pg_restore --list -- " + file,
                                "Checking database: <name>"};
    const auto created = [&](const QString& jobsArguments) {
        return QStringList{"Creating database: corvane_restoring_<token> (temporary, for \"<name>\")",
                           "createdb -U postgres -w -T template0 -O postgres -- corvane_restoring_<token>",
                           "Restoring database: corvane_restoring_<token> (temporary, for \"<name>\")",
                           "pg_restore -U postgres -w " + jobsArguments +
                               "--verbose -d dbname='corvane_restoring_<token>' -- " + file,
                           "Replacing database: <name>"};
    };
    QTest::newRow("replaces the named database")
        << "salesoffice" << true << 1
        << restoring + QStringList{"Checking that \"salesoffice\" can be replaced"} + created(QString()) +
               QStringList{Psql + "\"BEGIN; ALTER DATABASE \\\"salesoffice\\\" RENAME TO "
                                  "\\\"corvane_replaced_<token>\\\"; ALTER DATABASE "
                                  "\\\"corvane_restoring_<token>\\\" RENAME TO \\\"salesoffice\\\"; COMMIT\"",
                           "The operation has been completed",
                           "Dropping database: corvane_replaced_<token> (the old \"salesoffice\")",
                           "dropdb -U postgres -w --if-exists --force -- corvane_replaced_<token>"};
    // Quoted for SQL, whose quotes are then escaped for the command line.
    QTest::newRow("creates an absent one, name quoted, four jobs")
        << "it's \"x\"" << false << 4
        << restoring + created(QStringLiteral("-j 4 ")) +
               QStringList{Psql + "\"ALTER DATABASE \\\"corvane_restoring_<token>\\\" RENAME TO "
                                  "\\\"it's \\\"\\\"x\\\"\\\"\\\"\"",
                           "The operation has been completed"};
}

void TestRestoreSequence::restores() {
    QFETCH(QString, answer);
    QFETCH(bool, exists);
    QFETCH(int, jobs);
    QFETCH(QStringList, expectedLog);

    TFakeRestoreHost host;
    if (!exists)
        host.ServerAnswer = QStringLiteral("t|150000|0|||");
    if (!exists)
        host.Steps.insert(QStringLiteral("find database"), [](const QString&) {
            TProgramOutcome absent = Exited(0);
            absent.LastOutputLine = QStringLiteral("0");
            return absent;
        });
    RestoreThroughPhases(Input(answer, jobs), host);

    const QString literal = exists ? QStringLiteral("'salesoffice'") : QStringLiteral("'it''s \\\"x\\\"'");
    for (QString& line : expectedLog)
        line = WithDir(line)
                   .replace(QStringLiteral("<name>"), answer)
                   .replace(QStringLiteral("<literal>"), literal);
    const QStringList log = WithoutToken(host.LogLines);
    QCOMPARE(log.mid(log.indexOf(QStringLiteral("Downloading backup file"))),
             QStringList{"Downloading backup file"} + expectedLog);
    QStringList events{"run program version",
                       "run program version",
                       "run program version",
                       "run program version",
                       "run check server",
                       "replace salesoffice",
                       "download db/Sales Office-20231118.backup",
                       "run check archive",
                       "run find database",
                       "run check rename",
                       "run createdb",
                       "run pg_restore",
                       "run swap",
                       "run drop replaced"};
    if (!exists) {
        events.removeAll(QStringLiteral("replace salesoffice"));
        events.removeAll(QStringLiteral("run check rename"));
        events.removeAll(QStringLiteral("run drop replaced"));
    }
    QCOMPARE(host.Events, events);
    QVERIFY(QDir(FDir->path()).isEmpty());
}

void TestRestoreSequence::inputChecks_data() {
    QTest::addColumn<QString>("folder"); // "<dir>" is the test's folder, "<file>" a file in it
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("error");

    const QString name = SalesOffice.Name;
    QTest::newRow("empty folder") << "" << name << "Invalid temporary directory";
    QTest::newRow("missing folder") << "<dir>/missing" << name << "Invalid temporary directory";
    QTest::newRow("folder is a file") << "<file>" << name << "Invalid temporary directory";
    QTest::newRow("name leaving the folder") << "<dir>"
                                             << "../x.backup"
                                             << "Invalid characters in path";
}

// Nothing runs when the working folder or the backup's file cannot be used.
void TestRestoreSequence::inputChecks() {
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, error);

    const QString file = FDir->filePath(QStringLiteral("plain-file"));
    QFile(file).open(QIODevice::WriteOnly);
    folder = WithDir(folder).replace(QStringLiteral("<file>"), file);

    TFakeRestoreHost host;
    TRestoreInput input = Input(QStringLiteral("salesoffice"));
    input.WorkingFolder = folder;
    input.Record = {name, QStringLiteral("db/") + name};
    QCOMPARE(ErrorOf([&] {
                 CheckWorkingFolder(folder);
                 RestoreThroughPhases(input, host);
             }),
             error);
    QVERIFY(host.Events.isEmpty());
}

void TestRestoreSequence::failures_data() {
    QTest::addColumn<QString>("downloadError");
    QTest::addColumn<QStringList>("failingSteps"); // each fails with the outcome below
    QTest::addColumn<TProgramOutcome>("outcome");
    QTest::addColumn<bool>("keep");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("stepsRun");
    QTest::addColumn<QString>("lastLine");

    TProgramOutcome notStarted;
    notStarted.StartError = QStringLiteral("No such file or directory");
    TProgramOutcome crashed = Exited(-1, QStringLiteral("pg_restore: processing data for table \"t\""));
    crashed.Crashed = true;
    const TProgramOutcome inUse =
        Exited(1, QStringLiteral("ERROR:  database \"salesoffice\" is being accessed"));
    const TProgramOutcome ignored =
        Exited(1, QStringLiteral("pg_restore: warning: errors ignored on restore: 2"));
    const QString unchanged = QStringLiteral("; the database \"salesoffice\" was not changed");
    const QStringList checks{"check archive", "find database", "check rename"};
    const QStringList restore = checks + QStringList{"createdb", "pg_restore"};
    const QString none;

    QTest::newRow("download failed") << "The backup \"x\" is not in the bucket or cannot be read"
                                     << QStringList{} << TProgramOutcome() << false
                                     << "The backup \"x\" is not in the bucket or cannot be read"
                                     << QStringList{} << none;
    QTest::newRow("archive unreadable")
        << none << QStringList{"check archive"} << Exited(1, "pg_restore: error: input file is too short")
        << false
        << "pg_restore cannot read the backup \"Sales Office-20231118.backup\"; no database was changed "
           "(pg_restore failed with exit code 1: pg_restore: error: input file is too short)"
        << QStringList{"check archive"} << none;
    QTest::newRow("database in use")
        << none << QStringList{"check rename"} << inUse << false
        << "The database \"salesoffice\" is in use or cannot be replaced by user "
           "\"postgres\", so nothing was restored: psql failed with exit code 1: "
           "ERROR:  database \"salesoffice\" is being accessed"
        << checks << none;
    QTest::newRow("createdb not started")
        << none << QStringList{"createdb"} << notStarted << false
        << "createdb could not be started. No such file or directory" + unchanged
        << checks + QStringList{"createdb", "drop restoring"} << "dropdb";
    QTest::newRow("pg_restore stopped")
        << none << QStringList{"pg_restore"} << Exited(1, "pg_restore: error: could not read from input file")
        << false
        << "pg_restore failed with exit code 1: pg_restore: error: could not read "
           "from input file" +
               unchanged
        << restore + QStringList{"drop restoring"} << "dropdb";
    QTest::newRow("pg_restore killed")
        << none << QStringList{"pg_restore"} << crashed << false
        << "pg_restore ended abnormally: pg_restore: processing data for table "
           "\"t\"" +
               unchanged
        << restore + QStringList{"drop restoring"} << "dropdb";
    QTest::newRow("errors ignored, discarded")
        << none << QStringList{"pg_restore"} << ignored << false << none
        << restore + QStringList{"ask salesoffice 2", "drop restoring"}
        << "The restored database has been discarded";
    QTest::newRow("errors ignored, kept")
        << none << QStringList{"pg_restore"} << ignored << true << none
        << restore + QStringList{"ask salesoffice 2", "swap", "drop replaced"} << "dropdb";
    QTest::newRow("swap failed") << none << QStringList{"swap"} << inUse << false
                                 << "psql failed with exit code 1: ERROR:  database \"salesoffice\" is being "
                                    "accessed" +
                                        unchanged
                                 << restore + QStringList{"swap", "drop restoring"} << "dropdb";
    QTest::newRow("temporary database left behind")
        << none << QStringList{"pg_restore", "drop restoring"} << Exited(1, "error: x") << false
        << "pg_restore failed with exit code 1: error: x" + unchanged +
               ". The temporary database \"corvane_restoring_<token>\" could not be removed: dropdb failed "
               "with exit code 1: error: x"
        << restore + QStringList{"drop restoring"}
        << "Temporary database left behind: corvane_restoring_<token>";
    QTest::newRow("replaced database left behind")
        << none << QStringList{"drop replaced"} << Exited(1, "error: y") << false
        << "The database \"salesoffice\" has been restored. The temporary database "
           "\"corvane_replaced_<token>\" could not be removed: dropdb failed with exit code 1: error: y"
        << restore + QStringList{"swap", "drop replaced"}
        << "Temporary database left behind: corvane_replaced_<token>";
}

void TestRestoreSequence::failures() {
    QFETCH(QString, downloadError);
    QFETCH(QStringList, failingSteps);
    QFETCH(TProgramOutcome, outcome);
    QFETCH(bool, keep);
    QFETCH(QString, error);
    QFETCH(QStringList, stepsRun);
    QFETCH(QString, lastLine);

    TFakeRestoreHost host;
    host.DownloadError = downloadError;
    host.Keep = keep;
    for (const QString& step : failingSteps)
        host.Steps.insert(step, [outcome](const QString&) { return outcome; });

    const QString thrown = ErrorOf([&] { RestoreThroughPhases(Input(QStringLiteral("salesoffice")), host); });
    QCOMPARE(WithoutToken({thrown}).constFirst(), error);
    QStringList run;
    for (const QString& event : host.Events) {
        if (event == QStringLiteral("run program version") || event == QStringLiteral("run check server"))
            continue;
        if (event.startsWith(QStringLiteral("run ")))
            run << event.mid(4);
        else if (event.startsWith(QStringLiteral("ask ")))
            run << event;
    }
    QCOMPARE(run, stepsRun);
    if (!lastLine.isEmpty())
        QVERIFY2(WithoutToken(host.LogLines).constLast().startsWith(lastLine),
                 qPrintable(host.LogLines.constLast()));
    QVERIFY(QDir(FDir->path()).isEmpty());
}

// What the checks before the download find, and what each finding leaves undone.
void TestRestoreSequence::serverChecks_data() {
    QTest::addColumn<QString>("failing");         // the step that fails ("" none)
    QTest::addColumn<TProgramOutcome>("outcome"); // how it fails, for the first run only
    QTest::addColumn<QString>("serverAnswer");
    QTest::addColumn<std::optional<QString>>("password");
    QTest::addColumn<bool>("replace");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("lastEvent"); // the last thing the restore did

    TProgramOutcome notFound;
    notFound.StartError = QStringLiteral("No such file or directory");
    const TProgramOutcome noPassword = Exited(
        2, QStringLiteral("psql: error: connection to server failed: fe_sendauth: no password supplied"));
    const QString fine = QStringLiteral("t|150000|0|8 MB||postgres");
    const QString none;
    const std::optional<QString> secret = QStringLiteral("s3cret");
    const QString done = QStringLiteral("run drop replaced");

    QTest::newRow("client program that cannot start")
        << "program version" << notFound << fine << secret << true
        << "pg_restore could not be started. No such file or directory"
        << "run program version";
    QTest::newRow("password asked and given")
        << "check server" << noPassword << fine << secret << true << none << done;
    QTest::newRow("password asked, prompt cancelled")
        << "check server" << noPassword << fine << std::optional<QString>() << true << none << "password";
    QTest::newRow("user may not create databases")
        << none << TProgramOutcome() << "f|150000|0|||" << secret << true
        << "The database user \"postgres\" may not create databases, so nothing was downloaded: restore as a "
           "user who may, or give this one the right (ALTER ROLE ... CREATEDB)"
        << "run check server";
    QTest::newRow("database in use")
        << none << TProgramOutcome() << "t|150000|2|8 MB||postgres" << secret << true
        << "The database \"salesoffice\" is in use (2 open session(s)), so nothing was downloaded: close the "
           "programs connected to it and restore again"
        << "run check server";
    QTest::newRow("replacing declined")
        << none << TProgramOutcome() << fine << secret << false << none << "replace salesoffice";
    QTest::newRow("owner holding |") << none << TProgramOutcome() << "t|150000|0|8 MB||a|b" << secret << false
                                     << none << "replace salesoffice";
}

void TestRestoreSequence::serverChecks() {
    QFETCH(QString, failing);
    QFETCH(TProgramOutcome, outcome);
    QFETCH(QString, serverAnswer);
    QFETCH(std::optional<QString>, password);
    QFETCH(bool, replace);
    QFETCH(QString, error);
    QFETCH(QString, lastEvent);

    TFakeRestoreHost host;
    host.ServerAnswer = serverAnswer;
    host.Password = password;
    host.Replace = replace;
    QStringList passwordsSeen;
    if (!failing.isEmpty()) {
        auto failed = std::make_shared<bool>(false);
        host.Steps.insert(failing, [outcome, failed](const QString&) {
            return std::exchange(*failed, true) ? Exited(0) : outcome;
        });
    }
    host.OnRun = [&](const TProgramWatch& watch) {
        for (const auto& [name, value] : watch.Environment)
            passwordsSeen << name + u'=' + value;
    };
    QCOMPARE(ErrorOf([&] { RestoreThroughPhases(Input(QStringLiteral("salesoffice")), host); }), error);
    QCOMPARE(host.Events.constLast(), lastEvent);
    const bool downloaded = host.Events.contains(QStringLiteral("download db/Sales Office-20231118.backup"));
    QCOMPARE(downloaded, lastEvent == QStringLiteral("run drop replaced"));
    // A password given reaches every later program in its environment, and never a command line.
    if (host.Events.contains(QStringLiteral("password")) && password && downloaded) {
        // The check repeated with the password runs each program's --version no second time.
        QCOMPARE(host.Events.count(QStringLiteral("run program version")), 4);
        QVERIFY(passwordsSeen.contains(QStringLiteral("PGPASSWORD=s3cret")));
        QVERIFY(host.LogLines.filter(QStringLiteral("s3cret")).isEmpty());
    }
    QVERIFY(QDir(FDir->path()).isEmpty());
}

// A server without the postgres database is reached through template1; one before PostgreSQL 13, which
// has no forced drop, gets its sessions ended and the drop in a transaction of its own.
void TestRestoreSequence::serverWithoutPostgresOrForcedDrop() {
    TFakeRestoreHost host;
    host.ServerAnswer = QStringLiteral("t|120000|0|8 MB||postgres");
    auto asked = std::make_shared<int>(0);
    host.Steps.insert(QStringLiteral("check server"), [asked](const QString&) {
        if ((*asked)++ == 0)
            return Exited(2, QStringLiteral("psql: error: FATAL:  database \"postgres\" does not exist"));
        return Exited(0);
    });
    RestoreThroughPhases(Input(QStringLiteral("salesoffice")), host);
    const QStringList commands = WithoutToken(host.CommandLines);
    QVERIFY(commands.filter(QStringLiteral("-d postgres")).size() == 1);
    QCOMPARE(commands.filter(QStringLiteral("-d template1")).filter(QStringLiteral("; ROLLBACK")).size(), 1);
    const QStringList log = WithoutToken(host.LogLines);
    QVERIFY2(log.contains(
                 QStringLiteral("psql -X -q -A -t -v ON_ERROR_STOP=1 -U postgres -w -d template1 -c \"SELECT "
                                "pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = "
                                "'corvane_replaced_<token>'\" -c \"DROP DATABASE IF EXISTS "
                                "\\\"corvane_replaced_<token>\\\"\"")),
             qPrintable(log.join(u'\n')));
    QVERIFY(log.contains(QStringLiteral("The operation has been completed")));
}

QTEST_GUILESS_MAIN(TestRestoreSequence)
#include "TestRestoreSequence.moc"
