#include "restore/DatabaseName.h"

#include <QTest>

class TestDatabaseName : public QObject {
    Q_OBJECT

  private slots:
    void derives_data();
    void derives();
};

void TestDatabaseName::derives_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("blank and date") << "Sales Office-20231118.backup"
                                    << "salesoffice";
    QTest::newRow("hyphen then digits then hyphen") << "erp-20231118-0300.backup"
                                                    << "erp-20231118";
    QTest::newRow("word run stops at a dot") << "Inventory-2023.11.18.backup"
                                             << "inventory.18.backup";
    QTest::newRow("short stamp") << "Stock-7.tar.gz"
                                 << "stock.gz";
    QTest::newRow("only ASCII capitals lowered")
        << QStringLiteral("ÁGUA-20231118.backup") << QStringLiteral("Água");
    QTest::newRow("hyphen before a blank") << "a - 1.backup"
                                           << "a-1.backup";
    QTest::newRow("nothing to remove") << "inventory.backup"
                                       << "inventory.backup";
    QTest::newRow("tabs and newlines are white space") << "A\tB\nC"
                                                       << "abc";
    QTest::newRow("may end empty") << "-1.backup"
                                   << "";
}

void TestDatabaseName::derives() {
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(DeriveDatabaseName(name), expected);
}

QTEST_GUILESS_MAIN(TestDatabaseName)
#include "TestDatabaseName.moc"
