#include "catalogue/CatalogueSearch.h"
#include "catalogue/FilterExpression.h"
#include "support/ErrorOf.h"
#include "support/ShownNames.h"

#include <QTest>

namespace {

void Fill(TCatalogueTable& table, const QStringList& names) {
    for (const QString& name : names)
        table.Append({name, QStringLiteral("2023-11-20T01:30:00.000Z"), 1, name, 0, {}});
}

} // namespace

class TestCatalogueSearch : public QObject {
    Q_OBJECT

  private slots:
    void formsTheExpression_data();
    void formsTheExpression();
    void narrowsTheCatalogue_data();
    void narrowsTheCatalogue();
    void showsEverythingForBlankText_data();
    void showsEverythingForBlankText();
    void showsEverythingWhenTheFilterDoesNotParse();
    void searchesAnEmptyCatalogue();
};

void TestCatalogueSearch::formsTheExpression_data() {
    QTest::addColumn<QString>("searchText");
    QTest::addColumn<QString>("expression");

    QTest::newRow("blank run") << "Backup 2023"
                               << "lower(Name) like '%backup%2023%'";
    QTest::newRow("leading and trailing runs") << "  db\t"
                                               << "lower(Name) like '%%db%%'";
    QTest::newRow("quotes inserted as they stand") << "o'brien"
                                                   << "lower(Name) like '%o'brien%'";
    QTest::newRow("no-break space kept") << "a\u00A0B"
                                         << "lower(Name) like '%a\u00A0b%'";
}

void TestCatalogueSearch::formsTheExpression() {
    QFETCH(QString, searchText);
    QFETCH(QString, expression);
    QCOMPARE(SearchFilterExpression(searchText), expression);
}

void TestCatalogueSearch::narrowsTheCatalogue_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("searchText");
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("blanks stand for any run")
        << QStringList{"backup_db_2023-11.sql", "BACKUP-x-2023", "db-backup-2023", "2023-backup"}
        << "Backup 2023" << QStringList{"backup_db_2023-11.sql", "BACKUP-x-2023", "db-backup-2023"};
    QTest::newRow("blanks around the text")
        << QStringList{"a-db-b", "ADB", "xd-b"} << "  db " << QStringList{"a-db-b", "ADB"};
    QTest::newRow("typed percent sign")
        << QStringList{"ab", "xaxxbx", "ba"} << "a%b" << QStringList{"ab", "xaxxbx"};
    QTest::newRow("underscore is any one character") << QStringList{"db_1", "db-1", "dbx1", "db1", "db__1"}
                                                     << "db_1" << QStringList{"db_1", "db-1", "dbx1"};
    QTest::newRow("asterisk is ordinary")
        << QStringList{"x*.sql", "y.sql", "*.sql.gz"} << "*.sql" << QStringList{"x*.sql", "*.sql.gz"};
    QTest::newRow("backslash makes the next character ordinary")
        << QStringList{"ab", "a\\b", "xaby"} << "a\\b" << QStringList{"ab", "xaby"};
    QTest::newRow("trailing backslash keeps the closing percent")
        << QStringList{"abc", "abc%", "xabc%", "abc%x"} << "abc\\" << QStringList{"abc%", "xabc%"};
    QTest::newRow("doubled quote") << QStringList{"o'brien.backup", "O'Brien", "obrien"} << "o''brien"
                                   << QStringList{"o'brien.backup", "O'Brien"};
    QTest::newRow("single quote") << QStringList{"o'brien.backup", "O'Brien", "obrien"} << "o'brien"
                                  << QStringList{"o'brien.backup", "O'Brien"};
    QTest::newRow("no-break space must be in the name")
        << QStringList{"a b", "a\u00A0b", "ab", "xa\u00A0bx"} << "a\u00A0b"
        << QStringList{"a\u00A0b", "xa\u00A0bx"};
    QTest::newRow("non-ASCII letters in either case")
        << QStringList{"ÇA VA", "ça va", "ca va"} << "ÇA" << QStringList{"ÇA VA", "ça va"};
    QTest::newRow("dotted capital I")
        << QStringList{"İstanbul", "ISTANBUL", "ıstanbul"} << "İst" << QStringList{"İstanbul", "ISTANBUL"};
    QTest::newRow("long text loses its closing percent")
        << QStringList{"x" + QString(254, u'a'), QString(254, u'a') + "x"} << QString(260, u'a')
        << QStringList{"x" + QString(254, u'a')};
    QTest::newRow("no hits") << QStringList{"a", "b"} << "c" << QStringList{};
}

void TestCatalogueSearch::narrowsTheCatalogue() {
    QFETCH(QStringList, names);
    QFETCH(QString, searchText);
    QFETCH(QStringList, shown);

    TCatalogueTable table;
    Fill(table, names);
    SearchCatalogue(table, searchText);
    QCOMPARE(ShownNames(table), shown);
    QVERIFY(table.IsFiltered());
    QCOMPARE(table.CurrentRow(), shown.isEmpty() ? -1 : 0);
}

void TestCatalogueSearch::showsEverythingForBlankText_data() {
    QTest::addColumn<QString>("searchText");
    QTest::newRow("empty") << "";
    QTest::newRow("blanks and tabs") << " \t ";
    QTest::newRow("control characters") << "\x01\x1f";
}

void TestCatalogueSearch::showsEverythingForBlankText() {
    QFETCH(QString, searchText);
    TCatalogueTable table;
    Fill(table, {"a", "b", "c"});
    SearchCatalogue(table, QStringLiteral("b"));
    QCOMPARE(ShownNames(table), QStringList{"b"});

    table.SetCurrentRow(0);
    SearchCatalogue(table, searchText);
    QVERIFY(!table.IsFiltered());
    QCOMPARE(ShownNames(table), (QStringList{"a", "b", "c"}));
    QCOMPARE(table.CurrentRow(), 0);
}

void TestCatalogueSearch::showsEverythingWhenTheFilterDoesNotParse() {
    TCatalogueTable table;
    Fill(table, {"x1", "x'1", "y"});
    SearchCatalogue(table, QStringLiteral("y"));
    QCOMPARE(ErrorOf([&] { SearchCatalogue(table, QStringLiteral("x'1")); }),
             QStringLiteral("Invalid filter expression character: '%'"));
    QVERIFY(!table.IsFiltered());
    QCOMPARE(ShownNames(table), (QStringList{"x1", "x'1", "y"}));
    QCOMPARE(table.CurrentRow(), 0);
}

void TestCatalogueSearch::searchesAnEmptyCatalogue() {
    TCatalogueTable table;
    SearchCatalogue(table, QStringLiteral("db"));
    QVERIFY(table.IsFiltered());
    QVERIFY(table.HasNoCurrentRecord());
    Fill(table, {"db1", "x"});
    QCOMPARE(ShownNames(table), QStringList{"db1"});
}

QTEST_GUILESS_MAIN(TestCatalogueSearch)
#include "TestCatalogueSearch.moc"
