#include "app/CorvaneForm.h"
#include "app/RecordInWorkDelegate.h"
#include "catalogue/CatalogueTable.h"
#include "core/Platform.h"
#include "support/AppTestBed.h"
#include "support/Control.h"
#include "support/ErrorOf.h"
#include "support/FixturePort.h"
#include "support/LogMessages.h"
#include "support/S3TestServer.h"
#include "support/WhenShown.h"

#include <QAction>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

// The fault server's listing of one backup of 1,000,000 bytes of which it sends the first 333,333 and
// then nothing: the download takes a third and waits.
const QString StallingFolder = QStringLiteral("b/stall-body");

QString FaultEndpoint(const QString& scenario) {
    return QStringLiteral("%1.localhost:%2")
        .arg(scenario)
        .arg(FixturePort(QStringLiteral("s3_fault_server")));
}

} // namespace

// Operations that run beside the window against a server that is slow or stalls: the window stays live,
// its progress bar reads, and Stop, Escape or closing the window end them leaving nothing behind.
class TestMainWindowStop : public QObject {
    Q_OBJECT

    QString FQuickBucket;
    QByteArray FQuickBackup;

  private slots:
    void initTestCase() {
        TS3TestServer server = TS3TestServer::FromFixture();
        FQuickBucket = TS3TestServer::UniqueBucketName(QStringLiteral("window-stop"));
        server.CreateBucket(FQuickBucket);
        FQuickBackup = QByteArray(256 * 1024, 'x');
        server.PutObject(FQuickBucket, QStringLiteral("db/quick.backup"), FQuickBackup);
    }

    // The window destroyed while its operation waits, or just as it ends: nothing crashes, nothing of it
    // runs on afterwards, and no partial file is left.
    void destroyedDuringAnOperation_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("wait"); // ms after the start; -1: until the download waits
        QTest::newRow("stalled listing") << "listing" << 300;
        QTest::newRow("stalled download") << "stalled download" << -1;
        for (const int wait : {0, 1, 2, 5, 10, 20, 50})
            QTest::addRow("download ending, %d ms", wait) << "quick download" << wait;
    }
    void destroyedDuringAnOperation() {
        QFETCH(QString, operation);
        QFETCH(int, wait);
        TAppTestBed bed;
        QTemporaryDir working;
        std::unique_ptr<TCorvaneEditorForm> form;
        if (operation == QStringLiteral("listing")) {
            bed.StorageEndpoint = FaultEndpoint(QStringLiteral("stalled"));
            form = bed.SignedInWindow(QString());
            Control<QLineEdit>(*form, "EdtBucket")->setText(QStringLiteral("b/db"));
            form->BtnConnectClick();
        } else if (operation == QStringLiteral("stalled download")) {
            bed.StorageEndpoint = FaultEndpoint(QStringLiteral("window-stop"));
            form = bed.SignedInWindow(StallingFolder, working.path());
            Control<QAction>(*form, "mniDownload")->trigger();
            QTRY_VERIFY(Control<QProgressBar>(*form, "ProgressBar")->value() > 0);
        } else {
            form = bed.SignedInWindow(FQuickBucket + QStringLiteral("/db"), working.path());
            Control<QAction>(*form, "mniDownload")->trigger();
        }
        if (wait >= 0)
            QTest::qWait(wait);
        form.reset();
        // Whatever the operation had queued for the window goes with it.
        QTest::qWait(50);
        QVERIFY(bed.ErrorBoxes.isEmpty());
        const QStringList left = QDir(working.path()).entryList(QDir::Files | QDir::Hidden);
        if (operation == QStringLiteral("quick download") && !left.isEmpty()) {
            QCOMPARE(left,
                     (QStringList{QStringLiteral("quick.backup"), QStringLiteral("quick.backup.etag")}));
            QFile file(working.filePath(left.constFirst()));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), FQuickBackup);
        } else {
            QCOMPARE(left, QStringList());
        }
    }

    void stalledDownloadShowsItsProgressAndStops() {
        TAppTestBed bed;
        bed.StorageEndpoint = FaultEndpoint(QStringLiteral("window-stop"));
        QTemporaryDir working;
        const auto form = bed.SignedInWindow(StallingFolder, working.path());
        QCOMPARE(form->CdsObject().rowCount(), 1);

        // A timer on the window's thread counts its ticks while the download waits for the rest.
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
        ticker.start(10);
        Control<QAction>(*form, "mniDownload")->trigger();
        auto* bar = Control<QProgressBar>(*form, "ProgressBar");
        QTRY_VERIFY2(bar->text().startsWith(QStringLiteral("33 % · 0 of 1 MiB · ")), qPrintable(bar->text()));
        QCOMPARE(bar->value(), 333);
        const int ticksWhileWaiting = ticks;
        QTest::qWait(200);
        QVERIFY(form->IsOperationRunning());
        QVERIFY(ticks > ticksWhileWaiting + 5);
        QVERIFY(Control<QPushButton>(*form, "BtnStop")->isEnabled());
        // The row in work is marked, and stays marked through a search that keeps it.
        auto* grid = Control<QTableView>(*form, "GridFiles");
        auto* marker = qobject_cast<TRecordInWorkDelegate*>(grid->itemDelegate());
        QVERIFY(marker->IsInWork(form->CdsObject().index(0, 2)));
        form->EdtFilterKeyDown(Qt::Key_Return);
        QVERIFY(marker->IsInWork(form->CdsObject().index(0, 0)));
        // A command reached while it runs is refused before it changes anything (the log is compared
        // whole below).
        for (const auto command :
             {&TCorvaneEditorForm::BtnConnectClick, &TCorvaneEditorForm::BtnRestoreClick})
            QCOMPARE(ErrorOf([&] { (form.get()->*command)(); }),
                     QStringLiteral("Another operation is still running"));
        QCOMPARE(form->CdsObject().rowCount(), 1);
        QVERIFY(form->IsOperationRunning());

        QTest::keyClick(form.get(), Qt::Key_Escape);
        TAppTestBed::WaitUntilIdle(*form);
        QCOMPARE(LogMessages(*form),
                 (QStringList{QStringLiteral("Downloading backup \"333333\" (1 MiB) to %1")
                                  .arg(JoinNativePath(working.path(), QStringLiteral("333333"))),
                              QStringLiteral("Stopping: The download"),
                              QStringLiteral("The download of \"333333\" was stopped")}));
        QVERIFY(bed.ErrorBoxes.isEmpty());
        QVERIFY(QDir(working.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        QCOMPARE(bar->text(), QString());
        QVERIFY(!Control<QPushButton>(*form, "BtnStop")->isEnabled());
        QVERIFY(Control<QPushButton>(*form, "BtnConnect")->isEnabled());
        QVERIFY(!marker->IsInWork(form->CdsObject().index(0, 0)));
    }

    void stalledListingStops() {
        TAppTestBed bed;
        bed.StorageEndpoint = FaultEndpoint(QStringLiteral("stalled"));
        const auto form = bed.SignedInWindow(QString());
        Control<QLineEdit>(*form, "EdtBucket")->setText(QStringLiteral("b/db"));
        QTest::mouseClick(Control<QPushButton>(*form, "BtnConnect"), Qt::LeftButton);
        QTest::qWait(300);
        QVERIFY(form->IsOperationRunning());
        QTest::mouseClick(Control<QPushButton>(*form, "BtnStop"), Qt::LeftButton);
        TAppTestBed::WaitUntilIdle(*form);
        QCOMPARE(LogMessages(*form).mid(LogMessages(*form).size() - 2),
                 (QStringList{QStringLiteral("Stopping: Connect"),
                              QStringLiteral("The listing of \"b\" was stopped")}));
        QCOMPARE(form->CdsObject().rowCount(), 0);
        QVERIFY(bed.ErrorBoxes.isEmpty());
    }

    // Closing while a download runs asks first: carrying on leaves the window and the download as they
    // were; stopping ends the download, removes its file, and closes the window once it has ended.
    void closingDuringADownloadAsks_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("closed");
        QTest::newRow("continue") << QStringLiteral("Continue") << false;
        QTest::newRow("stop and close") << QStringLiteral("Stop and close") << true;
    }
    void closingDuringADownloadAsks() {
        QFETCH(QString, answer);
        QFETCH(bool, closed);
        TAppTestBed bed;
        bed.StorageEndpoint = FaultEndpoint(QStringLiteral("window-stop"));
        QTemporaryDir working;
        const auto form = bed.SignedInWindow(StallingFolder, working.path());
        Control<QAction>(*form, "mniDownload")->trigger();
        QTRY_VERIFY(Control<QProgressBar>(*form, "ProgressBar")->value() > 0);

        QString question;
        WhenShown<QMessageBox>([&](QMessageBox* box) {
            question = box->text();
            for (QAbstractButton* button : box->buttons())
                if (button->text() == answer)
                    button->click();
        });
        form->close();
        QCOMPARE(question, QStringLiteral("The download is still running. Stop it and close Corvane?"));
        if (!closed) {
            QTest::qWait(100);
            QVERIFY(form->isVisible());
            QVERIFY(form->IsOperationRunning());
            form->BtnStopClick();
        }
        TAppTestBed::WaitUntilIdle(*form);
        QCOMPARE(form->isVisible(), !closed);
        QVERIFY(QDir(working.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        QVERIFY(bed.ErrorBoxes.isEmpty());
    }

    // A listing whose pages lead back to a marker it has seen ends with an error instead of asking on.
    void cyclingMarkersEndTheListing() {
        TAppTestBed bed;
        bed.StorageEndpoint = FaultEndpoint(QStringLiteral("cycling-markers"));
        const auto form = bed.SignedInWindow(QStringLiteral("b/db"));
        QCOMPARE(bed.ErrorBoxes.size(), 1);
        QVERIFY2(bed.ErrorBoxes.first().contains(QStringLiteral("where it had been before")),
                 qPrintable(bed.ErrorBoxes.first()));
        QCOMPARE(form->CdsObject().rowCount(), 0);
    }
};

QTEST_MAIN(TestMainWindowStop)
#include "TestMainWindowStop.moc"
