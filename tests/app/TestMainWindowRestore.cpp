#include "app/AppDialogs.h"
#include "app/CorvaneForm.h"
#include "catalogue/CatalogueTable.h"
#include "core/Platform.h"
#include "support/AppTestBed.h"
#include "support/Control.h"
#include "support/LogMessages.h"
#include "support/MemoryFigures.h"
#include "support/PgTestCluster.h"

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString BackupName = QStringLiteral("Sales Office-20231118.backup");
const QString SourceDatabase = QStringLiteral("corvane_window_source");
const QString TargetDatabase = QStringLiteral("salesoffice");
const QString RowsQuery = QStringLiteral("SELECT id, city, opened FROM offices ORDER BY id");

// The most memory this process has held so far.
qint64 PeakMemoryKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').constFirst().toLongLong();
    }
    return -1;
}

// The log lines of a whole download of the backup into the file at path, of size bytes.
QStringList DownloadLines(const QString& path, qint64 size) {
    const QString mib = QStringLiteral("%1 MiB").arg((size + 1024 * 1024 - 1) / (1024 * 1024));
    return {QStringLiteral("Downloading backup \"%1\" (%2) to %3").arg(BackupName, mib, path),
            QStringLiteral("Backup \"%1\" saved to %2 (%3, MD5 checked)").arg(BackupName, path, mib)};
}

bool DownloadStarted(const QStringList& log) {
    return !log.filter(QStringLiteral("Downloading backup")).isEmpty();
}

} // namespace

// Download and restore through the main window: s3rver and a throw-away PostgreSQL cluster on loopback,
// the real client programs.
class TestMainWindowRestore : public QObject {
    Q_OBJECT

  private:
    std::optional<TPgTestCluster> FCluster;
    QString FBucket;
    QString FDumpPath;
    QTemporaryDir FDumps;

    // Puts a pg_restore first on PATH that lists the archive and tells its version as the real one does,
    // and runs the script given instead of a restore; PATH is put back when the guard goes.
    [[nodiscard]] auto PgRestoreStandIn(const QByteArray& restoreScript) {
        auto standIns = std::make_shared<QTemporaryDir>();
        const QString realPgRestore = QStandardPaths::findExecutable(QStringLiteral("pg_restore"));
        QFile standIn(standIns->filePath(QStringLiteral("pg_restore")));
        if (realPgRestore.isEmpty() || !standIn.open(QIODevice::WriteOnly))
            qFatal("cannot make the pg_restore stand-in");
        standIn.write("#!/bin/sh\ncase \"$1\" in --list | --version) exec '" + realPgRestore.toUtf8() +
                      "' \"$@\" ;; esac\n" + restoreScript + "\n");
        standIn.close();
        standIn.setPermissions(standIn.permissions() | QFileDevice::ExeOwner);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(standIns->path()) + ':' + path);
        return qScopeGuard([path, standIns] { qputenv("PATH", path); });
    }

    std::unique_ptr<TCorvaneEditorForm> SignedInWindow(TAppTestBed& bed, const QString& workingFolder) {
        return bed.SignedInWindow(FBucket + QStringLiteral("/db"), workingFolder,
                                  QString::fromLatin1(TPgTestCluster::User));
    }

  private slots:
    void initTestCase() {
        FCluster = TPgTestCluster::FromFixture();
        FCluster->CreateDatabase(
            SourceDatabase,
            QStringLiteral("CREATE TABLE offices (id integer PRIMARY KEY, city text, opened date);"
                           "INSERT INTO offices VALUES (1, 'Recife', '2019-03-01'),"
                           " (2, 'São Paulo', '2021-07-15'), (3, 'Porto Alegre', NULL);"));
        FDumpPath = FDumps.filePath(QStringLiteral("sample.backup"));
        FCluster->Dump(SourceDatabase, FDumpPath);
        TS3TestServer server = TS3TestServer::FromFixture();
        FBucket = TS3TestServer::UniqueBucketName(QStringLiteral("window-restore"));
        server.CreateBucket(FBucket);
        server.PutFile(FBucket, QStringLiteral("db/") + BackupName, FDumpPath);
    }

    void restoreThroughTheWindow() {
        TAppTestBed bed;
        FCluster->CreateDatabase(TargetDatabase, QStringLiteral("CREATE TABLE stale (note text);"));
        QTemporaryDir workingFolder;
        auto form = SignedInWindow(bed, workingFolder.path());
        QCOMPARE(form->CdsObject().FieldAsText(TCatalogueField::Name), BackupName);
        form->Log(QStringLiteral("an earlier line"));
        // The real pg_restore runs with the jobs the window shows.
        Control<QSpinBox>(*form, "EdtRestoreJobs")->setValue(2);

        QString proposed;
        SetNextDatabaseNameAnswer([&](const QString& name) -> std::optional<QString> {
            proposed = name;
            return name;
        });
        // The database exists: the question comes before anything is downloaded.
        QString replaced;
        bool askedBeforeTheDownload = false;
        SetNextReplaceDatabaseAnswer([&](const QString& database) {
            replaced = database;
            askedBeforeTheDownload = !DownloadStarted(LogMessages(*form));
            return true;
        });
        QTest::mouseClick(Control<QPushButton>(*form, "BtnRestore"), Qt::LeftButton);

        // Once the name is given the restore runs beside the window: the commands that would start
        // another operation are off and ignored, Stop is on, and the busy cursor is over the grid, not
        // over Stop.
        auto* download = Control<QAction>(*form, "mniDownload");
        auto* stop = Control<QPushButton>(*form, "BtnStop");
        auto* grid = Control<QTableView>(*form, "GridFiles");
        QVERIFY(!Control<QPushButton>(*form, "BtnRestore")->isEnabled());
        QVERIFY(!Control<QPushButton>(*form, "BtnConnect")->isEnabled());
        QVERIFY(!download->isEnabled());
        QVERIFY(stop->isEnabled());
        QCOMPARE(grid->viewport()->cursor().shape(), Qt::BusyCursor);
        QVERIFY(stop->cursor().shape() != Qt::BusyCursor);
        download->trigger();
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton);
        TAppTestBed::WaitUntilIdle(*form);

        QCOMPARE(proposed, TargetDatabase);
        QCOMPARE(replaced, TargetDatabase);
        QVERIFY(askedBeforeTheDownload);
        QCOMPARE(bed.ErrorBoxes, QStringList());
        const QString file = u'"' + JoinNativePath(workingFolder.path(), BackupName) + u'"';
        const QString psql =
            QStringLiteral("psql -X -q -A -t -v ON_ERROR_STOP=1 -U postgres -w -d postgres -c ");
        static const QRegularExpression token(QStringLiteral("(corvane_(restoring|replaced)_)[0-9a-f]{12}"));
        QStringList log = LogMessages(*form).replaceInStrings(token, QStringLiteral("\\1<token>"));
        QCOMPARE(log.constFirst(), QStringLiteral("Checking the PostgreSQL client programs"));
        const QStringList downloaded =
            DownloadLines(JoinNativePath(workingFolder.path(), BackupName), QFileInfo(FDumpPath).size());
        log = log.mid(log.indexOf(downloaded[0]));
        // The programs' file names as this system spells them ("psql.exe" on Windows).
        for (QString& line : log) {
            for (const char* program : {"pg_restore", "psql", "createdb", "dropdb"}) {
                const QString name = ProgramFileName(QString::fromLatin1(program));
                if (line.startsWith(name + u' '))
                    line = QString::fromLatin1(program) + line.mid(name.size());
            }
        }
        QCOMPARE(
            log,
            (QStringList{
                downloaded[0], downloaded[1], "Checking backup file", "pg_restore --list -- " + file,
                "Checking database: salesoffice", "Checking that \"salesoffice\" can be replaced",
                "Creating database: corvane_restoring_<token> (temporary, for \"salesoffice\")",
                "createdb -U postgres -w -T template0 -O postgres -- corvane_restoring_<token>",
                "Restoring database: corvane_restoring_<token> (temporary, for \"salesoffice\")",
                "pg_restore -U postgres -w -j 2 --verbose -d dbname='corvane_restoring_<token>' -- " + file,
                "Replacing database: salesoffice",
                psql + "\"BEGIN; ALTER DATABASE \\\"salesoffice\\\" RENAME TO "
                       "\\\"corvane_replaced_<token>\\\"; ALTER DATABASE "
                       "\\\"corvane_restoring_<token>\\\" RENAME TO \\\"salesoffice\\\"; COMMIT\"",
                "The operation has been completed",
                "Dropping database: corvane_replaced_<token> (the old \"salesoffice\")",
                "dropdb -U postgres -w --if-exists --force -- corvane_replaced_<token>"}));
        // The old database was dropped after the restore was reported.
        const QString dropped = LogMessages(*form).filter(QStringLiteral("Dropping database: ")).constLast();
        QVERIFY(!FCluster->DatabaseExists(dropped.section(u' ', 2, 2)));
        QCOMPARE(FCluster->Query(TargetDatabase, RowsQuery), FCluster->Query(SourceDatabase, RowsQuery));
        QVERIFY(QDir(workingFolder.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        QCOMPARE(Control<QProgressBar>(*form, "ProgressBar")->value(), 0);
        QVERIFY(Control<QPushButton>(*form, "BtnConnect")->isEnabled());
        QVERIFY(!Control<QPushButton>(*form, "BtnStop")->isEnabled());
        QCOMPARE(Control<QTableView>(*form, "GridFiles")->viewport()->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    // Temporary databases an earlier restore left behind are named in the log and offered for dropping
    // once the restore goes ahead: dropped before the download on Drop, left as they are on Keep.
    void leftoversOfAnEarlierRestore_data() {
        QTest::addColumn<bool>("drop");
        QTest::newRow("Drop") << true;
        QTest::newRow("Keep") << false;
    }
    void leftoversOfAnEarlierRestore() {
        QFETCH(bool, drop);
        const QStringList leftovers{QStringLiteral("corvane_replaced_00000000cafe"),
                                    QStringLiteral("corvane_restoring_00000000beef")};
        for (const QString& leftover : leftovers)
            FCluster->CreateDatabase(leftover, QStringLiteral("SELECT 1"));
        const auto dropAll = qScopeGuard([&] {
            for (const QString& leftover : leftovers)
                FCluster->DropDatabase(leftover);
        });
        TAppTestBed bed;
        QTemporaryDir workingFolder;
        auto form = SignedInWindow(bed, workingFolder.path());
        SetNextDatabaseNameAnswer([](const QString& name) { return std::optional(name); });
        SetNextReplaceDatabaseAnswer([](const QString&) { return true; });
        QStringList offered;
        SetNextLeftoverDatabasesAnswer([&](const QStringList& names) {
            offered = names;
            return drop;
        });
        form->GridFilesDblClick();
        TAppTestBed::WaitUntilIdle(*form);

        QCOMPARE(bed.ErrorBoxes, QStringList());
        QCOMPARE(offered, leftovers);
        const QStringList log = LogMessages(*form);
        QVERIFY(
            log.contains(QStringLiteral("Temporary databases left by an earlier restore: "
                                        "corvane_replaced_00000000cafe, corvane_restoring_00000000beef")));
        QVERIFY(log.contains(QStringLiteral("The operation has been completed")));
        for (const QString& leftover : leftovers)
            QCOMPARE(FCluster->DatabaseExists(leftover), !drop);
        QCOMPARE(FCluster->Query(TargetDatabase, RowsQuery), FCluster->Query(SourceDatabase, RowsQuery));
    }

    // Cancelled at the name prompt, at the question before replacing the database, or at the one before
    // replacing another file of the backup's name: nothing is downloaded and the database stays as it was.
    // A cancelled prompt leaves the log as it was.
    void cancelChangesNothing_data() {
        QTest::addColumn<QString>("question"); // the one answered Cancel: "name", "database" or "file"
        QTest::newRow("at the name prompt") << "name";
        QTest::newRow("at the question before replacing") << "database";
        QTest::newRow("at the question before replacing a file") << "file";
    }
    void cancelChangesNothing() {
        QFETCH(QString, question);
        TAppTestBed bed;
        FCluster->CreateDatabase(TargetDatabase, QStringLiteral("CREATE TABLE stale (note text);"));
        QTemporaryDir workingFolder;
        const QString file = JoinNativePath(workingFolder.path(), BackupName);
        if (question == QStringLiteral("file")) {
            QFile other(file);
            QVERIFY(other.open(QIODevice::WriteOnly) && other.write("other") == 5);
        }
        auto form = SignedInWindow(bed, workingFolder.path());
        form->Log(QStringLiteral("an earlier line"));
        SetNextDatabaseNameAnswer([&](const QString& name) -> std::optional<QString> {
            if (question == QStringLiteral("name"))
                return std::nullopt;
            return name;
        });
        SetNextReplaceDatabaseAnswer([&](const QString&) { return question != QStringLiteral("database"); });
        QString asked;
        SetNextReplaceBackupFileAnswer([&](const QString& path) {
            asked = path;
            return false;
        });
        form->GridFilesDblClick();
        TAppTestBed::WaitUntilIdle(*form);
        SetNextReplaceDatabaseAnswer({});
        SetNextReplaceBackupFileAnswer({});
        const QStringList log = LogMessages(*form);
        if (question == QStringLiteral("database"))
            QCOMPARE(log.constLast(), QStringLiteral("The restore was cancelled; nothing was downloaded"));
        else if (question == QStringLiteral("file"))
            QCOMPARE(
                log.constLast(),
                QStringLiteral("The restore was cancelled; nothing was downloaded and %1 stays as it was")
                    .arg(file));
        else
            QCOMPARE(log, QStringList{QStringLiteral("an earlier line")});
        QCOMPARE(asked, question == QStringLiteral("file") ? file : QString());
        QVERIFY(!DownloadStarted(log));
        QCOMPARE(QDir(workingFolder.path()).entryList(QDir::Files),
                 question == QStringLiteral("file") ? QStringList{BackupName} : QStringList());
        QCOMPARE(FCluster->Query(TargetDatabase, QStringLiteral("SELECT to_regclass('stale') IS NOT NULL")),
                 QStringLiteral("t"));
        QVERIFY(Control<QPushButton>(*form, "BtnRestore")->isEnabled());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QVERIFY(bed.ErrorBoxes.isEmpty());
    }

    // Stop, or the window destroyed, while pg_restore runs (a stand-in that lists the archive as the real
    // one does, then restores nothing until it is ended): the program is ended, the database of that name
    // is as it was, and neither the database being restored nor the backup file is left behind.
    void stopDuringPgRestoreChangesNothing_data() {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("Stop") << false;
        QTest::newRow("window destroyed") << true;
    }
    void stopDuringPgRestoreChangesNothing() {
#ifdef Q_OS_WIN
        QSKIP("its pg_restore stand-in is a shell script (test_windows_restore stops a program on Windows)");
#endif
        QFETCH(bool, destroy);
        TAppTestBed bed;
        FCluster->CreateDatabase(
            TargetDatabase,
            QStringLiteral("CREATE TABLE stale (note text); INSERT INTO stale VALUES ('kept');"));
        const auto standIn = PgRestoreStandIn("exec sleep 60");

        QTemporaryDir workingFolder;
        auto form = SignedInWindow(bed, workingFolder.path());
        SetNextDatabaseNameAnswer([](const QString& name) { return std::optional(name); });
        SetNextReplaceDatabaseAnswer([](const QString&) { return true; });
        QTest::mouseClick(Control<QPushButton>(*form, "BtnRestore"), Qt::LeftButton);
        auto* bar = Control<QProgressBar>(*form, "ProgressBar");
        QTRY_VERIFY2(bar->text().startsWith(QStringLiteral("0 % · 0 of ")), qPrintable(bar->text()));
        QVERIFY(bar->text().endsWith(QStringLiteral(" items")));
        if (destroy) {
            form.reset();
            QTest::qWait(50);
            // Nothing the restore started runs on.
            QProcess children;
            children.start(QStringLiteral("pgrep"),
                           {QStringLiteral("-P"), QString::number(QCoreApplication::applicationPid())});
            QVERIFY(children.waitForFinished());
            QCOMPARE(children.readAllStandardOutput(), QByteArray());
        } else {
            QTest::mouseClick(Control<QPushButton>(*form, "BtnStop"), Qt::LeftButton);
            TAppTestBed::WaitUntilIdle(*form);
            const QStringList log = LogMessages(*form);
            QVERIFY(log.contains(QStringLiteral("Stopping: The restore")));
            QCOMPARE(log.last(),
                     QStringLiteral("pg_restore was stopped; the database \"salesoffice\" was not changed"));
        }
        QVERIFY(bed.ErrorBoxes.isEmpty());
        QCOMPARE(FCluster->Query(TargetDatabase, QStringLiteral("SELECT note FROM stale")),
                 QStringLiteral("kept"));
        QCOMPARE(FCluster->Query(
                     QStringLiteral("postgres"),
                     QStringLiteral("SELECT count(*) FROM pg_database WHERE datname LIKE 'corvane\\_re%'")),
                 QStringLiteral("0"));
        QVERIFY(QDir(workingFolder.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    }

    // A client program that writes 200 MiB of output: the window stays live, the log shows the first and
    // the last lines with the count of those left out, and the memory stays flat.
    void floodOfOutputKeepsTheWindowLive() {
#ifdef Q_OS_WIN
        QSKIP("its pg_restore stand-in is a shell script");
#endif
        TAppTestBed bed;
        const auto standIn = PgRestoreStandIn("'" CORVANE_FLOODING_PROGRAM "' 200\nexit 1");
        FCluster->CreateDatabase(TargetDatabase, QStringLiteral("CREATE TABLE stale (note text);"));
        QTemporaryDir workingFolder;
        auto form = SignedInWindow(bed, workingFolder.path());
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
        ticker.start(10);
        const qint64 peakBefore = PeakMemoryKiB();
        SetNextDatabaseNameAnswer([](const QString& name) { return std::optional(name); });
        SetNextReplaceDatabaseAnswer([](const QString&) { return true; });
        QTest::mouseClick(Control<QPushButton>(*form, "BtnRestore"), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !form->IsOperationRunning(); }, 240000));

        QVERIFY2(ticks > 20, qPrintable(QString::number(ticks)));
        const qint64 growthKiB = PeakMemoryKiB() - peakBefore;
        if (MemoryFiguresHold)
            QVERIFY2(growthKiB < 50 * 1024, qPrintable(QStringLiteral("%1 KiB").arg(growthKiB)));
        QCOMPARE(bed.ErrorBoxes.size(), 1);
        QVERIFY2(bed.ErrorBoxes.constFirst().startsWith(QStringLiteral("pg_restore failed with exit code 1")),
                 qPrintable(bed.ErrorBoxes.constFirst()));
        const QStringList log = LogMessages(*form);
        QVERIFY(log.size() < 20000);
        static const QRegularExpression dropped(QStringLiteral("^… [0-9,]+ lines not shown$"));
        QVERIFY(!log.filter(dropped).isEmpty());
        QCOMPARE(FCluster->Query(
                     QStringLiteral("postgres"),
                     QStringLiteral("SELECT count(*) FROM pg_database WHERE datname LIKE 'corvane\\_re%'")),
                 QStringLiteral("0"));
    }

    // Download keeps the backup; a second Download finds it there; a file of its name that is not the
    // backup is replaced only when the user answers Replace, and Cancel leaves it as it is.
    void downloadKeepsTheBackupInTheWorkingFolder() {
        TAppTestBed bed;
        QTemporaryDir workingFolder;
        auto form = SignedInWindow(bed, workingFolder.path() + QStringLiteral("/"));
        const QString path = workingFolder.filePath(BackupName);
        QFile original(FDumpPath);
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray backup = original.readAll();
        const QString mib = QStringLiteral("%1 MiB").arg((backup.size() + 1024 * 1024 - 1) / (1024 * 1024));
        auto download = [&] {
            Control<QPlainTextEdit>(*form, "MemoLog")->clear();
            Control<QAction>(*form, "mniDownload")->trigger();
            TAppTestBed::WaitUntilIdle(*form);
            return LogMessages(*form);
        };

        QCOMPARE(download(), DownloadLines(path, backup.size()));
        QCOMPARE(download(),
                 QStringList{QStringLiteral("Backup \"%1\" is already in %2 (%3, MD5 checked); it "
                                            "is not downloaded again")
                                 .arg(BackupName, path, mib)});
        QCOMPARE(Control<QProgressBar>(*form, "ProgressBar")->value(), 0);

        QFile other(path);
        QVERIFY(other.open(QIODevice::WriteOnly) && other.write("other") == 5);
        other.close();
        const QString differs = QStringLiteral("%1 is there but is not the backup \"%2\": its size differs")
                                    .arg(path, BackupName);
        for (const bool replace : {false, true}) {
            QString asked;
            SetNextReplaceBackupFileAnswer([&](const QString& file) {
                asked = file;
                return replace;
            });
            const QStringList log = download();
            QCOMPARE(asked, path);
            if (replace) {
                QCOMPARE(log, QStringList{differs} + DownloadLines(path, backup.size()));
            } else {
                QCOMPARE(log, (QStringList{differs,
                                           QStringLiteral("The download of \"%1\" was cancelled; %2 stays "
                                                          "as it was")
                                               .arg(BackupName, path)}));
                QFile kept(path);
                QVERIFY(kept.open(QIODevice::ReadOnly));
                QCOMPARE(kept.readAll(), QByteArray("other"));
            }
        }
        QFile downloaded(path);
        QVERIFY(downloaded.open(QIODevice::ReadOnly));
        QCOMPARE(downloaded.readAll(), backup);
        QVERIFY(bed.ErrorBoxes.isEmpty());
    }

    void restoreChecksItsInputsFirst_data() {
        QTest::addColumn<bool>("folderExists");
        QTest::addColumn<QString>("databaseUser");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focused");
        QTest::newRow("missing folder") << false << "postgres"
                                        << ""
                                        << ""
                                        << "Invalid temporary directory."
                                        << "EdtTempDir";
        QTest::newRow("both missing") << false << ""
                                      << ""
                                      << ""
                                      << "Invalid temporary directory."
                                      << "EdtTempDir";
        QTest::newRow("no database user") << true << ""
                                          << ""
                                          << ""
                                          << "Database username is required."
                                          << "EdtDBUsername";
        QTest::newRow("host read as an option")
            << true << "postgres"
            << "-oProxyCommand"
            << ""
            << "The database host \"-oProxyCommand\" cannot begin with \"-\""
            << "EdtDBHost";
        QTest::newRow("port not a number") << true << "postgres"
                                           << "db.example.com"
                                           << "54x"
                                           << "The database port \"54x\" is not a port number (1 to 65535)"
                                           << "EdtDBPort";
        QTest::newRow("port out of range") << true << "postgres"
                                           << ""
                                           << "65536"
                                           << "The database port \"65536\" is not a port number (1 to 65535)"
                                           << "EdtDBPort";
    }
    void restoreChecksItsInputsFirst() {
        QFETCH(bool, folderExists);
        QFETCH(QString, databaseUser);
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(QString, message);
        QFETCH(QString, focused);
        TAppTestBed bed;
        QTemporaryDir workingFolder;
        auto form =
            SignedInWindow(bed, folderExists ? workingFolder.path() : workingFolder.filePath("missing"));
        Control<QLineEdit>(*form, "EdtDBUsername")->setText(databaseUser);
        Control<QLineEdit>(*form, "EdtDBHost")->setText(host);
        Control<QLineEdit>(*form, "EdtDBPort")->setText(port);
        form->Log(QStringLiteral("kept"));
        QTest::mouseClick(Control<QPushButton>(*form, "BtnRestore"), Qt::LeftButton);
        QCOMPARE(bed.ErrorBoxes, QStringList{message});
        QCOMPARE(QApplication::focusWidget()->objectName(), focused);
        QCOMPARE(LogMessages(*form), QStringList{QStringLiteral("kept")});
    }

    void folderPickerSetsTheWorkingFolder() {
        TAppTestBed bed;
        QTemporaryDir chosen;
        auto form = SignedInWindow(bed, QStringLiteral("/kept"));
        QString offered;
        SetNextBackupFolderAnswer([&](const QString& current) -> std::optional<QString> {
            offered = current;
            return std::nullopt;
        });
        QTest::mouseClick(Control<QPushButton>(*form, "BtnTempDir"), Qt::LeftButton);
        QCOMPARE(offered, QStringLiteral("/kept"));
        QCOMPARE(Control<QLineEdit>(*form, "EdtTempDir")->text(), QStringLiteral("/kept"));

        SetNextBackupFolderAnswer([&](const QString&) { return std::optional(chosen.path()); });
        QTest::mouseClick(Control<QPushButton>(*form, "BtnTempDir"), Qt::LeftButton);
        QCOMPARE(Control<QLineEdit>(*form, "EdtTempDir")->text(), chosen.path());
    }
};

QTEST_MAIN(TestMainWindowRestore)
#include "TestMainWindowRestore.moc"
