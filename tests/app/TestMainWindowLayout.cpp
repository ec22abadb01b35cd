#include "app/CorvaneForm.h"
#include "catalogue/CatalogueTable.h"
#include "support/AppTestBed.h"
#include "support/Control.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTableView>
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
            const auto row = [&](const char* control, QList<int> placement) {
                QTest::addRow("%dx%d %s", size.width(), size.height(), control)
                    << size << QString::fromLatin1(control) << placement;
            };
            row("PanSearch", {0, 0, 0, -1, -1, 35});
            row("EdtFilter", {7, -1, 28, -1, 749 + grown, -1});
            row("BtnSearch", {-1, -1, 4, -1, 22, 23});
            row("GridFiles", {0, 35, 0, 285 + 42, -1, -1});
            row("PanConfig", {0, -1, 0, 42, -1, 285});
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
};

QTEST_MAIN(TestMainWindowLayout)
#include "TestMainWindowLayout.moc"
