#include "restore/TargetPath.h"
#include "support/ErrorOf.h"

#include <QDir>
#include <QTest>

class TestTargetPath : public QObject {
    Q_OBJECT

  private slots:
    void joins_data();
    void joins();
    void refuses_data();
    void refuses();
};

// In the expected paths "|" stands for the separator the join adds: "/", on Windows a backslash.
void TestTargetPath::joins_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << "/srv/backups"
                           << "a.backup"
                           << "/srv/backups|a.backup";
    QTest::newRow("folder ends with slash") << "/srv/backups/"
                                            << "a.backup"
                                            << "/srv/backups/a.backup";
    QTest::newRow("folder ends with backslash") << "C:\\Backups\\"
                                                << "a.backup"
                                                << "C:\\Backups\\a.backup";
    QTest::newRow("folder ends with colon") << "C:"
                                            << "a.backup"
                                            << "C:|a.backup";
    QTest::newRow("empty folder: current folder") << ""
                                                  << "a.backup"
                                                  << "a.backup";
    QTest::newRow("empty name: the folder") << "/srv/backups"
                                            << ""
                                            << "/srv/backups";
    QTest::newRow("sub-folder kept") << "/srv"
                                     << "old/x.backup"
                                     << "/srv|old/x.backup";
    QTest::newRow("blank and date") << "/srv"
                                    << "Sales Office-20231118.backup"
                                    << "/srv|Sales Office-20231118.backup";
    QTest::newRow("dots inside names") << "/srv"
                                       << "a..b/..c.backup"
                                       << "/srv|a..b/..c.backup";
    QTest::newRow("nothing trimmed or collapsed") << " /srv//x "
                                                  << " a.backup"
                                                  << " /srv//x | a.backup";
    QTest::newRow("question mark passes") << "/srv"
                                          << "r?sum?.backup"
                                          << "/srv|r?sum?.backup";
}

void TestTargetPath::joins() {
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(TargetPath(folder, name), expected.replace(u'|', QDir::separator()));
}

void TestTargetPath::refuses_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");

    QTest::newRow("double quote in name") << "/srv"
                                          << "a\"b.backup";
    QTest::newRow("less than in folder") << "/srv<"
                                         << "a.backup";
    QTest::newRow("greater than in name") << "/srv"
                                          << "a>b";
    QTest::newRow("pipe in name") << "/srv"
                                  << "a|b";
    QTest::newRow("control character in folder") << "/srv\t"
                                                 << "a.backup";
    QTest::newRow("newline in name") << "/srv"
                                     << "a\nb";
    QTest::newRow("rooted name") << "/srv"
                                 << "/etc/passwd";
    QTest::newRow("rooted name, empty folder") << ""
                                               << "/etc/passwd";
    QTest::newRow("backslash-rooted name") << "/srv"
                                           << "\\x.backup";
    QTest::newRow("drive name") << "/srv"
                                << "C:x.backup";
    QTest::newRow("extended-length name") << "/srv"
                                          << "\\\\?\\C:\\x.backup";
    QTest::newRow("climbing with slashes") << "/srv"
                                           << "../../home/user/.bashrc";
    QTest::newRow("climbing in the middle") << "/srv"
                                            << "db/../../x";
    QTest::newRow("climbing with backslashes") << "/srv"
                                               << "a\\..\\..\\x";
    QTest::newRow("climbing, empty folder") << ""
                                            << "../x.backup";
    QTest::newRow("name is two dots") << "/srv"
                                      << "..";
}

void TestTargetPath::refuses() {
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QCOMPARE(ErrorOf([&] { TargetPath(folder, name); }), QStringLiteral("Invalid characters in path"));
}

QTEST_GUILESS_MAIN(TestTargetPath)
#include "TestTargetPath.moc"
