#include "app/AppDialogs.h"
#include "app/CorvaneForm.h"
#include "app/WindowPlacement.h"
#include "catalogue/CatalogueTable.h"
#include "support/AppTestBed.h"
#include "support/Control.h"
#include "support/LogMessages.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSplitter>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

// The main window's layout: where each control sits at the designed size and after a resize, the grid's
// columns, and the order in which Tab walks the controls.
class TestMainWindowLayout : public QObject {
    Q_OBJECT

  private:
    QString FBucket;
    TAppTestBed FBed;
    std::unique_ptr<TCorvaneEditorForm> FForm;

    // The control's distances from the window's left, top, right and bottom edges, then its size.
    QList<int> Placement(const QString& name) const {
        auto* control = FForm->findChild<QWidget*>(name);
        if (!control)
            return {};
        const QRect box(control->mapTo(FForm.get(), QPoint(0, 0)), control->size());
        return {box.left(),
                box.top(),
                FForm->width() - box.left() - box.width(),
                FForm->height() - box.top() - box.height(),
                box.width(),
                box.height()};
    }

  private slots:
    void initTestCase() {
        TS3TestServer server = TS3TestServer::FromFixture();
        FBucket = TS3TestServer::UniqueBucketName(QStringLiteral("layout"));
        server.CreateBucket(FBucket);
        server.PutObject(FBucket, QStringLiteral("db/first.backup"), QByteArray(10, 'f'));
        server.PutObject(FBucket, QStringLiteral("db/second.backup"), QByteArray(10, 's'));
        FForm = FBed.SignedInWindow(FBucket + QStringLiteral("/db"));
        QTRY_VERIFY(Control<QLineEdit>(*FForm, "EdtFilter")->hasFocus());
    }
    void cleanupTestCase() { FForm.reset(); }

    void windowFrame() {
        QCOMPARE(FForm->size(), QSize(784, 661));
        const Qt::WindowFlags flags = FForm->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(FForm->minimumSize() != FForm->maximumSize());
    }

    // -1: not fixed by the design (the control stretches in that direction).
    void controlsKeepTheirPlaceWhenResized_data() {
        QTest::addColumn<QSize>("windowSize");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QList<int>>("placement"); // left, top, right, bottom, width, height
        for (const QSize size : {QSize(784, 661), QSize(1100, 800)}) {
            const int grown = size.width() - 784;
            // Between the grid and the lower panel, a splitter's handle; what the window grows by in
            // height goes to both.
            const int handle = 5;
            const bool taller = size.height() > 661;
            const auto row = [&](const char* control, QList<int> placement) {
                QTest::addRow("%dx%d %s", size.width(), size.height(), control)
                    << size << QString::fromLatin1(control) << placement;
            };
            row("PanSearch", {0, 0, 0, -1, -1, 35});
            row("EdtFilter", {7, -1, 28, -1, 749 + grown, -1});
            row("BtnSearch", {-1, -1, 4, -1, 22, 23});
            row("GridFiles", {0, 35, 0, taller ? -1 : 285 + 42 + handle, -1, -1});
            row("PanConfig", {0, -1, 0, 42, -1, taller ? -1 : 285});
            row("GroupBoxS3", {-1, -1, -1, -1, 784 - 12 + grown, -1});
            row("GroupBoxLog", {-1, -1, -1, -1, 784 - 12 + grown, -1});
            row("PanBtn", {0, -1, 0, 0, -1, 42});
            row("BtnConnect", {-1, -1, 8 + 3 * (75 + 6), -1, 75, 25});
            row("BtnRestore", {-1, -1, 8 + 2 * (75 + 6), -1, 75, 25});
            row("BtnStop", {-1, -1, 8 + 75 + 6, -1, 75, 25});
            row("BtnClose", {-1, -1, 8, -1, 75, 25});
        }
    }
    void controlsKeepTheirPlaceWhenResized() {
        QFETCH(QSize, windowSize);
        QFETCH(QString, control);
        QFETCH(QList<int>, placement);
        FForm->resize(windowSize);
        QCOMPARE(FForm->size(), windowSize);
        const QList<int> actual = Placement(control);
        QCOMPARE(actual.size(), placement.size());
        for (qsizetype i = 0; i < placement.size(); ++i) {
            if (placement[i] >= 0)
                QCOMPARE(actual[i], placement[i]);
        }
        // The log box and the progress bar widen with their group; the bar runs under the box.
        const QWidget* log = Control<QPlainTextEdit>(*FForm, "MemoLog");
        const QWidget* bar = Control<QProgressBar>(*FForm, "ProgressBar");
        QCOMPARE(bar->width(), log->width());
        QVERIFY(bar->y() > log->y() + log->height() - 1);
    }

    void gridColumnsAreFixed() {
        const QHeaderView* header = Control<QTableView>(*FForm, "GridFiles")->horizontalHeader();
        QCOMPARE(header->count(), 3);
        QCOMPARE((QList<int>{header->sectionSize(0), header->sectionSize(1), header->sectionSize(2)}),
                 (QList<int>{400, 150, 198}));
        QVERIFY(!header->sectionsMovable());
        for (int section = 0; section < 3; ++section)
            QCOMPARE(header->sectionResizeMode(section), QHeaderView::Fixed);
    }

    // Tab leaves the grid for the next control instead of walking its cells, which would move the
    // selection to another backup on the way.
    void tabWalksTheControlsInTheDesignedOrder() {
        FForm->resize(784, 661);
        QVERIFY(FForm->CdsObject().rowCount() > 1);
        Control<QLineEdit>(*FForm, "EdtFilter")->setFocus();
        QStringList visited{QApplication::focusWidget()->objectName()};
        for (int step = 0; step < 14; ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited,
                 (QStringList{"EdtFilter", "BtnSearch", "GridFiles", "EdtBucket", "EdtTempDir", "BtnTempDir",
                              "EdtDBUsername", "EdtRestoreJobs", "EdtDBHost", "EdtDBPort", "MemoLog",
                              "BtnConnect", "BtnRestore", "BtnClose", "EdtFilter"}));
        QCOMPARE(FForm->CdsObject().FieldAsText(TCatalogueField::Name), QStringLiteral("first.backup"));
    }

    // A taller window gives its extra height to the grid and the log alike; where the splitter between
    // them was left is where the next window puts it.
    void lowerPanelGrowsAndIsRemembered() {
        auto form = FBed.SignedInWindow(FBucket + QStringLiteral("/db"));
        const auto* log = Control<QPlainTextEdit>(*form, "MemoLog");
        const auto* grid = Control<QTableView>(*form, "GridFiles");
        const int designedLog = log->height();
        const int designedGrid = grid->height();
        form->resize(784, 861);
        QVERIFY(log->height() > designedLog + 50);
        QVERIFY(grid->height() > designedGrid + 50);

        auto* splitter = Control<QSplitter>(*form, "SplitterMain");
        splitter->setSizes({splitter->height() - splitter->handleWidth() - 400, 400});
        QCOMPARE(Control<QWidget>(*form, "PanConfig")->height(), 400);
        form->close();
        form = FBed.SignedInWindow(FBucket + QStringLiteral("/db"));
        QCOMPARE(form->size(), QSize(784, 661));
        QCOMPARE(Control<QWidget>(*form, "PanConfig")->height(), 400);
    }

    // The log's menu saves the whole log into the file chosen, and says where.
    void logIsSavedFromItsMenu() {
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("saved log.txt"));
        FForm->Log(QStringLiteral("a line to keep"));
        QString proposed;
        SetNextLogFileAnswer([&](const QString& offered) -> std::optional<QString> {
            proposed = offered;
            return file;
        });
        auto* log = Control<QPlainTextEdit>(*FForm, "MemoLog");
        QTimer::singleShot(0, [] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu);
            auto* save = menu->findChild<QAction*>(QStringLiteral("mniSaveLog"));
            QVERIFY(save);
            save->trigger();
            menu->close();
        });
        const QPoint point(10, 10);
        QContextMenuEvent request(QContextMenuEvent::Mouse, point, log->viewport()->mapToGlobal(point));
        QApplication::sendEvent(log->viewport(), &request);

        QVERIFY2(QFileInfo(proposed).fileName().startsWith(QStringLiteral("Corvane log ")),
                 qPrintable(proposed));
        QFile saved(file);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(saved.readAll());
        QVERIFY2(text.contains(QStringLiteral(": a line to keep\n")), qPrintable(text));
        QCOMPARE(LogMessages(*FForm).constLast(),
                 QStringLiteral("Log saved to ") + QDir::toNativeSeparators(file));
    }

    // Where a window's frame goes so that all of it is on the screen: a frame inside stays; one that
    // crosses an edge moves in; one larger than the screen shrinks to it.
    void windowFitsOnTheScreen_data() {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("fitted");
        const QRect screen(0, 0, 1280, 720);
        QTest::newRow("inside") << QRect(100, 50, 784, 661) << screen << QRect(100, 50, 784, 661);
        QTest::newRow("caption above the screen")
            << QRect(250, -30, 784, 700) << screen << QRect(250, 0, 784, 700);
        QTest::newRow("taller than the screen (150 %, 1366x768)")
            << QRect(-20, -100, 784, 700) << QRect(0, 0, 910, 480) << QRect(0, 0, 784, 480);
        QTest::newRow("past the right and bottom edges")
            << QRect(900, 500, 784, 400) << screen << QRect(496, 320, 784, 400);
        QTest::newRow("second screen, left of the first")
            << QRect(-2000, 10, 784, 661) << QRect(-1920, 0, 1920, 1040) << QRect(-1920, 10, 784, 661);
    }
    void windowFitsOnTheScreen() {
        QFETCH(QRect, frame);
        QFETCH(QRect, available);
        QFETCH(QRect, fitted);
        QCOMPARE(FittedOnScreen(frame, available), fitted);
    }
};

QTEST_MAIN(TestMainWindowLayout)
#include "TestMainWindowLayout.moc"
