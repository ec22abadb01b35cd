#include "catalogue/CatalogueTable.h"
#include "catalogue/FilterExpression.h"
#include "support/ShownNames.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

namespace {

TCatalogueRecord Backup(const QString& name, qint64 sizeMb = 1,
                        const QDateTime& time = QDateTime(QDate(2023, 11, 19), QTime(22, 30),
                                                          Qt::OffsetFromUTC, -10800)) {
    return {name,
            QStringLiteral("2023-11-20T01:30:00.000Z"),
            sizeMb * 1048576,
            QStringLiteral("db/") + name,
            sizeMb,
            time};
}

// A table with the model checker attached, so every change is also checked for consistent signals.
struct TCheckedTable {
    TCatalogueTable Table;
    QAbstractItemModelTester Tester{&Table, QAbstractItemModelTester::FailureReportingMode::QtTest};

    explicit TCheckedTable(const QStringList& names = {}) {
        for (const QString& name : names)
            Table.Append(Backup(name));
    }
};

} // namespace

class TestCatalogueTable : public QObject {
    Q_OBJECT

  private slots:
    void showsThreeColumns();
    void cutsFieldsAtWholeCharacters_data();
    void cutsFieldsAtWholeCharacters();
    void followsTheCurrentRecord();
    void removesTheCurrentRecord_data();
    void removesTheCurrentRecord();
    void refreshesOnceAfterNestedSuspensions();
    void filters();
    void keepsFilteringOffOnParseErrors();
};

void TestCatalogueTable::showsThreeColumns() {
    TCheckedTable checked;
    TCatalogueTable& table = checked.Table;
    table.Append(Backup(QStringLiteral("a.backup"), 1234567));
    table.Append(Backup(QStringLiteral("b.backup"), 0,
                        QDateTime(QDate(2023, 11, 20), QTime(0, 0), Qt::OffsetFromUTC, -10800)));

    QCOMPARE(table.columnCount(), 3);
    QCOMPARE(table.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    QCOMPARE(table.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Size MB"));
    QCOMPARE(table.headerData(2, Qt::Horizontal).toString(), QStringLiteral("LastModified (real time)"));

    QCOMPARE(table.data(table.index(0, 0)).toString(), QStringLiteral("a.backup"));
    QCOMPARE(table.data(table.index(0, 1)).toString(), QStringLiteral("1234567"));
    QCOMPARE(table.data(table.index(0, 1), Qt::TextAlignmentRole).value<Qt::Alignment>() &
                 Qt::AlignHorizontal_Mask,
             Qt::AlignRight);
    QCOMPARE(table.data(table.index(0, 0), Qt::TextAlignmentRole).value<Qt::Alignment>() &
                 Qt::AlignHorizontal_Mask,
             Qt::AlignLeft);
    // The tests run under the C locale; its long time format carries a zone name, which is left out.
    QCOMPARE(table.data(table.index(0, 2)).toString(), QStringLiteral("19 Nov 2023 22:30:00"));
    QCOMPARE(table.data(table.index(1, 2)).toString(), QStringLiteral("20 Nov 2023"));
    QCOMPARE(table.flags(table.index(0, 0)) & Qt::ItemIsEditable, Qt::NoItemFlags);
    QVERIFY(table.flags(table.index(0, 0)) & Qt::ItemIsSelectable);
}

void TestCatalogueTable::cutsFieldsAtWholeCharacters_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expectedText"); // Name and LastModified, 255 bytes
    QTest::addColumn<QString>("expectedPath"); // Path, 2048 bytes

    const QString a254 = QString(254, u'a');
    QTest::newRow("non-ASCII kept") << "Relatório çã 😀 Ω"
                                    << "Relatório çã 😀 Ω"
                                    << "Relatório çã 😀 Ω";
    QTest::newRow("ASCII cut") << QString(300, u'a') << QString(255, u'a') << QString(300, u'a');
    QTest::newRow("exactly 255 bytes")
        << QString(252, u'a') + "€" << QString(252, u'a') + "€" << QString(252, u'a') + "€";
    QTest::newRow("two-byte character across the limit") << a254 + "é" << a254 << a254 + "é";
    QTest::newRow("three-byte character across the limit") << a254 + "€" << a254 << a254 + "€";
    QTest::newRow("four-byte character across the limit")
        << QString(253, u'a') + "😀" << QString(253, u'a') << QString(253, u'a') + "😀";
    QTest::newRow("path cut") << QString(2047, u'a') + "é" << QString(255, u'a') << QString(2047, u'a');
}

void TestCatalogueTable::cutsFieldsAtWholeCharacters() {
    QFETCH(QString, text);
    QFETCH(QString, expectedText);
    QFETCH(QString, expectedPath);
    TCatalogueTable table;
    table.Append({text, text, 1, text, 0, {}});
    const TCatalogueRecord stored = table.RecordAt(0);
    QCOMPARE(stored.Name, expectedText);
    QCOMPARE(stored.LastModified, expectedText);
    QCOMPARE(stored.Path, expectedPath);
    QCOMPARE(table.FieldAsText(TCatalogueField::Name), expectedText);
    QCOMPARE(table.FieldAsText(TCatalogueField::Path), expectedPath);
}

void TestCatalogueTable::followsTheCurrentRecord() {
    TCheckedTable checked;
    TCatalogueTable& table = checked.Table;
    QSignalSpy moved(&table, &TCatalogueTable::CurrentRecordMoved);
    QVERIFY(table.HasNoCurrentRecord());
    QCOMPARE(table.FieldAsText(TCatalogueField::Name), QString());

    table.Append(Backup(QStringLiteral("a")));
    table.Append(Backup(QStringLiteral("b")));
    table.Append(Backup(QStringLiteral("c")));
    QCOMPARE(table.CurrentRow(), 0);
    QCOMPARE(moved.count(), 1); // only the first append made a record current

    table.SetCurrentRow(2);
    QCOMPARE(table.FieldAsText(TCatalogueField::Name), QStringLiteral("c"));
    QCOMPARE(table.FieldAsText(TCatalogueField::Path), QStringLiteral("db/c"));
    QCOMPARE(table.FieldAsText(TCatalogueField::Size), QStringLiteral("1048576"));
    table.SetCurrentRow(-1);
    table.SetCurrentRow(3);
    QCOMPARE(table.CurrentRow(), 2);
    QCOMPARE(moved.count(), 1); // following the grid is not announced back to it

    table.MoveToFirst();
    QCOMPARE(moved.takeLast().at(0).toInt(), 0);
    table.Empty();
    QVERIFY(table.HasNoCurrentRecord());
    QCOMPARE(moved.takeLast().at(0).toInt(), -1);
    QCOMPARE(table.FieldAsText(TCatalogueField::Path), QString());
}

void TestCatalogueTable::removesTheCurrentRecord_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("filter"); // empty: filtering off
    QTest::addColumn<int>("currentRow");
    QTest::addColumn<QStringList>("shownAfter");
    QTest::addColumn<int>("currentAfter");
    QTest::addColumn<QStringList>("allAfter");

    const QStringList abcd{"a1", "b1", "a2", "b2"};
    QTest::newRow("middle row, the next becomes current")
        << abcd << "" << 1 << QStringList{"a1", "a2", "b2"} << 1 << QStringList{"a1", "a2", "b2"};
    QTest::newRow("last row, the previous becomes current")
        << abcd << "" << 3 << QStringList{"a1", "b1", "a2"} << 2 << QStringList{"a1", "b1", "a2"};
    QTest::newRow("only row") << QStringList{"a1"} << "" << 0 << QStringList{} << -1 << QStringList{};
    QTest::newRow("filtered, the hidden records stay")
        << abcd << "lower(Name) like 'b%'" << 0 << QStringList{"b2"} << 0 << QStringList{"a1", "a2", "b2"};
}

void TestCatalogueTable::removesTheCurrentRecord() {
    QFETCH(QStringList, names);
    QFETCH(QString, filter);
    QFETCH(int, currentRow);
    QFETCH(QStringList, shownAfter);
    QFETCH(int, currentAfter);
    QFETCH(QStringList, allAfter);

    TCheckedTable checked(names);
    TCatalogueTable& table = checked.Table;
    if (!filter.isEmpty()) {
        table.SetFilterExpression(filter);
        table.SetFiltered(true);
    }
    table.SetCurrentRow(currentRow);
    QSignalSpy removed(&table, &QAbstractItemModel::rowsRemoved);
    table.RemoveCurrentRecord();

    QCOMPARE(removed.count(), 1);
    QCOMPARE(ShownNames(table), shownAfter);
    QCOMPARE(table.CurrentRow(), currentAfter);
    table.SetFiltered(false);
    QCOMPARE(ShownNames(table), allAfter);
}

void TestCatalogueTable::refreshesOnceAfterNestedSuspensions() {
    TCheckedTable checked({QStringLiteral("old")});
    TCatalogueTable& table = checked.Table;
    QSignalSpy aboutToReset(&table, &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy reset(&table, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&table, &QAbstractItemModel::rowsInserted);
    QSignalSpy moved(&table, &TCatalogueTable::CurrentRecordMoved);
    {
        TCatalogueTable::TViewSuspension outer(table);
        {
            TCatalogueTable::TViewSuspension inner(table);
            table.Empty();
            table.Append(Backup(QStringLiteral("x")));
            table.Append(Backup(QStringLiteral("y")));
        }
        QCOMPARE(reset.count(), 0);
        table.SetCurrentRow(1);
        table.MoveToFirst();
    }
    QCOMPARE(aboutToReset.count(), 1);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(moved.count(), 1);
    QCOMPARE(moved.at(0).at(0).toInt(), 0);
    QCOMPARE(ShownNames(table), (QStringList{"x", "y"}));

    // Not suspended, each change reaches the view at once.
    table.Append(Backup(QStringLiteral("z")));
    QCOMPARE(inserted.count(), 1);
}

void TestCatalogueTable::filters() {
    TCheckedTable checked({"Backup_DB", "other", "db-2023", "Été DB"});
    TCatalogueTable& table = checked.Table;

    table.SetFilterExpression(QStringLiteral("lower(Name) like '%db%'"));
    QVERIFY(!table.IsFiltered());
    QCOMPARE(table.rowCount(), 4); // stored only while filtering is off

    table.SetCurrentRow(3);
    table.SetFiltered(true);
    QCOMPARE(ShownNames(table), (QStringList{"Backup_DB", "db-2023", "Été DB"}));
    QCOMPARE(table.CurrentRow(), 0);

    table.SetFilterExpression(QStringLiteral("lower(Name) like 'été%'"));
    QCOMPARE(ShownNames(table), QStringList{"Été DB"});

    table.Empty();
    table.Append(Backup(QStringLiteral("no match")));
    QVERIFY(table.HasNoCurrentRecord());
    table.Append(Backup(QStringLiteral("ÉTÉ 2024")));
    QCOMPARE(ShownNames(table), QStringList{"ÉTÉ 2024"});
    QCOMPARE(table.CurrentRow(), 0);
    QCOMPARE(table.RecordCount(), 2);

    table.SetFilterExpression(QString());
    QCOMPARE(table.rowCount(), 2); // a blank expression lets everything through
    table.SetFiltered(false);
    QCOMPARE(ShownNames(table), (QStringList{"no match", "ÉTÉ 2024"}));
}

void TestCatalogueTable::keepsFilteringOffOnParseErrors() {
    TCheckedTable checked({"a", "b"});
    TCatalogueTable& table = checked.Table;

    table.SetFilterExpression(QStringLiteral("lower(Name) like '%x'1%'"));
    QVERIFY_THROWS_EXCEPTION(TFilterParseError, table.SetFiltered(true));
    QVERIFY(!table.IsFiltered());
    QCOMPARE(table.rowCount(), 2);

    table.SetFilterExpression(QStringLiteral("lower(Name) like 'a'"));
    table.SetFiltered(true);
    QVERIFY_THROWS_EXCEPTION(TFilterParseError,
                             table.SetFilterExpression(QStringLiteral("lower(Name) like 'b")));
    QCOMPARE(table.FilterExpression(), QStringLiteral("lower(Name) like 'a'"));
    QCOMPARE(ShownNames(table), QStringList{"a"});
}

QTEST_GUILESS_MAIN(TestCatalogueTable)
#include "TestCatalogueTable.moc"
