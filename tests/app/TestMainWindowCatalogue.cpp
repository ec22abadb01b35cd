#include "app/CorvaneForm.h"
#include "catalogue/CatalogueTable.h"
#include "support/AppTestBed.h"
#include "support/Control.h"
#include "support/LogMessages.h"
#include "support/ShownNames.h"

#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

// Connect, the grid and the search, driven through the main window against s3rver on loopback.
class TestMainWindowCatalogue : public QObject {
    Q_OBJECT

  private:
    QString FBucket;
    QString FEmptyBucket;

  private slots:
    void initTestCase() {
        TS3TestServer server = TS3TestServer::FromFixture();
        FBucket = TS3TestServer::UniqueBucketName(QStringLiteral("grid"));
        server.CreateBucket(FBucket);
        server.PutObject(FBucket, QStringLiteral("db/"), {});
        server.PutObject(FBucket, QStringLiteral("db/Sales 2023-11.backup"), QByteArray(1048576, 's'));
        server.PutObject(FBucket, QStringLiteral("db/old/"), {});
        server.PutObject(FBucket, QStringLiteral("db/old/inventory.backup"), QByteArray(1572864, 'i'));
        server.PutObject(FBucket, QStringLiteral("db/empty.backup"), {});
        server.PutObject(FBucket, QStringLiteral("db/Ação.backup"), QByteArray(1048575, 'a'));
        server.PutObject(FBucket, QStringLiteral("other/elsewhere.backup"), QByteArray(10, 'o'));
        FEmptyBucket = TS3TestServer::UniqueBucketName(QStringLiteral("grid-empty"));
        server.CreateBucket(FEmptyBucket);
    }

    void connectFillsTheGrid() {
        TAppTestBed bed;
        auto form = bed.SignedInWindow(FBucket + QStringLiteral("/db"));
        // Listing order: keys compared byte by byte.
        QCOMPARE(ShownNames(form->CdsObject()),
                 (QStringList{QStringLiteral("Ação.backup"), QStringLiteral("Sales 2023-11.backup"),
                              QStringLiteral("old/inventory.backup")}));
        const TCatalogueTable& table = form->CdsObject();
        QCOMPARE(table.data(table.index(0, TCatalogueTable::SizeMbColumn)).toString(), QStringLiteral("0"));
        QCOMPARE(table.data(table.index(1, TCatalogueTable::SizeMbColumn)).toString(), QStringLiteral("1"));
        QCOMPARE(table.headerData(2, Qt::Horizontal).toString(), QStringLiteral("LastModified (real time)"));
        QCOMPARE(Control<QTableView>(*form, "GridFiles")->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(table.FieldAsText(TCatalogueField::Path), QStringLiteral("db/Ação.backup"));

        // A click on a row makes it the current record.
        QTableView* grid = Control<QTableView>(*form, "GridFiles");
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(table.index(2, 0)).center());
        QCOMPARE(table.FieldAsText(TCatalogueField::Name), QStringLiteral("old/inventory.backup"));
        QVERIFY(bed.ErrorBoxes.isEmpty());
    }

    // The first click of a double click makes the clicked row current; a left double click anywhere in
    // the grid then restores (here it stops at the missing working folder).
    void doubleClickRestoresTheClickedRow_data() {
        QTest::addColumn<QString>("place");
        QTest::addColumn<int>("row");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<int>("currentRow");
        QTest::addColumn<bool>("restores");
        QTest::newRow("on a row") << "rows" << 2 << Qt::LeftButton << 2 << true;
        QTest::newRow("on the title row") << "titles" << 1 << Qt::LeftButton << 0 << false;
        QTest::newRow("on the row indicator") << "indicator" << 1 << Qt::LeftButton << 1 << true;
        QTest::newRow("with the right button") << "rows" << 2 << Qt::RightButton << 2 << false;
    }
    void doubleClickRestoresTheClickedRow() {
        QFETCH(QString, place);
        QFETCH(int, row);
        QFETCH(Qt::MouseButton, button);
        QFETCH(int, currentRow);
        QFETCH(bool, restores);
        TAppTestBed bed;
        auto form = bed.SignedInWindow(FBucket + QStringLiteral("/db"));
        QTableView* grid = Control<QTableView>(*form, "GridFiles");
        const QRect cell = grid->visualRect(form->CdsObject().index(row, 0));
        QWidget* target = grid->viewport();
        QPoint point = cell.center();
        if (place == QStringLiteral("titles")) {
            target = grid->horizontalHeader()->viewport();
            point = QPoint(cell.center().x(), grid->horizontalHeader()->height() / 2);
        } else if (place == QStringLiteral("indicator")) {
            target = grid->verticalHeader()->viewport();
            point = QPoint(grid->verticalHeader()->width() / 2, cell.center().y());
        }
        // A widget receives a double click as a click followed by the double-click event.
        QTest::mouseClick(target, button, {}, point);
        QTest::mouseDClick(target, button, {}, point);
        QCOMPARE(form->CdsObject().FieldAsText(TCatalogueField::Name),
                 ShownNames(form->CdsObject()).at(currentRow));
        QCOMPARE(bed.ErrorBoxes,
                 restores ? QStringList{QStringLiteral("Invalid temporary directory.")} : QStringList());
    }

    // A right click selects the row under the mouse and opens the menu; a Ctrl+click on the selected
    // row does not leave the grid without a visible selection while a record is current.
    void rightClickSelectsTheRowAndOpensTheMenu() {
        TAppTestBed bed;
        auto form = bed.SignedInWindow(FBucket + QStringLiteral("/db"));
        QTableView* grid = Control<QTableView>(*form, "GridFiles");
        const QPoint point = grid->visualRect(form->CdsObject().index(1, 0)).center();
        QTest::mousePress(grid->viewport(), Qt::RightButton, {}, point);
        QContextMenuEvent menuRequest(QContextMenuEvent::Mouse, point, grid->viewport()->mapToGlobal(point));
        QApplication::sendEvent(grid->viewport(), &menuRequest);
        QTest::mouseRelease(grid->viewport(), Qt::RightButton, {}, point);
        auto* menu = form->findChild<QMenu*>(QStringLiteral("PopupGrid"));
        QTRY_VERIFY(menu->isVisible());
        menu->hide();
        QCOMPARE(form->CdsObject().FieldAsText(TCatalogueField::Name),
                 QStringLiteral("Sales 2023-11.backup"));

        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ControlModifier, point);
        const QModelIndexList selected = grid->selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.first().row(), 1);
        QCOMPARE(form->CdsObject().FieldAsText(TCatalogueField::Name),
                 QStringLiteral("Sales 2023-11.backup"));
    }

    // Below the last row the menu opens as well and leaves the current record as it was.
    void rightClickBelowTheRowsOpensTheMenu() {
        TAppTestBed bed;
        auto form = bed.SignedInWindow(FBucket + QStringLiteral("/db"));
        QTableView* grid = Control<QTableView>(*form, "GridFiles");
        const QPoint below(20, grid->viewport()->height() - 5);
        QVERIFY(!grid->indexAt(below).isValid());
        QContextMenuEvent menuRequest(QContextMenuEvent::Mouse, below, grid->viewport()->mapToGlobal(below));
        QApplication::sendEvent(grid->viewport(), &menuRequest);
        auto* menu = form->findChild<QMenu*>(QStringLiteral("PopupGrid"));
        QTRY_VERIFY(menu->isVisible());
        menu->hide();
        QCOMPARE(form->CdsObject().FieldAsText(TCatalogueField::Name), QStringLiteral("Ação.backup"));
    }

    // Download from the menu of an empty grid has no backup to name: it is refused before anything is
    // asked of the storage, and the folder stays as it was.
    void downloadWithoutACurrentRecordIsRefused() {
        TAppTestBed bed;
        QTemporaryDir working;
        auto form = bed.SignedInWindow(FEmptyBucket + QStringLiteral("/db"), working.path());
        QTableView* grid = Control<QTableView>(*form, "GridFiles");
        const QPoint point(20, 20);
        QContextMenuEvent menuRequest(QContextMenuEvent::Mouse, point, grid->viewport()->mapToGlobal(point));
        QApplication::sendEvent(grid->viewport(), &menuRequest);
        auto* menu = form->findChild<QMenu*>(QStringLiteral("PopupGrid"));
        QTRY_VERIFY(menu->isVisible());
        menu->actions().constFirst()->trigger();
        TAppTestBed::WaitUntilIdle(*form);
        QCOMPARE(bed.ErrorBoxes, QStringList{"The backup has no name."});
        QVERIFY(!Control<QPlainTextEdit>(*form, "MemoLog")
                     ->toPlainText()
                     .contains(QStringLiteral("Downloading")));
        QVERIFY(QDir(working.path()).isEmpty());
    }

    // Both context-menu keys open the menu at the current row.
    void menuKeysOpenTheMenuAtTheCurrentRow_data() {
        QTest::addColumn<Qt::Key>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::newRow("Menu") << Qt::Key_Menu << Qt::KeyboardModifiers();
        QTest::newRow("Shift+F10") << Qt::Key_F10 << Qt::KeyboardModifiers(Qt::ShiftModifier);
    }
    void menuKeysOpenTheMenuAtTheCurrentRow() {
        QFETCH(Qt::Key, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        TAppTestBed bed;
        auto form = bed.SignedInWindow(FBucket + QStringLiteral("/db"));
        QTableView* grid = Control<QTableView>(*form, "GridFiles");
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Down);
        // Through the window, as the keyboard delivers it: the Menu key becomes a menu request there.
        QTest::keyClick(form->windowHandle(), key, modifiers);
        auto* menu = form->findChild<QMenu*>(QStringLiteral("PopupGrid"));
        QTRY_VERIFY(menu->isVisible());
        const QRect row = grid->visualRect(form->CdsObject().index(1, 0));
        QCOMPARE(menu->pos(), grid->viewport()->mapToGlobal(row.bottomLeft()));
        menu->hide();
    }

    void enterSearchesAndABlankSearchShowsAll_data() {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::newRow("Enter") << Qt::KeyboardModifiers();
        QTest::newRow("Shift+Enter") << Qt::KeyboardModifiers(Qt::ShiftModifier);
        QTest::newRow("Ctrl+Enter") << Qt::KeyboardModifiers(Qt::ControlModifier);
    }
    void enterSearchesAndABlankSearchShowsAll() {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        TAppTestBed bed;
        auto form = bed.SignedInWindow(FBucket + QStringLiteral("/db"));
        QLineEdit* filter = Control<QLineEdit>(*form, "EdtFilter");
        filter->setText(QStringLiteral("SALES  11"));
        QTest::keyClick(filter, Qt::Key_Return, modifiers);
        QCOMPARE(ShownNames(form->CdsObject()), QStringList{QStringLiteral("Sales 2023-11.backup")});

        // The filter stays in force through Connect.
        form->BtnConnectClick();
        TAppTestBed::WaitUntilIdle(*form);
        QCOMPARE(ShownNames(form->CdsObject()), QStringList{QStringLiteral("Sales 2023-11.backup")});

        filter->setText(QStringLiteral(" \t"));
        QTest::keyClick(filter, Qt::Key_Enter, modifiers);
        QCOMPARE(ShownNames(form->CdsObject()).size(), 3);
    }

    void strayQuoteInTheSearchIsShownAndEverythingStays() {
        TAppTestBed bed;
        auto form = bed.SignedInWindow(FBucket + QStringLiteral("/db"));
        Control<QLineEdit>(*form, "EdtFilter")->setText(QStringLiteral("x'1"));
        QTest::mouseClick(Control<QToolButton>(*form, "BtnSearch"), Qt::LeftButton);
        QCOMPARE(bed.ErrorBoxes, QStringList{QStringLiteral("Invalid filter expression character: '%'")});
        QCOMPARE(ShownNames(form->CdsObject()).size(), 3);
    }

    void ctrlDeleteRemovesTheSelectedRowUntilTheNextConnect() {
        TAppTestBed bed;
        auto form = bed.SignedInWindow(FBucket + QStringLiteral("/db"));
        QTableView* grid = Control<QTableView>(*form, "GridFiles");
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(ShownNames(form->CdsObject()), (QStringList{QStringLiteral("Sales 2023-11.backup"),
                                                             QStringLiteral("old/inventory.backup")}));
        QTest::mouseClick(Control<QPushButton>(*form, "BtnConnect"), Qt::LeftButton);
        TAppTestBed::WaitUntilIdle(*form);
        QCOMPARE(ShownNames(form->CdsObject()).size(), 3);
    }

    // A bad setting, or a listing that fails, leaves the rows shown; the message says that they may be
    // out of date.
    void badSettingOrUnlistableBucketKeepsTheRows() {
        TAppTestBed bed;
        auto form = bed.SignedInWindow(FBucket + QStringLiteral("/db"));
        Control<QLineEdit>(*form, "EdtBucket")->setText(QStringLiteral("no-folder"));
        QTest::mouseClick(Control<QPushButton>(*form, "BtnConnect"), Qt::LeftButton);
        QCOMPARE(bed.ErrorBoxes, QStringList{QStringLiteral("Invalid bucket configuration.")});
        QCOMPARE(ShownNames(form->CdsObject()).size(), 3);
        QCOMPARE(QApplication::overrideCursor(), nullptr);

        bed.ErrorBoxes.clear();
        Control<QLineEdit>(*form, "EdtBucket")->setText(QStringLiteral("corvane-no-such-bucket/db"));
        QTest::mouseClick(Control<QPushButton>(*form, "BtnConnect"), Qt::LeftButton);
        TAppTestBed::WaitUntilIdle(*form);
        QCOMPARE(bed.ErrorBoxes.size(), 1);
        QVERIFY2(bed.ErrorBoxes.first().contains(QStringLiteral("corvane-no-such-bucket")),
                 qPrintable(bed.ErrorBoxes.first()));
        QVERIFY2(bed.ErrorBoxes.first().contains(QStringLiteral("NoSuchBucket")),
                 qPrintable(bed.ErrorBoxes.first()));
        QVERIFY2(bed.ErrorBoxes.first().endsWith(
                     QStringLiteral("the list shown is that of an earlier Connect and may be out of date.")),
                 qPrintable(bed.ErrorBoxes.first()));
        QCOMPARE(ShownNames(form->CdsObject()).size(), 3);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void emptyFolderShowsNoRowsAndNoMessage() {
        TAppTestBed bed;
        auto form = bed.SignedInWindow(FEmptyBucket + QStringLiteral("/db"));
        QCOMPARE(ShownNames(form->CdsObject()).size(), 0);
        QVERIFY(form->CdsObject().HasNoCurrentRecord());
        QVERIFY(bed.ErrorBoxes.isEmpty());
    }
};

QTEST_MAIN(TestMainWindowCatalogue)
#include "TestMainWindowCatalogue.moc"
