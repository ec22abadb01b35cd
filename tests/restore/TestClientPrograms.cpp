#include "core/Platform.h"
#include "restore/ClientPrograms.h"
#include "restore/RestoreSession.h"
#include "support/ErrorOf.h"
#include "support/FakeRestoreHost.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

const TBackupRecord SalesOffice{QStringLiteral("Sales Office-20231118.backup"),
                                QStringLiteral("db/Sales Office-20231118.backup")};
const QStringList ClientProgramNames{"pg_restore", "psql", "createdb", "dropdb"};

// An empty file that counts as a program: executable, and named as this system names programs.
void PlantProgram(const QString& folder, const QString& baseName) {
    QVERIFY(QDir().mkpath(folder));
    QFile program(QDir(folder).filePath(ProgramFileName(baseName)));
    QVERIFY(program.open(QIODevice::WriteOnly));
    QVERIFY(program.setPermissions(program.permissions() | QFileDevice::ExeOwner));
}

} // namespace

// Where the PostgreSQL client programs are found, and that the restore starts them from there.
class TestClientPrograms : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        FRoot = std::make_unique<QTemporaryDir>();
        QVERIFY(FRoot->isValid());
        for (const char* version : {"9.6", "16", "10", "notes", "17beta1"})
            QVERIFY(QDir().mkpath(Root(QStringLiteral("%1/bin").arg(QLatin1String(version)))));
    }
    void cleanup() { qunsetenv(qPrintable(ClientProgramFolderVariable)); }

    void folderOrder_data() {
        QTest::addColumn<QString>("override");
        QTest::addColumn<QStringList>("path");
        QTest::addColumn<bool>("registered");
        QTest::addColumn<QStringList>("expected");

        const QStringList versions{"<root>/16/bin", "<root>/10/bin", "<root>/9.6/bin"};
        const QStringList path{"<root>/opt", ".", "relative/bin", "<root>/usr"};
        const QStringList absolute{"<root>/opt", "<root>/usr"};
#ifdef Q_OS_WIN
        const QStringList installedThenPath = versions + absolute;
        const QStringList withRegistered =
            QStringList{"<root>/16/bin", "C:/PG/12/bin", "<root>/10/bin", "<root>/9.6/bin"} + absolute;
#else
        const QStringList installedThenPath = absolute + versions;
        const QStringList withRegistered =
            absolute + QStringList{"<root>/16/bin", "C:/PG/12/bin", "<root>/10/bin", "<root>/9.6/bin"};
#endif
        QTest::newRow("newest major first, no relative PATH entry")
            << QString() << path << false << installedThenPath;
        QTest::newRow("registered installations among the versions")
            << QString() << path << true << withRegistered;
        QTest::newRow("the named folder alone")
            << "<root>/pg15" << path << true << QStringList{"<root>/pg15"};
        QTest::newRow("only relative PATH entries") << QString() << QStringList{".", ""} << false << versions;
    }

    void folderOrder() {
        QFETCH(QString, override);
        QFETCH(QStringList, path);
        QFETCH(bool, registered);
        QFETCH(QStringList, expected);
        TClientProgramSearch search;
        search.Override = override.replace(QStringLiteral("<root>"), FRoot->path());
        search.Path = path.replaceInStrings(QStringLiteral("<root>"), FRoot->path());
        search.VersionRoots << FRoot->path();
        if (registered)
            search.Registered.append({QStringLiteral("C:/PG/12"), QStringLiteral("12.3")});
        for (QString& folder : expected)
            folder.replace(QStringLiteral("<root>"), FRoot->path());
        QCOMPARE(ClientProgramFolders(search), expected);
    }

    // The first folder that holds the program, as a full native path; a file without the right to run
    // it is no program.
    void findsTheFirstFolderHoldingIt() {
        PlantProgram(Root("a"), QStringLiteral("pg_dump"));
        PlantProgram(Root("b"), QStringLiteral("psql"));
        PlantProgram(Root("c"), QStringLiteral("psql"));
        const QStringList folders{Root("missing"), Root("a"), Root("b"), Root("c")};
        QCOMPARE(FindClientProgram(folders, ProgramFileName(QStringLiteral("psql"))),
                 QDir::toNativeSeparators(Root("b/") + ProgramFileName(QStringLiteral("psql"))));
        QCOMPARE(FindClientProgram(folders, ProgramFileName(QStringLiteral("dropdb"))), QString());
#ifndef Q_OS_WIN
        QFile plain(Root("a/psql"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        QCOMPARE(FindClientProgram(folders, QStringLiteral("psql")), Root("b/psql"));
#endif
    }

    // Missing programs end the restore before the download, saying what to install.
    void missingProgramStopsBeforeTheDownload() {
        PlantProgram(Root("partial"), QStringLiteral("pg_restore"));
        qputenv(qPrintable(ClientProgramFolderVariable), QDir::toNativeSeparators(Root("partial")).toUtf8());
        TFakeRestoreHost host;
        QCOMPARE(ErrorOf([&] { RestoreThroughPhases(Input(), host); }),
                 ProgramFileName(QStringLiteral("psql")) +
                     QStringLiteral(" was not found, so nothing was downloaded: ") +
                     MissingClientProgramAdvice());
        QCOMPARE(host.Events, QStringList{"run program version"});
    }

    // Every program of the restore starts from the folder found, and the version check logs its path.
    void programsStartFromTheFolderFound() {
        for (const QString& name : ClientProgramNames)
            PlantProgram(Root("pg bin"), name);
        qputenv(qPrintable(ClientProgramFolderVariable), QDir::toNativeSeparators(Root("pg bin")).toUtf8());
        TFakeRestoreHost host;
        QStringList started;
        host.OnRun = [&](const TProgramWatch& watch) { started << watch.Executable; };
        RestoreThroughPhases(Input(), host);

        const auto path = [this](const QString& name) {
            return QDir::toNativeSeparators(Root("pg bin/") + ProgramFileName(name));
        };
        QCOMPARE(started.mid(0, 4),
                 (QStringList{path("pg_restore"), path("psql"), path("createdb"), path("dropdb")}));
        QCOMPARE(host.LogLines.value(1), u'"' + path("pg_restore") + QStringLiteral("\" --version"));
        QVERIFY(!started.contains(QString()));
        QVERIFY(started.contains(path("psql")));
    }

#ifdef Q_OS_WIN
    // On Windows the installer's registry entries and %ProgramFiles%\PostgreSQL come before PATH.
    void systemSearchOnWindows() {
        const QString key = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\Installations");
        const QString programFiles =
            QDir::fromNativeSeparators(qEnvironmentVariable("ProgramFiles")) + QStringLiteral("/PostgreSQL");
        const auto cleanUp = qScopeGuard([&] {
            QSettings(key, QSettings::Registry64Format).remove(QStringLiteral("corvane-test-13"));
            QDir(programFiles + QStringLiteral("/99")).removeRecursively();
        });
        {
            QSettings installations(key, QSettings::Registry64Format);
            installations.setValue(QStringLiteral("corvane-test-13/Base Directory"),
                                   QDir::toNativeSeparators(Root("pg13")));
            installations.setValue(QStringLiteral("corvane-test-13/Version"), QStringLiteral("13.4"));
        }
        PlantProgram(Root("pg13/bin"), QStringLiteral("psql"));
        PlantProgram(programFiles + QStringLiteral("/99/bin"), QStringLiteral("pg_restore"));
        PlantProgram(Root("on path"), QStringLiteral("pg_restore"));
        PlantProgram(Root("on path"), QStringLiteral("psql"));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QDir::toNativeSeparators(Root("on path")).toUtf8() + ';' + path);
        const auto restorePath = qScopeGuard([&] { qputenv("PATH", path); });

        const QStringList folders = ClientProgramFolders(SystemClientProgramSearch());
        QCOMPARE(FindClientProgram(folders, QStringLiteral("pg_restore.exe")),
                 QDir::toNativeSeparators(programFiles + QStringLiteral("/99/bin/pg_restore.exe")));
        QCOMPARE(FindClientProgram(folders, QStringLiteral("psql.exe")),
                 QDir::toNativeSeparators(Root("pg13/bin/psql.exe")));
    }
#endif

  private:
    QString Root(const char* name) const {
        return FRoot->filePath(QString::fromUtf8(name));
    }
    QString Root(const QString& name) const {
        return FRoot->filePath(name);
    }
    TRestoreInput Input() const {
        return {FRoot->path(),
                {{}, {}, QStringLiteral("postgres"), {}},
                SalesOffice,
                QStringLiteral("sales"),
                1,
                {}};
    }

    std::unique_ptr<QTemporaryDir> FRoot;
};

QTEST_GUILESS_MAIN(TestClientPrograms)
#include "TestClientPrograms.moc"
