#include "app/AppDialogs.h"
#include "app/CorvaneForm.h"
#include "catalogue/CatalogueTable.h"
#include "support/AppTestBed.h"
#include "support/Control.h"
#include "support/LogMessages.h"
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

} // namespace

// Download and restore through the main window: s3rver and a throw-away PostgreSQL cluster on loopback,
// the real client programs.
class TestMainWindowRestore : public QObject {
    Q_OBJECT

  private:
    std::optional<PgTestCluster> cluster;
    QString bucket;
    QString dumpPath;
    QTemporaryDir dumps;

    std::unique_ptr<TCorvaneEditorForm> SignedInWindow(AppTestBed& bed, const QString& workingFolder) {
        return bed.SignedInWindow(bucket + QStringLiteral("/db"), workingFolder,
                                  QString::fromLatin1(PgTestCluster::User));
    }

  private slots:
    void initTestCase() {
        cluster = PgTestCluster::FromFixture();
        cluster->CreateDatabase(
            SourceDatabase,
            QStringLiteral("CREATE TABLE offices (id integer PRIMARY KEY, city text, opened date);"
                           "INSERT INTO offices VALUES (1, 'Recife', '2019-03-01'),"
                           " (2, 'São Paulo', '2021-07-15'), (3, 'Porto Alegre', NULL);"));
        dumpPath = dumps.filePath(QStringLiteral("sample.backup"));
        cluster->Dump(SourceDatabase, dumpPath);
        S3TestServer server = S3TestServer::FromFixture();
        bucket = S3TestServer::UniqueBucketName(QStringLiteral("window-restore"));
        server.CreateBucket(bucket);
        server.PutFile(bucket, QStringLiteral("db/") + BackupName, dumpPath);
    }

    void restoreThroughTheWindow() {
        AppTestBed bed;
        cluster->CreateDatabase(TargetDatabase, QStringLiteral("CREATE TABLE stale (note text);"));
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
        AppTestBed::WaitUntilIdle(*form);

        QCOMPARE(proposed, TargetDatabase);
        QCOMPARE(bed.errorBoxes, QStringList());
        const QString file = u'"' + workingFolder.filePath(BackupName) + u'"';
        const QString psql =
            QStringLiteral("psql -X -q -A -t -v ON_ERROR_STOP=1 -U postgres -d postgres -c ");
        static const QRegularExpression token(QStringLiteral("(corvane_(restoring|replaced)_)[0-9a-f]{12}"));
        QCOMPARE(LogMessages(*form).replaceInStrings(token, QStringLiteral("\\1<token>")),
                 (QStringList{
                     "Downloading backup file", "Download completed", "Checking backup file",
                     "pg_restore --list " + file, "Checking database: salesoffice",
                     psql + "\"SELECT count(*) FROM pg_database WHERE datname = 'salesoffice'\"", "    1",
                     psql + "\"BEGIN; ALTER DATABASE \\\"salesoffice\\\" RENAME TO "
                            "\\\"corvane_replaced_<token>\\\"; ROLLBACK\"",
                     "Creating database: corvane_restoring_<token>",
                     "createdb -O postgres -U postgres -- corvane_restoring_<token>",
                     "Restoring database: corvane_restoring_<token>",
                     "pg_restore -U postgres -j 2 --verbose -d dbname='corvane_restoring_<token>' " + file,
                     "Replacing database: salesoffice",
                     psql + "\"BEGIN; ALTER DATABASE \\\"salesoffice\\\" RENAME TO "
                            "\\\"corvane_replaced_<token>\\\"; ALTER DATABASE "
                            "\\\"corvane_restoring_<token>\\\" RENAME TO \\\"salesoffice\\\"; COMMIT\"",
                     "Dropping database: corvane_replaced_<token>",
                     "dropdb --if-exists --force -U postgres -- corvane_replaced_<token>",
                     "The operation has been completed"}));
        QCOMPARE(cluster->Query(TargetDatabase, RowsQuery), cluster->Query(SourceDatabase, RowsQuery));
        QVERIFY(QDir(workingFolder.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        QCOMPARE(Control<QProgressBar>(*form, "ProgressBar")->value(), 0);
        QVERIFY(Control<QPushButton>(*form, "BtnConnect")->isEnabled());
        QVERIFY(!Control<QPushButton>(*form, "BtnStop")->isEnabled());
        QCOMPARE(Control<QTableView>(*form, "GridFiles")->viewport()->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void cancelAtThePromptChangesNothing() {
        AppTestBed bed;
        QTemporaryDir workingFolder;
        auto form = SignedInWindow(bed, workingFolder.path());
        form->Log(QStringLiteral("an earlier line"));
        SetNextDatabaseNameAnswer([](const QString&) { return std::nullopt; });
        form->GridFilesDblClick();
        AppTestBed::WaitUntilIdle(*form);
        QCOMPARE(Control<QPlainTextEdit>(*form, "MemoLog")->toPlainText(), QString());
        QVERIFY(QDir(workingFolder.path()).isEmpty());
        QVERIFY(Control<QPushButton>(*form, "BtnRestore")->isEnabled());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QVERIFY(bed.errorBoxes.isEmpty());
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
        QFETCH(bool, destroy);
        AppTestBed bed;
        cluster->CreateDatabase(
            TargetDatabase,
            QStringLiteral("CREATE TABLE stale (note text); INSERT INTO stale VALUES ('kept');"));
        QTemporaryDir standIns;
        const QString realPgRestore = QStandardPaths::findExecutable(QStringLiteral("pg_restore"));
        QVERIFY(!realPgRestore.isEmpty());
        QFile standIn(standIns.filePath(QStringLiteral("pg_restore")));
        QVERIFY(standIn.open(QIODevice::WriteOnly));
        standIn.write("#!/bin/sh\ncase \"$1\" in --list) exec '" + realPgRestore.toUtf8() +
                      "' \"$@\" ;; esac\nexec sleep 60\n");
        standIn.close();
        QVERIFY(standIn.setPermissions(standIn.permissions() | QFileDevice::ExeOwner));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(standIns.path()) + ':' + path);
        const auto restorePath = qScopeGuard([&] { qputenv("PATH", path); });

        QTemporaryDir workingFolder;
        auto form = SignedInWindow(bed, workingFolder.path());
        SetNextDatabaseNameAnswer([](const QString& name) { return std::optional(name); });
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
            AppTestBed::WaitUntilIdle(*form);
            const QStringList log = LogMessages(*form);
            QVERIFY(log.contains(QStringLiteral("Stopping: The restore")));
            QCOMPARE(log.last(),
                     QStringLiteral("pg_restore was stopped; the database \"salesoffice\" was not changed"));
        }
        QVERIFY(bed.errorBoxes.isEmpty());
        QCOMPARE(cluster->Query(TargetDatabase, QStringLiteral("SELECT note FROM stale")),
                 QStringLiteral("kept"));
        QCOMPARE(cluster->Query(
                     QStringLiteral("postgres"),
                     QStringLiteral("SELECT count(*) FROM pg_database WHERE datname LIKE 'corvane\\_re%'")),
                 QStringLiteral("0"));
        QVERIFY(QDir(workingFolder.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    }

    void downloadKeepsTheBackupInTheWorkingFolder() {
        AppTestBed bed;
        QTemporaryDir workingFolder;
        auto form = SignedInWindow(bed, workingFolder.path() + QStringLiteral("/"));
        Control<QAction>(*form, "mniDownload")->trigger();
        AppTestBed::WaitUntilIdle(*form);
        QVERIFY(bed.errorBoxes.isEmpty());
        QCOMPARE(LogMessages(*form), (QStringList{"Downloading backup file", "Download completed"}));
        QFile downloaded(workingFolder.filePath(BackupName));
        QVERIFY(downloaded.open(QIODevice::ReadOnly));
        QFile original(dumpPath);
        QVERIFY(original.open(QIODevice::ReadOnly));
        QCOMPARE(downloaded.readAll(), original.readAll());
        QCOMPARE(Control<QProgressBar>(*form, "ProgressBar")->value(), 0);
    }

    void restoreChecksItsInputsFirst_data() {
        QTest::addColumn<bool>("folderExists");
        QTest::addColumn<QString>("databaseUser");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focused");
        QTest::newRow("missing folder") << false << "postgres"
                                        << "Invalid temporary directory."
                                        << "EdtTempDir";
        QTest::newRow("both missing") << false << ""
                                      << "Invalid temporary directory."
                                      << "EdtTempDir";
        QTest::newRow("no database user") << true << ""
                                          << "Database username is required."
                                          << "EdtDBUsername";
    }
    void restoreChecksItsInputsFirst() {
        QFETCH(bool, folderExists);
        QFETCH(QString, databaseUser);
        QFETCH(QString, message);
        QFETCH(QString, focused);
        AppTestBed bed;
        QTemporaryDir workingFolder;
        auto form =
            SignedInWindow(bed, folderExists ? workingFolder.path() : workingFolder.filePath("missing"));
        Control<QLineEdit>(*form, "EdtDBUsername")->setText(databaseUser);
        form->Log(QStringLiteral("kept"));
        QTest::mouseClick(Control<QPushButton>(*form, "BtnRestore"), Qt::LeftButton);
        QCOMPARE(bed.errorBoxes, QStringList{message});
        QCOMPARE(QApplication::focusWidget()->objectName(), focused);
        QCOMPARE(LogMessages(*form), QStringList{QStringLiteral("kept")});
    }

    void folderPickerSetsTheWorkingFolder() {
        AppTestBed bed;
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
