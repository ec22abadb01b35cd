#include "catalogue/LikePattern.h"

#include <QTest>

class TestLikePattern : public QObject {
    Q_OBJECT

  private slots:
    void matches_data();
    void matches();
};

void TestLikePattern::matches_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    QTest::newRow("contains") << "%db%"
                              << "backup_db_2023" << true;
    QTest::newRow("contains, absent") << "%db%"
                                      << "backup" << false;
    QTest::newRow("runs of % act as one") << "%%db%%"
                                          << "db" << true;
    QTest::newRow("pieces in order") << "%backup%2023%"
                                     << "BACKUP-x-2023" << false;
    QTest::newRow("pieces in order, lower") << "%backup%2023%"
                                            << "db-backup-2023" << true;
    QTest::newRow("pieces out of order") << "%backup%2023%"
                                         << "2023-backup" << false;
    QTest::newRow("anchored at start") << "db%"
                                       << "xdb" << false;
    QTest::newRow("anchored at end") << "%db"
                                     << "dbx" << false;
    QTest::newRow("anchored at end, matches") << "%db"
                                              << "xdbdb" << true;
    QTest::newRow("anchored both ends") << "db"
                                        << "db" << true;
    QTest::newRow("anchored both ends, longer text") << "db"
                                                     << "dbb" << false;
    QTest::newRow("start and end pieces may not overlap") << "ab%ba"
                                                          << "aba" << false;
    QTest::newRow("start and end pieces side by side") << "ab%ba"
                                                       << "abba" << true;
    QTest::newRow("underscore is one character") << "%db_1%"
                                                 << "db-1" << true;
    QTest::newRow("underscore needs a character") << "%db_1%"
                                                  << "db1" << false;
    QTest::newRow("underscore takes a whole non-ASCII character") << "a_b"
                                                                  << "aéb" << true;
    QTest::newRow("underscore takes an astral character") << "a_b"
                                                          << "a😀b" << true;
    QTest::newRow("two underscores are two characters") << "a__b"
                                                        << "aéb" << false;
    QTest::newRow("underscore at the anchored end") << "%é_"
                                                    << "xéé" << true;
    QTest::newRow("underscore at the anchored end, too short") << "%é_"
                                                               << "é" << false;
    QTest::newRow("asterisk is ordinary") << "%*.sql%"
                                          << "db.sql" << false;
    QTest::newRow("asterisk matches itself") << "%*.sql%"
                                             << "x*.sql" << true;
    QTest::newRow("question mark is ordinary") << "%a?%"
                                               << "ab" << false;
    QTest::newRow("escaped percent") << "%abc\\%"
                                     << "xabc%" << true;
    QTest::newRow("escaped percent is anchored") << "%abc\\%"
                                                 << "abc%x" << false;
    QTest::newRow("escaped percent is no wildcard") << "%abc\\%"
                                                    << "abcd" << false;
    QTest::newRow("escaped underscore") << "a\\_b"
                                        << "axb" << false;
    QTest::newRow("escaped underscore matches itself") << "a\\_b"
                                                       << "a_b" << true;
    QTest::newRow("escaped backslash") << "%a\\\\b%"
                                       << "a\\b" << true;
    QTest::newRow("backslash before a letter matches nothing") << "%a\\b%"
                                                               << "ab" << true;
    QTest::newRow("trailing backslash matches nothing") << "ab\\"
                                                        << "ab" << true;
    // A literal cut at its width can end in a backslash right after a "%".
    QTest::newRow("trailing backslash keeps the % before it open") << "ab%\\"
                                                                   << "abc" << true;
    QTest::newRow("comparison is exact") << "%DB%"
                                         << "db" << false;
    QTest::newRow("empty pattern, empty text") << ""
                                               << "" << true;
    QTest::newRow("empty pattern, some text") << ""
                                              << "a" << false;
    QTest::newRow("lone percent, empty text") << "%"
                                              << "" << true;
    QTest::newRow("non-ASCII pieces") << "%çé%ü"
                                      << "xçéyü" << true;

    // Each "%" would double the work of a backtracking matcher; this row finishes at once here.
    const QString manyPieces = QStringLiteral("%a").repeated(60) + QStringLiteral("%b");
    QTest::newRow("many % against a long text") << manyPieces << QString(20000, u'a') << false;
}

void TestLikePattern::matches() {
    QFETCH(QString, pattern);
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(TLikePattern(pattern.toUtf8()).Matches(text.toUtf8()), expected);
}

QTEST_GUILESS_MAIN(TestLikePattern)
#include "TestLikePattern.moc"
