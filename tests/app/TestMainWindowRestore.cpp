#include "AppTestBed.h"
#include "PgTestCluster.h"
#include "app/BackupFolderPicker.h"
#include "app/CorvaneForm.h"
#include "catalogue/CatalogueTable.h"
#include "ui_CorvaneForm.h"

#include <QFileSystemModel>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

namespace {

const QString BackupName = QStringLiteral("Sales Office-20231118.backup");
const QString SourceDatabase = QStringLiteral("corvane_window_source");
const QString TargetDatabase = QStringLiteral("salesoffice");
const QString RowsQuery = QStringLiteral("SELECT id, city, opened FROM offices ORDER BY id");

// The log's messages without their timestamps, after checking that every line has one.
QStringList LogMessages(const TCorvaneEditorForm& form) {
    static const QRegularExpression line(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}: (.*)$"));
    QStringList messages;
    for (const QString& text : form.Controls()->MemoLog->toPlainText().split(u'\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = line.match(text);
        messages << (match.hasMatch() ? match.captured(1) : QStringLiteral("<no timestamp> ") + text);
    }
    return messages;
}

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

        QString proposed;
        bool selected = false;
        AppTestBed::WhenModalOpens<QInputDialog>([&](QInputDialog* prompt) {
            QCOMPARE(prompt->windowTitle(), QStringLiteral("Restore backup"));
            QCOMPARE(prompt->labelText(), QStringLiteral("Database"));
            proposed = prompt->textValue();
            selected = prompt->findChild<QLineEdit*>()->selectedText() == proposed;
            QVERIFY(QApplication::overrideCursor());
            QVERIFY(!form->Controls()->BtnRestore->isEnabled());
            // Commands started from controls that stay live are refused while the restore runs.
            form->Controls()->mniDownload->trigger();
            QTest::mouseDClick(form->Controls()->GridFiles->viewport(), Qt::LeftButton);
            prompt->accept();
        });
        QTest::mouseClick(form->Controls()->BtnRestore, Qt::LeftButton);

        QCOMPARE(proposed, TargetDatabase);
        QVERIFY(selected);
        QCOMPARE(bed.errorBoxes, QStringList(2, QStringLiteral("Another operation is still running.")));
        const QString target = workingFolder.filePath(BackupName);
        QCOMPARE(
            LogMessages(*form),
            (QStringList{"Downloading backup file", "Download completed", "Dropping database: salesoffice",
                         "dropdb --if-exists -U postgres salesoffice", "Creating database: salesoffice",
                         "createdb -O postgres -U postgres salesoffice", "Restoring database: salesoffice",
                         "pg_restore -U postgres -d salesoffice \"" + target + "\"",
                         "The operation has been completed"}));
        QCOMPARE(cluster->Query(TargetDatabase, RowsQuery), cluster->Query(SourceDatabase, RowsQuery));
        QVERIFY(QDir(workingFolder.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        QCOMPARE(form->Controls()->ProgressBar->value(), 0);
        QVERIFY(form->Controls()->BtnConnect->isEnabled());
        QVERIFY(form->Controls()->BtnClose->isEnabled());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void cancelAtThePromptChangesNothing() {
        AppTestBed bed;
        QTemporaryDir workingFolder;
        auto form = SignedInWindow(bed, workingFolder.path());
        form->Log(QStringLiteral("an earlier line"));
        AppTestBed::WhenModalOpens<QInputDialog>([](QInputDialog* prompt) { prompt->reject(); });
        form->GridFilesDblClick();
        QCOMPARE(form->Controls()->MemoLog->toPlainText(), QString());
        QVERIFY(QDir(workingFolder.path()).isEmpty());
        QVERIFY(form->Controls()->BtnRestore->isEnabled());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QVERIFY(bed.errorBoxes.isEmpty());
    }

    void downloadKeepsTheBackupInTheWorkingFolder() {
        AppTestBed bed;
        QTemporaryDir workingFolder;
        auto form = SignedInWindow(bed, workingFolder.path() + QStringLiteral("/"));
        form->Controls()->mniDownload->trigger();
        QVERIFY(bed.errorBoxes.isEmpty());
        QCOMPARE(LogMessages(*form), (QStringList{"Downloading backup file", "Download completed"}));
        QFile downloaded(workingFolder.filePath(BackupName));
        QVERIFY(downloaded.open(QIODevice::ReadOnly));
        QFile original(dumpPath);
        QVERIFY(original.open(QIODevice::ReadOnly));
        QCOMPARE(downloaded.readAll(), original.readAll());
        QCOMPARE(form->Controls()->ProgressBar->value(), 0);
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
        form->Controls()->EdtDBUsername->setText(databaseUser);
        form->Log(QStringLiteral("kept"));
        QTest::mouseClick(form->Controls()->BtnRestore, Qt::LeftButton);
        QCOMPARE(bed.errorBoxes, QStringList{message});
        QCOMPARE(QApplication::focusWidget()->objectName(), focused);
        QCOMPARE(LogMessages(*form), QStringList{QStringLiteral("kept")});
    }

    void folderPickerSetsTheWorkingFolder() {
        AppTestBed bed;
        QTemporaryDir current;
        QTemporaryDir chosen;
        auto form = SignedInWindow(bed, current.path());
        AppTestBed::WhenModalOpens<TBackupFolderPicker>([&](TBackupFolderPicker* picker) {
            QCOMPARE(picker->SelectedFolder(), current.path());
            picker->reject();
        });
        QTest::mouseClick(form->Controls()->BtnTempDir, Qt::LeftButton);
        QCOMPARE(form->Controls()->EdtTempDir->text(), current.path());

        AppTestBed::WhenModalOpens<TBackupFolderPicker>([&](TBackupFolderPicker* picker) {
            auto* tree = picker->findChild<QTreeView*>(QStringLiteral("FolderTree"));
            auto* folders = qobject_cast<QFileSystemModel*>(tree->model());
            tree->setCurrentIndex(folders->index(chosen.path()));
            QMetaObject::invokeMethod(picker, "accept");
        });
        QTest::mouseClick(form->Controls()->BtnTempDir, Qt::LeftButton);
        QCOMPARE(form->Controls()->EdtTempDir->text(), chosen.path());
    }

    // The picker shows a caption above a folder tree and nothing to type into or to make folders with;
    // it opens at the working folder when that exists, else at the desktop (or home) folder.
    void folderPickerLooksAndOpensAsExpected_data() {
        QTest::addColumn<bool>("folderExists");
        QTest::newRow("existing working folder") << true;
        QTest::newRow("missing working folder") << false;
    }
    void folderPickerLooksAndOpensAsExpected() {
        QFETCH(bool, folderExists);
        QTemporaryDir working;
        const QString initial = folderExists ? working.path() : working.filePath(QStringLiteral("missing"));
        TBackupFolderPicker picker(nullptr, initial);
        QCOMPARE(picker.findChild<QLabel*>(QStringLiteral("Caption"))->text(),
                 QStringLiteral("Backup directory"));
        QVERIFY(picker.findChildren<QLineEdit*>().isEmpty());
        QCOMPARE(picker.findChildren<QPushButton*>().size(), 2);
        const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        const QString fallback = QFileInfo(desktop).isDir() ? desktop : QDir::homePath();
        QCOMPARE(picker.SelectedFolder(), folderExists ? working.path() : fallback);
    }
};

QTEST_MAIN(TestMainWindowRestore)
#include "TestMainWindowRestore.moc"
