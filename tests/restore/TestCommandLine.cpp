#include "restore/CommandLine.h"

#include <QTest>

class TestCommandLine : public QObject {
    Q_OBJECT

  private slots:
    void splits_data();
    void splits();
    void joinsWhatSplitGivesBack_data();
    void joinsWhatSplitGivesBack();
};

void TestCommandLine::splits_data() {
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("only blanks") << "  \t " << QStringList{};
    QTest::newRow("blanks and tabs separate") << "--if-exists  -U\tpostgres salesoffice "
                                              << QStringList{"--if-exists", "-U", "postgres", "salesoffice"};
    QTest::newRow("quoted path with blanks")
        << "-U postgres -d sales \"/srv/Sales Office-20231118.backup\""
        << QStringList{"-U", "postgres", "-d", "sales", "/srv/Sales Office-20231118.backup"};
    QTest::newRow("quotes inside an argument") << "a\"b c\"d" << QStringList{"ab cd"};
    QTest::newRow("empty quotes give an empty argument") << "-d \"\" x" << QStringList{"-d", "", "x"};
    QTest::newRow("doubled quote inside quotes") << "\"say \"\"hi\"\"\"" << QStringList{"say \"hi\""};
    QTest::newRow("unclosed quote runs to the end") << "\"a b" << QStringList{"a b"};
    QTest::newRow("backslashes alone stay")
        << "C:\\Backups\\a.backup \\\\srv\\x" << QStringList{"C:\\Backups\\a.backup", "\\\\srv\\x"};
    QTest::newRow("backslash-quote is a literal quote") << "a\\\"b" << QStringList{"a\"b"};
    QTest::newRow("two backslashes then quote") << "\"a\\\\\" b" << QStringList{"a\\", "b"};
    QTest::newRow("three backslashes then quote") << "a\\\\\\\"b" << QStringList{"a\\\"b"};
    QTest::newRow("trailing backslash in quoted path") << "\"C:\\x y\\\\\"" << QStringList{"C:\\x y\\"};
    QTest::newRow("no shell meaning")
        << "$HOME; rm -rf * `id` 'a b'" << QStringList{"$HOME;", "rm", "-rf", "*", "`id`", "'a", "b'"};
}

void TestCommandLine::splits() {
    QFETCH(QString, parameters);
    QFETCH(QStringList, expected);
    QCOMPARE(SplitCommandLine(parameters), expected);
}

void TestCommandLine::joinsWhatSplitGivesBack_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("joined");

    QTest::newRow("plain stay plain")
        << QStringList{"-U", "postgres", "dbname='x'"} << "-U postgres dbname='x'";
    QTest::newRow("empty") << QStringList{"-d", ""} << "-d \"\"";
    QTest::newRow("blank and tab") << QStringList{"Sales Office", "a\tb"} << "\"Sales Office\" \"a\tb\"";
    QTest::newRow("quotes") << QStringList{"say \"hi\"", "\""} << "\"say \\\"hi\\\"\" \"\\\"\"";
    QTest::newRow("backslashes before a quote and at the end")
        << QStringList{"a\\\"b", "C:\\x y\\"} << "\"a\\\\\\\"b\" \"C:\\x y\\\\\"";
    QTest::newRow("backslashes alone stay") << QStringList{"C:\\x\\"} << "C:\\x\\";
}

void TestCommandLine::joinsWhatSplitGivesBack() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, joined);
    QCOMPARE(JoinCommandLine(arguments), joined);
    QCOMPARE(SplitCommandLine(joined), arguments);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "TestCommandLine.moc"
