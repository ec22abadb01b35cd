#include "core/ShortName.h"
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
    void refusesWhatWindowsCannotHold_data();
    void refusesWhatWindowsCannotHold();
    void cutsLongNamesApart();
};

// In the expected paths "|" stands for the separator the join adds: "/", on Windows a backslash, and
// "<hash>" for the name's short hash.
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
    QTest::newRow("sub-folder made flat") << "/srv"
                                          << "old/x.backup"
                                          << "/srv|old_x~<hash>.backup";
    QTest::newRow("backslash sub-folder made flat") << "/srv"
                                                    << "old\\x.backup"
                                                    << "/srv|old_x~<hash>.backup";
    QTest::newRow("sub-folder without extension") << "/srv"
                                                  << "sub/notes"
                                                  << "/srv|sub_notes~<hash>";
    QTest::newRow("blank and date") << "/srv"
                                    << "Sales Office-20231118.backup"
                                    << "/srv|Sales Office-20231118.backup";
    QTest::newRow("dots inside names") << "/srv"
                                       << "a..b/..c.backup"
                                       << "/srv|a..b_..c~<hash>.backup";
    QTest::newRow("nothing trimmed or collapsed") << " /srv//x "
                                                  << " a.backup"
                                                  << " /srv//x | a.backup";
}

void TestTargetPath::joins() {
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    expected.replace(u'|', QDir::separator());
    expected.replace(QStringLiteral("<hash>"), QString::fromLatin1(ShortHash(name.toUtf8())));
    QCOMPARE(TargetPath(folder, name), expected);
}

void TestTargetPath::refuses_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("error");

    const QString invalid = QStringLiteral("Invalid characters in path");
    QTest::newRow("less than in folder") << "/srv<"
                                         << "a.backup" << invalid;
    QTest::newRow("control character in folder") << "/srv\t"
                                                 << "a.backup" << invalid;
    QTest::newRow("rooted name") << "/srv"
                                 << "/etc/passwd" << invalid;
    QTest::newRow("rooted name, empty folder") << ""
                                               << "/etc/passwd" << invalid;
    QTest::newRow("backslash-rooted name") << "/srv"
                                           << "\\x.backup" << invalid;
    QTest::newRow("drive name") << "/srv"
                                << "C:x.backup" << invalid;
    QTest::newRow("extended-length name") << "/srv"
                                          << "\\\\?\\C:\\x.backup" << invalid;
    QTest::newRow("climbing with slashes") << "/srv"
                                           << "../../home/user/.bashrc" << invalid;
    QTest::newRow("climbing in the middle") << "/srv"
                                            << "db/../../x" << invalid;
    QTest::newRow("climbing with backslashes") << "/srv"
                                               << "a\\..\\..\\x" << invalid;
    QTest::newRow("climbing, empty folder") << ""
                                            << "../x.backup" << invalid;
    QTest::newRow("name is two dots") << "/srv"
                                      << ".." << invalid;
    QTest::newRow("empty name") << "/srv"
                                << ""
                                << "The backup has no name";
}

void TestTargetPath::refuses() {
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, error);
    QCOMPARE(ErrorOf([&] { TargetPath(folder, name); }), error);
}

// One rule on every system: a name Windows could not hold as a file is refused before anything is
// written, wherever Corvane runs.
void TestTargetPath::refusesWhatWindowsCannotHold_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("why");

    const auto character = [](QChar c) {
        return QStringLiteral("\"%1\" is not allowed in file names on Windows").arg(c);
    };
    QTest::newRow("colon: an alternate data stream") << "a.backup:stream" << character(u':');
    QTest::newRow("asterisk") << "a*.backup" << character(u'*');
    QTest::newRow("question mark") << "r?sum?.backup" << character(u'?');
    QTest::newRow("double quote") << "a\"b.backup" << character(u'"');
    QTest::newRow("less than") << "a<b" << character(u'<');
    QTest::newRow("greater than") << "a>b" << character(u'>');
    QTest::newRow("pipe") << "a|b" << character(u'|');
    QTest::newRow("pipe in a sub-folder") << "s|b/a.backup" << character(u'|');
    QTest::newRow("newline") << "a\nb"
                             << "it holds a control character";
    QTest::newRow("trailing dot") << "a.backup."
                                  << "\"a.backup.\" ends with a dot or a space, which Windows drops";
    QTest::newRow("trailing space") << "a.backup "
                                    << "\"a.backup \" ends with a dot or a space, which Windows drops";
    QTest::newRow("sub-folder ending with a dot")
        << "sub./a.backup"
        << "\"sub.\" ends with a dot or a space, which Windows drops";
    QTest::newRow("device NUL") << "NUL"
                                << "\"NUL\" names a device on Windows";
    QTest::newRow("device con, lower case") << "con"
                                            << "\"con\" names a device on Windows";
    QTest::newRow("device with an extension") << "COM1.backup"
                                              << "\"COM1.backup\" names a device on Windows";
    QTest::newRow("device LPT9") << "LPT9.tar"
                                 << "\"LPT9.tar\" names a device on Windows";
    QTest::newRow("device as a sub-folder") << "aux/a.backup"
                                            << "\"aux\" names a device on Windows";
}

void TestTargetPath::refusesWhatWindowsCannotHold() {
    QFETCH(QString, name);
    QFETCH(QString, why);
    QCOMPARE(ErrorOf([&] { TargetPath(QStringLiteral("/srv"), name); }),
             QStringLiteral("The backup name \"%1\" cannot be a file name: %2").arg(name, why));
}

// Names that are not devices although they start like one pass, and so do long names, cut apart.
void TestTargetPath::cutsLongNamesApart() {
    for (const QString& name : {QStringLiteral("COM10.backup"), QStringLiteral("CONSOLE.backup"),
                                QStringLiteral("LPT.backup"), QStringLiteral("nul-2023.backup")})
        QCOMPARE(LocalFileName(name), name);

    const QString start(240, u'\u00e9'); // two bytes each in UTF-8
    const QString first = LocalFileName(start + QStringLiteral("1.backup"));
    const QString second = LocalFileName(start + QStringLiteral("2.backup"));
    QVERIFY(first != second);
    for (const QString& name : {first, second}) {
        QVERIFY2(name.toUtf8().size() <= LocalNameBytes, qPrintable(name));
        QVERIFY2(name.startsWith(start.left(100)) && name.endsWith(QStringLiteral(".backup")),
                 qPrintable(name));
    }
}

QTEST_GUILESS_MAIN(TestTargetPath)
#include "TestTargetPath.moc"
