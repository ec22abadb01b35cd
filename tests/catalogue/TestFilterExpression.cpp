#include "catalogue/FilterExpression.h"

#include <QTest>

class TestFilterExpression : public QObject {
    Q_OBJECT

  private slots:
    void parsesLiteral_data();
    void parsesLiteral();
    void reportsWhereParsingFails_data();
    void reportsWhereParsingFails();
};

// Each row gives an expression, a lower-cased name and whether the parsed filter lets it through; the
// name tells which characters the literal ended up holding.
void TestFilterExpression::parsesLiteral_data() {
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("expected");

    QTest::newRow("plain") << "lower(Name) like '%db%'"
                           << "x_db_y" << true;
    QTest::newRow("names in any letter case") << "LOWER ( name )  LIKE '%db%'"
                                              << "db" << true;
    QTest::newRow("no blanks at all") << "lower(Name)like'db'"
                                      << "db" << true;
    QTest::newRow("doubled quote is one quote") << "lower(Name) like '%o''brien%'"
                                                << "o'brien" << true;
    QTest::newRow("lone quote before a letter belongs to the literal") << "lower(Name) like '%o'brien%'"
                                                                       << "the o'brien file" << true;
    QTest::newRow("lone quote before % belongs to the literal") << "lower(Name) like '%it'%s%'"
                                                                << "it's" << true;
    QTest::newRow("lone quote before a blank and a letter") << "lower(Name) like '%a' b%'"
                                                            << "a' b" << true;
    QTest::newRow("quote stands alone at the end") << "lower(Name) like '%''%'"
                                                   << "'" << true;
    QTest::newRow("literal cut at 255 bytes loses the closing %")
        << "lower(Name) like '%" + QString(254, u'a') + "%'"
        << "x" + QString(254, u'a') << true;
    QTest::newRow("cut literal is anchored at the end")
        << "lower(Name) like '%" + QString(254, u'a') + "%'" << QString(254, u'a') + "x" << false;
    QTest::newRow("cut keeps whole characters") << "lower(Name) like '%" + QString(130, u'é') + "%'"
                                                << "x" + QString(127, u'é') << true;
    QTest::newRow("cut drops the partial character") << "lower(Name) like '%" + QString(130, u'é') + "%'"
                                                     << "x" + QString(126, u'é') << false;
}

void TestFilterExpression::parsesLiteral() {
    QFETCH(QString, expression);
    QFETCH(QString, name);
    QFETCH(bool, expected);
    QCOMPARE(ParseFilterExpression(expression).Matches(name.toUtf8()), expected);
}

void TestFilterExpression::reportsWhereParsingFails_data() {
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("offset");

    const QString invalidPercent = QStringLiteral("Invalid filter expression character: '%'");
    QTest::newRow("quote before a digit ends the literal")
        << "lower(Name) like '%x'1%'" << invalidPercent << 22;
    QTest::newRow("quote before a closing parenthesis and =")
        << "lower(Name) like '%x') =1%'" << invalidPercent << 25;
    QTest::newRow("quote before a comment ends the literal")
        << "lower(Name) like '%x'/*%'" << invalidPercent << 23;
    QTest::newRow("quote before a quoted name ends the literal")
        << "lower(Name) like '%x'\"y%'"
        << "Invalid filter expression character: '\"'" << 21;
    QTest::newRow("quote before a reserved word and a comma") << "lower(Name) like '%x'or(''"
                                                              << "End of filter expression expected" << 21;
    QTest::newRow("unterminated literal") << "lower(Name) like '%db%"
                                          << "Unterminated string constant" << 17;
    QTest::newRow("unterminated after a doubled quote") << "lower(Name) like 'a''"
                                                        << "Unterminated string constant" << 17;
    QTest::newRow("character outside a literal") << "lower(Name) like %" << invalidPercent << 17;
    QTest::newRow("astral character outside a literal") << "lower(Name) 😀"
                                                        << "Invalid filter expression character: '😀'" << 12;
    QTest::newRow("empty expression") << ""
                                      << "'lower' expected" << 0;
    QTest::newRow("other function") << "upper(Name) like 'a'"
                                    << "'lower' expected" << 0;
    QTest::newRow("other field") << "lower(Path) like 'a'"
                                 << "Field 'Path' not found" << 6;
    QTest::newRow("missing parenthesis") << "lower Name) like 'a'"
                                         << "'(' expected" << 6;
    QTest::newRow("other operator") << "lower(Name) = 'a'"
                                    << "'like' expected" << 12;
    QTest::newRow("number instead of a literal") << "lower(Name) like 1"
                                                 << "String constant expected" << 17;
    QTest::newRow("trailing text") << "lower(Name) like 'a' x"
                                   << "End of filter expression expected" << 21;
}

void TestFilterExpression::reportsWhereParsingFails() {
    QFETCH(QString, expression);
    QFETCH(QString, message);
    QFETCH(int, offset);
    try {
        ParseFilterExpression(expression);
        QFAIL("the expression parsed");
    } catch (const TFilterParseError& error) {
        QCOMPARE(QString::fromUtf8(error.what()), message);
        QCOMPARE(error.Offset(), offset);
    }
}

QTEST_GUILESS_MAIN(TestFilterExpression)
#include "TestFilterExpression.moc"
