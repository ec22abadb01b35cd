#include "core/RegexReplace.h"
#include "support/ErrorOf.h"

#include <QTest>

class TestRegexReplace : public QObject {
    Q_OBJECT

  private slots:
    void replaces_data();
    void replaces();
    void reportsPatternErrors_data();
    void reportsPatternErrors();
};

void TestRegexReplace::replaces_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("expected");

    const QString blanks = QStringLiteral("\\s+");
    const QString restorePattern = QStringLiteral("(\\s+)|(\\-\\d+\\.\\w+)");
    QTest::newRow("inner run") << "Backup 2023" << blanks << "%"
                               << "Backup%2023";
    QTest::newRow("leading and trailing runs") << "  db \t" << blanks << "%"
                                               << "%db%";
    QTest::newRow("the six ASCII blanks") << "a\t\n\v\f\r b" << blanks << "%"
                                          << "a%b";
    QTest::newRow("no-break space is no blank") << "a\u00A0b" << blanks << "%"
                                                << "a\u00A0b";
    QTest::newRow("ideographic space is no blank") << "a\u3000b" << blanks << "%"
                                                   << "a\u3000b";
    QTest::newRow("next line is no blank") << "a\u0085b" << blanks << "%"
                                           << "a\u0085b";
    QTest::newRow("multi-byte text before a match") << "été 2023 ü" << blanks << "%"
                                                    << "été%2023%ü";
    QTest::newRow("astral character before a match") << "x😀 y" << blanks << "%"
                                                     << "x😀%y";
    QTest::newRow("restore name") << "Sales Office-20231118.backup" << restorePattern << ""
                                  << "SalesOffice";
    QTest::newRow("restore name, several dates") << "a-1.b c-22.dd" << restorePattern << ""
                                                 << "ac";
    QTest::newRow("non-ASCII digits are no digits") << "db-١٢٣.backup" << restorePattern << ""
                                                    << "db-١٢٣.backup";
    QTest::newRow("accented letters are no word characters") << "db-1.bäckup" << restorePattern << ""
                                                             << "dbäckup";
    QTest::newRow("no match comes back unchanged") << "plain" << blanks << "%"
                                                   << "plain";
    QTest::newRow("empty input") << "" << blanks << "%"
                                 << "";
    QTest::newRow("empty matches are skipped") << "axxb"
                                               << "x*"
                                               << "-"
                                               << "a-b";
    QTest::newRow("only empty matches") << "abc"
                                        << "x*"
                                        << "-"
                                        << "abc";
    QTest::newRow("matches do not overlap") << "aaa"
                                            << "aa"
                                            << "b"
                                            << "ba";
    QTest::newRow("result is not searched again") << "aab"
                                                  << "ab"
                                                  << "b"
                                                  << "ab";
    QTest::newRow("replacement inserted as it stands") << "ab"
                                                       << "(a)"
                                                       << "$1\\"
                                                       << "$1\\b";
    QTest::newRow("no case folding") << "ABC abc"
                                     << "abc"
                                     << "x"
                                     << "ABC x";
    QTest::newRow("line separator ends a line") << "a\u2028"
                                                << "a$"
                                                << "x"
                                                << "x\u2028";
    QTest::newRow("dot stops at next line") << "a\u0085b"
                                            << "a.b"
                                            << "x"
                                            << "a\u0085b";
    QTest::newRow("dot takes a whole character") << "aéb"
                                                 << "a.b"
                                                 << "x"
                                                 << "x";
}

void TestRegexReplace::replaces() {
    QFETCH(QString, input);
    QFETCH(QString, pattern);
    QFETCH(QString, replacement);
    QFETCH(QString, expected);
    QCOMPARE(ReplaceAll(input, pattern, replacement), expected);
}

void TestRegexReplace::reportsPatternErrors_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("message");

    QTest::newRow("open group") << "(a"
                                << "Error in regular expression at offset 2: missing closing parenthesis";
    QTest::newRow("offset counts bytes of UTF-8")
        << "été)"
        << "Error in regular expression at offset 5: unmatched closing parenthesis";
    QTest::newRow("trailing backslash") << "a\\"
                                        << "Error in regular expression at offset 2: \\ at end of pattern";
}

void TestRegexReplace::reportsPatternErrors() {
    QFETCH(QString, pattern);
    QFETCH(QString, message);
    QCOMPARE(ErrorOf([&] { ReplaceAll(QStringLiteral("text"), pattern, QStringLiteral("x")); }), message);
}

QTEST_GUILESS_MAIN(TestRegexReplace)
#include "TestRegexReplace.moc"
