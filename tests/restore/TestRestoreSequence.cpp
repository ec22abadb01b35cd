#include "restore/RestoreSequence.h"
#include "support/ErrorOf.h"

#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A window without widgets: it records what the restore asks of it in one list of events, keeps the log
// lines, writes the backup file on download and answers each program with a chosen outcome.
struct FakeWindow {
    QStringList events;
    QStringList log{QStringLiteral("an earlier line")};
    std::optional<QString> answer;           // what the prompt returns
    QString downloadError;                   // thrown by the download when set
    QMap<QString, TProgramOutcome> outcomes; // programs not listed succeed
    std::function<void()> duringDownload;    // runs inside the download
    QString downloadedPath;

    TRestoreSeams Seams() {
        TRestoreSeams seams;
        seams.Log = [this](const QString& line) { log << line; };
        seams.LogFmt = [this](const QString& logTemplate, const QStringList& arguments) {
            log << FormatLogTemplate(logTemplate, arguments);
        };
        seams.ClearLog = [this] {
            events << QStringLiteral("clear log");
            log.clear();
        };
        seams.FocusWorkingFolder = [this] { events << QStringLiteral("focus working folder"); };
        seams.FocusDatabaseUser = [this] { events << QStringLiteral("focus database user"); };
        seams.SetBusy = [this](bool busy) {
            events << (busy ? QStringLiteral("busy") : QStringLiteral("idle"));
        };
        seams.PromptDatabaseName = [this](const QString& proposed) {
            events << QStringLiteral("prompt ") + proposed;
            return answer;
        };
        seams.Download = [this](const TBackupRecord& record, const QString& targetPath) {
            events << QStringLiteral("download ") + record.Path;
            if (duringDownload)
                duringDownload();
            if (!downloadError.isEmpty())
                throw std::runtime_error(downloadError.toStdString());
            QFile file(targetPath);
            if (file.open(QIODevice::WriteOnly))
                file.write("PGDMP");
            downloadedPath = targetPath;
            log << QStringLiteral("Downloading backup file") << QStringLiteral("Download completed");
        };
        // The archive check (pg_restore --list) answers to the outcome of "pg_restore --list".
        seams.Run = [this](const QString& program, const QString& parameters, const TLogFunction& logLine) {
            logLine(program + u' ' + parameters);
            const bool check = parameters.startsWith(QStringLiteral("--list "));
            events << (check ? QStringLiteral("check archive") : QStringLiteral("run ") + program);
            TProgramOutcome success;
            success.Started = true;
            success.ExitCode = 0;
            return outcomes.value(check ? program + QStringLiteral(" --list") : program, success);
        };
        return seams;
    }
};

TProgramOutcome Exited(int code) {
    TProgramOutcome outcome;
    outcome.Started = true;
    outcome.ExitCode = code;
    return outcome;
}

const TBackupRecord SalesOffice{QStringLiteral("Sales Office-20231118.backup"),
                                QStringLiteral("db/Sales Office-20231118.backup")};

} // namespace

class TestRestoreSequence : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void restores_data();
    void restores();
    void endsEarly_data();
    void endsEarly();
    void stopsAtTheFirstFailure_data();
    void stopsAtTheFirstFailure();
    void refusesASecondOperationWhileRunning();

  private:
    std::unique_ptr<QTemporaryDir> dir_;
};

void TestRestoreSequence::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void TestRestoreSequence::restores_data() {
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("commandLines");

    const QString target = QStringLiteral("\"%1/Sales Office-20231118.backup\"");
    QTest::newRow("proposed name") << "postgres"
                                   << "salesoffice"
                                   << QStringList{"dropdb --if-exists -U postgres salesoffice",
                                                  "createdb -O postgres -U postgres salesoffice",
                                                  "pg_restore -U postgres -d salesoffice " + target};
    QTest::newRow("quoted name keeps its blank")
        << "postgres"
        << "\"Sales Office\""
        << QStringList{"dropdb --if-exists -U postgres \"Sales Office\"",
                       "createdb -O postgres -U postgres \"Sales Office\"",
                       "pg_restore -U postgres -d \"Sales Office\" " + target};
    QTest::newRow("edited name and blank user used as typed")
        << " "
        << "Sales 100%"
        << QStringList{"dropdb --if-exists -U   Sales 100%", "createdb -O   -U   Sales 100%",
                       "pg_restore -U   -d Sales 100% " + target};
}

void TestRestoreSequence::restores() {
    QFETCH(QString, user);
    QFETCH(QString, answer);
    QFETCH(QStringList, commandLines);

    FakeWindow window;
    window.answer = answer;
    TOperationLock lock;
    RestoreBackup({dir_->path(), user, SalesOffice}, window.Seams(), lock);

    QCOMPARE(window.events, (QStringList{"busy", "clear log", "prompt salesoffice",
                                         "download db/Sales Office-20231118.backup", "check archive",
                                         "run dropdb", "run createdb", "run pg_restore", "idle"}));
    const QStringList expectedLog{"Downloading backup file",         "Download completed",
                                  "Dropping database: " + answer,    commandLines[0].arg(dir_->path()),
                                  "Creating database: " + answer,    commandLines[1].arg(dir_->path()),
                                  "Restoring database: " + answer,   commandLines[2].arg(dir_->path()),
                                  "The operation has been completed"};
    QCOMPARE(window.log, expectedLog);
    QCOMPARE(window.downloadedPath, dir_->filePath(SalesOffice.Name));
    QVERIFY(!QFile::exists(window.downloadedPath));
    QVERIFY(!lock.IsHeld());
}

void TestRestoreSequence::endsEarly_data() {
    QTest::addColumn<QString>("folder"); // "<dir>" is the test's folder, "<file>" a file in it
    QTest::addColumn<QString>("user");
    QTest::addColumn<bool>("hasRecord");
    QTest::addColumn<QString>("name");
    QTest::addColumn<std::optional<QString>>("answer");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<bool>("logCleared");

    const QString name = SalesOffice.Name;
    const std::optional<QString> ok = QStringLiteral("salesoffice");
    const QStringList focusFolder{"focus working folder"};
    QTest::newRow("empty folder") << ""
                                  << "postgres" << true << name << ok << "Invalid temporary directory"
                                  << focusFolder << false;
    QTest::newRow("missing folder") << "<dir>/missing"
                                    << "postgres" << true << name << ok << "Invalid temporary directory"
                                    << focusFolder << false;
    QTest::newRow("folder is a file")
        << "<file>"
        << "postgres" << true << name << ok << "Invalid temporary directory" << focusFolder << false;
    QTest::newRow("folder tested before user")
        << ""
        << "" << true << name << ok << "Invalid temporary directory" << focusFolder << false;
    QTest::newRow("empty user") << "<dir>"
                                << "" << true << name << ok << "Database username is required"
                                << QStringList{"focus database user"} << false;
    QTest::newRow("no record: silent") << "<dir>"
                                       << "postgres" << false << name << ok << "" << QStringList{} << false;
    QTest::newRow("cancelled prompt")
        << "<dir>"
        << "postgres" << true << name << std::optional<QString>() << ""
        << QStringList{"busy", "clear log", "prompt salesoffice", "idle"} << true;
    QTest::newRow("empty database name")
        << "<dir>"
        << "postgres" << true << name << std::optional<QString>(QString()) << "Database name is required"
        << QStringList{"busy", "clear log", "prompt salesoffice", "idle"} << true;
    // Either would change the path pg_restore gets, found only after the drop.
    QTest::newRow("unpaired quote in database name")
        << "<dir>"
        << "postgres" << true << name << std::optional<QString>(QStringLiteral("sales\"office"))
        << "\"<dir>/Sales Office-20231118.backup\" would not reach pg_restore as one argument"
        << QStringList{"busy", "clear log", "prompt salesoffice", "idle"} << true;
    QTest::newRow("name ending in a backslash")
        << "<dir>"
        << "postgres" << true << "x.backup\\" << ok
        << "\"<dir>/x.backup\\\" would not reach pg_restore as one argument"
        << QStringList{"busy", "clear log", "prompt x.backup\\", "idle"} << true;
    QTest::newRow("name leaving the folder")
        << "<dir>"
        << "postgres" << true << "../x.backup" << ok << "Invalid characters in path"
        << QStringList{"busy", "clear log", "idle"} << true;
}

void TestRestoreSequence::endsEarly() {
    QFETCH(QString, folder);
    QFETCH(QString, user);
    QFETCH(bool, hasRecord);
    QFETCH(QString, name);
    QFETCH(std::optional<QString>, answer);
    QFETCH(QString, error);
    QFETCH(QStringList, events);
    QFETCH(bool, logCleared);

    const QString file = dir_->filePath(QStringLiteral("plain-file"));
    QFile(file).open(QIODevice::WriteOnly);
    folder.replace(QStringLiteral("<dir>"), dir_->path()).replace(QStringLiteral("<file>"), file);
    error.replace(QStringLiteral("<dir>"), dir_->path());

    FakeWindow window;
    window.answer = answer;
    TOperationLock lock;
    std::optional<TBackupRecord> record;
    if (hasRecord)
        record = TBackupRecord{name, QStringLiteral("db/") + name};

    QCOMPARE(ErrorOf([&] { RestoreBackup({folder, user, record}, window.Seams(), lock); }), error);
    QCOMPARE(window.events, events);
    QCOMPARE(window.log.isEmpty(), logCleared);
    QVERIFY(!lock.IsHeld());
}

void TestRestoreSequence::stopsAtTheFirstFailure_data() {
    QTest::addColumn<QString>("downloadError");
    QTest::addColumn<QString>("failingProgram");
    QTest::addColumn<TProgramOutcome>("outcome");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("programsRun");

    TProgramOutcome notStarted;
    notStarted.StartError = QStringLiteral("No such file or directory");
    TProgramOutcome crashed = Exited(-1);
    crashed.Crashed = true;

    QTest::newRow("download failed") << "The backup \"x\" is not in the bucket or cannot be read"
                                     << "" << TProgramOutcome()
                                     << "The backup \"x\" is not in the bucket or cannot be read"
                                     << QStringList{};
    QTest::newRow("archive unreadable")
        << ""
        << "pg_restore --list" << Exited(1)
        << "pg_restore cannot read the backup \"Sales Office-20231118.backup\"; no database was changed"
        << QStringList{};
    QTest::newRow("dropdb failed") << ""
                                   << "dropdb" << Exited(1) << "dropdb failed with exit code 1"
                                   << QStringList{"run dropdb"};
    QTest::newRow("createdb not started")
        << ""
        << "createdb" << notStarted << "createdb could not be started. No such file or directory"
        << QStringList{"run dropdb", "run createdb"};
    QTest::newRow("pg_restore failed") << ""
                                       << "pg_restore" << Exited(1) << "pg_restore failed with exit code 1"
                                       << QStringList{"run dropdb", "run createdb", "run pg_restore"};
    QTest::newRow("pg_restore crashed") << ""
                                        << "pg_restore" << crashed << "pg_restore ended abnormally"
                                        << QStringList{"run dropdb", "run createdb", "run pg_restore"};
}

void TestRestoreSequence::stopsAtTheFirstFailure() {
    QFETCH(QString, downloadError);
    QFETCH(QString, failingProgram);
    QFETCH(TProgramOutcome, outcome);
    QFETCH(QString, error);
    QFETCH(QStringList, programsRun);

    FakeWindow window;
    window.answer = QStringLiteral("salesoffice");
    window.downloadError = downloadError;
    if (!failingProgram.isEmpty())
        window.outcomes.insert(failingProgram, outcome);
    TOperationLock lock;

    QCOMPARE(ErrorOf([&] {
                 RestoreBackup({dir_->path(), QStringLiteral("postgres"), SalesOffice}, window.Seams(), lock);
             }),
             error);
    QCOMPARE(window.events.filter(QStringLiteral("run ")), programsRun);
    QCOMPARE(window.events.last(), QStringLiteral("idle"));
    QVERIFY(!window.log.contains(QStringLiteral("The operation has been completed")));
    QVERIFY(!QFile::exists(dir_->filePath(SalesOffice.Name)));
    QVERIFY(!lock.IsHeld());
}

void TestRestoreSequence::refusesASecondOperationWhileRunning() {
    FakeWindow window;
    window.answer = QStringLiteral("salesoffice");
    TOperationLock lock;
    const TRestoreInput input{dir_->path(), QStringLiteral("postgres"), SalesOffice};

    // A double click on the grid while the download processes events starts the command again.
    FakeWindow inner;
    QString innerError;
    window.duringDownload = [&] { innerError = ErrorOf([&] { RestoreBackup(input, inner.Seams(), lock); }); };
    RestoreBackup(input, window.Seams(), lock);

    QCOMPARE(innerError, QStringLiteral("Another operation is still running"));
    QVERIFY(inner.events.isEmpty());
    QCOMPARE(inner.log, QStringList{"an earlier line"});
    QCOMPARE(window.log.last(), QStringLiteral("The operation has been completed"));
    QVERIFY(!lock.IsHeld());
}

QTEST_GUILESS_MAIN(TestRestoreSequence)
#include "TestRestoreSequence.moc"
