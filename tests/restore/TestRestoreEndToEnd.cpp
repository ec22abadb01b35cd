#include "core/Platform.h"
#include "restore/CommandLine.h"
#include "restore/DatabaseName.h"
#include "restore/DownloadBackup.h"
#include "restore/RestoreSession.h"
#include "support/ErrorOf.h"
#include "support/FakeRestoreHost.h"
#include "support/FileContents.h"
#include "support/FixturePort.h"
#include "support/PgTestCluster.h"
#include "support/S3TestServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

#include <zlib.h>

namespace {

const QString SourceDatabase = QStringLiteral("corvane_e2e_source");
const QString TargetDatabase = QStringLiteral("salesoffice");
const QString BackupName = QStringLiteral("Sales Office-20231118.backup");
const QString GhostRole = QStringLiteral("corvane_e2e_gone");

// Enough rows that an archive cut at 60 % still has its whole table of contents.
const QString SampleSql =
    QStringLiteral("CREATE TABLE customers (id integer PRIMARY KEY, name text NOT NULL);"
                   "CREATE TABLE orders (id integer PRIMARY KEY, customer_id integer REFERENCES customers, "
                   "amount numeric(10,2));"
                   "INSERT INTO customers VALUES (1, 'Ana Lúcia'), (2, 'Bento'), (3, 'Carla \"CJ\" Jardim');"
                   "INSERT INTO orders SELECT g, 1 + g % 3, g / 100.0 FROM generate_series(10, 30000) AS g;");
const QString BackupRows =
    QStringLiteral("SELECT (SELECT string_agg(id || name, ',' ORDER BY id) FROM customers), "
                   "(SELECT count(*) || '/' || sum(amount) FROM orders)");

// The database a restore must leave alone, and the query that shows it row for row.
const QString OldSql = QStringLiteral("CREATE TABLE stale (id integer, note text);"
                                      "INSERT INTO stale VALUES (1, 'before the restore'), (2, 'kept');");
const QString OldRows =
    QStringLiteral("SELECT string_agg(tablename, ',' ORDER BY tablename) FROM pg_tables WHERE schemaname = "
                   "'public' UNION ALL SELECT string_agg(id || note, ',' ORDER BY id) FROM stale");
const QString TemporaryDatabases = QStringLiteral(
    "SELECT string_agg(datname, ',') FROM pg_database WHERE datname ~ '^corvane_(restoring|replaced)_'");

// The file gzipped, as gzip -k makes it (there is no gzip program on Windows).
void GzipFile(const QString& from, const QString& to) {
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        throw TError(QStringLiteral("Cannot read ") + from);
    const QByteArray bytes = source.readAll();
    gzFile packed = gzopen(QFile::encodeName(to).constData(), "wb");
    if (!packed || gzwrite(packed, bytes.constData(), unsigned(bytes.size())) != int(bytes.size()) ||
        gzclose(packed) != Z_OK)
        throw TError(QStringLiteral("Cannot write ") + to);
}

// A command line of the log as the restore writes it here: the program's file name as this system
// spells it ("pg_restore.exe" on Windows).
QString Logged(const QString& commandLine) {
    const qsizetype blank = commandLine.indexOf(u' ');
    return ProgramFileName(commandLine.left(blank)) + commandLine.mid(blank);
}

// A second session that keeps the database in use until the object goes. Its server process is ended
// too: killing psql alone would leave it sleeping, and the database in use, long after this test.
class TOpenSession {
  public:
    TOpenSession(const TPgTestCluster& cluster, const QString& database)
        : FCluster(cluster)
        , FSessions(QStringLiteral("FROM pg_stat_activity WHERE datname = '%1'").arg(database)) {
        FProcess.start(QStringLiteral("psql"),
                       {QStringLiteral("-X"), QStringLiteral("-U"), QString::fromLatin1(TPgTestCluster::User),
                        QStringLiteral("-d"), database, QStringLiteral("-c"),
                        QStringLiteral("SELECT pg_sleep(120)")});
        WaitForSessions(false);
    }
    ~TOpenSession() {
        FCluster.Query(QStringLiteral("postgres"),
                       QStringLiteral("SELECT pg_terminate_backend(pid) ") + FSessions);
        FProcess.kill();
        FProcess.waitForFinished(-1);
        WaitForSessions(true);
    }

  private:
    void WaitForSessions(bool gone) const {
        for (int i = 0; i < 400; ++i) {
            const bool none =
                FCluster.Query(QStringLiteral("postgres"), QStringLiteral("SELECT count(*) ") + FSessions) ==
                QStringLiteral("0");
            if (none == gone)
                return;
            QTest::qWait(25);
        }
    }

    const TPgTestCluster& FCluster;
    QString FSessions;
    QProcess FProcess;
};

} // namespace

// Restores with the real download and the real client programs against the test cluster: the happy path
// with its log, and every way a restore can fail, each leaving the old database row for row as it was.
class TestRestoreEndToEnd : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();
    void restoresTheBackup();
    void fileInTheWorkingFolder_data();
    void fileInTheWorkingFolder();
    void failuresKeepTheOldDatabase_data();
    void failuresKeepTheOldDatabase();
    void serverThatAsksForAPassword();
    void restoresEveryFormat_data();
    void restoresEveryFormat();
    void stopAtEveryMomentOfCreatedb();
    void killedRestoreIsReportedByTheNext_data();
    void killedRestoreIsReportedByTheNext();

  private:
    // Restores the backup of that key into the database of that name (empty: the proposed one), from
    // the storage of the request given (none: the test's bucket).
    QString Restore(const QString& key, TFakeRestoreHost& host, QString database = {},
                    std::optional<TDownloadRequest> storage = {});
    // The download request of the test's bucket, folder "db".
    TDownloadRequest TestStorage() const;

    std::optional<TPgTestCluster> FCluster;
    std::optional<TS3TestServer> FServer;
    QString FBucket;
    QString FSourceRows;
    std::unique_ptr<QTemporaryDir> FWorkingFolder;
};

void TestRestoreEndToEnd::initTestCase() {
    FCluster = TPgTestCluster::FromFixture();
    FServer = TS3TestServer::FromFixture();
    FBucket = TS3TestServer::UniqueBucketName(QStringLiteral("restore"));
    FServer->CreateBucket(FBucket);

    FCluster->CreateDatabase(SourceDatabase, SampleSql);
    FSourceRows = FCluster->Query(SourceDatabase, BackupRows);
    QTemporaryDir dumps;
    const QString dump = dumps.filePath(QStringLiteral("sample.backup"));
    FCluster->Dump(SourceDatabase, dump);
    FServer->PutFile(FBucket, QStringLiteral("db/") + BackupName, dump);
    FServer->PutFile(FBucket, QStringLiteral("db/dbname=sales-20240101.backup"), dump);
    QFile whole(dump);
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    FServer->PutObject(FBucket, QStringLiteral("db/Truncated-20231118.backup"),
                       bytes.left(bytes.size() * 6 / 10));
    // Text would be taken for a plain SQL dump: these bytes are no format at all.
    FServer->PutObject(FBucket, QStringLiteral("db/Broken-20231118.backup"),
                       QByteArray::fromHex("00010203") + "this is not an archive\n");

    // The same database in the other formats pg_dump writes, named so that no name gives the format away.
    const QList<std::pair<QString, QStringList>> formats{
        {QStringLiteral("tar"), {QStringLiteral("-Ft")}},
        {QStringLiteral("plain"), {QStringLiteral("-Fp")}},
        {QStringLiteral("create"), {QStringLiteral("-Fp"), QStringLiteral("--create")}}};
    for (const auto& [name, options] : formats) {
        const QString path = dumps.filePath(name);
        FCluster->Dump(SourceDatabase, path, options);
        FServer->PutFile(FBucket, QStringLiteral("db/Formats-") + name, path);
    }
    GzipFile(dumps.filePath(QStringLiteral("plain")), dumps.filePath(QStringLiteral("plain.gz")));
    FServer->PutFile(FBucket, QStringLiteral("db/Formats-gzip"), dumps.filePath(QStringLiteral("plain.gz")));

    // A dump whose table belongs to a role the server no longer has: pg_restore restores the rows and
    // ignores the one error of giving the table to that role.
    const QString ghost = QStringLiteral("corvane_e2e_ghost");
    FCluster->Query(QStringLiteral("postgres"), QStringLiteral("DROP ROLE IF EXISTS %1").arg(GhostRole));
    FCluster->Query(QStringLiteral("postgres"), QStringLiteral("CREATE ROLE %1").arg(GhostRole));
    FCluster->CreateDatabase(ghost,
                             SampleSql + QStringLiteral("ALTER TABLE orders OWNER TO %1;").arg(GhostRole));
    FCluster->Dump(ghost, dump);
    FCluster->DropDatabase(ghost);
    FCluster->Query(QStringLiteral("postgres"), QStringLiteral("DROP ROLE %1").arg(GhostRole));
    FServer->PutFile(FBucket, QStringLiteral("db/Ghost-20231118.backup"), dump);

    // A backup whose restore takes seconds: the data of a materialized view that sleeps.
    const QString slow = QStringLiteral("corvane_e2e_slow");
    FCluster->CreateDatabase(slow, SampleSql + QStringLiteral("CREATE MATERIALIZED VIEW pause AS "
                                                              "SELECT 1 AS slept FROM pg_sleep(3);"));
    FCluster->Dump(slow, dump);
    FCluster->DropDatabase(slow);
    FServer->PutFile(FBucket, QStringLiteral("db/Slow-20231118.backup"), dump);
}

void TestRestoreEndToEnd::init() {
    FWorkingFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(FWorkingFolder->isValid());
}

void TestRestoreEndToEnd::cleanup() {
    QCOMPARE(FCluster->Query(QStringLiteral("postgres"), TemporaryDatabases), QString());
    QVERIFY(QDir(FWorkingFolder->path()).isEmpty());
}

TDownloadRequest TestRestoreEndToEnd::TestStorage() const {
    TDownloadRequest storage;
    storage.Connection = FServer->ConnectionInfo();
    storage.BucketSetting = FBucket + QStringLiteral("/db");
    return storage;
}

QString TestRestoreEndToEnd::Restore(const QString& key, TFakeRestoreHost& host, QString database,
                                     std::optional<TDownloadRequest> storage) {
    if (!storage)
        storage = TestStorage();
    host.RealDownload = true;
    host.RealPrograms = true;
    const QString name = key.section(u'/', -1);
    if (database.isEmpty())
        database = DeriveDatabaseName(name);
    const TRestoreInput input{FWorkingFolder->path(),
                              {{}, {}, QString::fromLatin1(TPgTestCluster::User), {}},
                              TBackupRecord{name, key},
                              database,
                              1,
                              *storage};
    return ErrorOf([&] { RestoreThroughPhases(input, host); });
}

void TestRestoreEndToEnd::restoresTheBackup() {
    FCluster->CreateDatabase(TargetDatabase, OldSql);
    TFakeRestoreHost host;
    QCOMPARE(Restore(QStringLiteral("db/") + BackupName, host), QString());

    QCOMPARE(FCluster->Query(TargetDatabase, BackupRows), FSourceRows);
    QCOMPARE(FCluster->Query(TargetDatabase, QStringLiteral("SELECT to_regclass('stale') IS NULL")),
             QStringLiteral("t"));
    const QString file = u'"' + JoinNativePath(FWorkingFolder->path(), BackupName) + u'"';
    const QString psql = QStringLiteral("psql -X -q -A -t -v ON_ERROR_STOP=1 -U postgres -w -d postgres -c ");
    const QStringList log = WithoutToken(host.LogLines);
    // The checks before the download: each program's version, run from the path it was found at, then
    // the server as the user.
    const qsizetype downloading = log.indexOf(log.filter(QStringLiteral("Downloading backup")).value(0));
    QVERIFY(downloading > 0);
    const QStringList checks = log.mid(0, downloading);
    QCOMPARE(checks.constFirst(), QStringLiteral("Checking the PostgreSQL client programs"));
    for (const char* program : {"pg_restore", "psql", "createdb", "dropdb"}) {
        const QString name = ProgramFileName(QString::fromLatin1(program));
        const qsizetype at = checks.indexOf(QRegularExpression(
            QStringLiteral("^\"?[^\"]*[/\\\\]%1\"? --version$").arg(QRegularExpression::escape(name))));
        QVERIFY2(at > 0, program);
        QVERIFY2(QFileInfo(SplitCommandLine(checks[at]).constFirst()).isAbsolute(), qPrintable(checks[at]));
        QVERIFY2(checks.value(at + 1).startsWith(
                     QStringLiteral("    %1 (PostgreSQL) ").arg(QLatin1String(program))),
                 qPrintable(checks.value(at + 1)));
    }
    // The server's check is told in words: its query and answer stay out of the log.
    QCOMPARE(checks.value(9), QStringLiteral("Checking database server as user: postgres"));
    QCOMPARE(checks.size(), 10);
    const QString target = JoinNativePath(FWorkingFolder->path(), BackupName);
    QVERIFY2(log[downloading].startsWith(QStringLiteral("Downloading backup \"%1\" (").arg(BackupName)) &&
                 log[downloading].endsWith(QStringLiteral(" MiB) to ") + target),
             qPrintable(log[downloading]));
    QVERIFY2(log[downloading + 1].startsWith(
                 QStringLiteral("Backup \"%1\" saved to %2 (").arg(BackupName, target)) &&
                 log[downloading + 1].endsWith(QStringLiteral(" MiB, MD5 checked)")),
             qPrintable(log[downloading + 1]));
    QStringList expected{
        log[downloading],
        log[downloading + 1],
        "Checking backup file",
        "pg_restore --list -- " + file,
        "Checking database: salesoffice",
        "Checking that \"salesoffice\" can be replaced",
        "Creating database: corvane_restoring_<token> (temporary, for \"salesoffice\")",
        "createdb -U postgres -w -T template0 -O postgres -- corvane_restoring_<token>",
        "Restoring database: corvane_restoring_<token> (temporary, for \"salesoffice\")",
        "pg_restore -U postgres -w --verbose -d dbname='corvane_restoring_<token>' -- " + file,
        "Replacing database: salesoffice",
        psql + "\"BEGIN; ALTER DATABASE \\\"salesoffice\\\" RENAME TO \\\"corvane_replaced_<token>\\\"; "
               "ALTER DATABASE \\\"corvane_restoring_<token>\\\" RENAME TO \\\"salesoffice\\\"; COMMIT\"",
        "The operation has been completed",
        "Dropping database: corvane_replaced_<token> (the old \"salesoffice\")",
        "dropdb -U postgres -w --if-exists --force -- corvane_replaced_<token>"};
    for (QString& line : expected) {
        if (line.front().isLower())
            line = Logged(line);
    }
    QCOMPARE(log.mid(checks.size()), expected);
    // pg_restore's --verbose lines counted every item of the archive and went to no log line.
    QVERIFY(host.RestoreProgress.second > 0);
    QCOMPARE(host.RestoreProgress.first, host.RestoreProgress.second);
}

// A copy of the backup already in the working folder is restored as it is and stays there; another file of
// its name is replaced only when the user answers Replace, and Cancel leaves both it and the database.
void TestRestoreEndToEnd::fileInTheWorkingFolder_data() {
    QTest::addColumn<QString>("there");    // "backup": a finished download of it; "other": another file
    QTest::addColumn<bool>("replaceFile"); // the answer to the question
    QTest::newRow("this backup") << "backup" << false;
    QTest::newRow("another file, Cancel") << "other" << false;
    QTest::newRow("another file, Replace") << "other" << true;
}

void TestRestoreEndToEnd::fileInTheWorkingFolder() {
    QFETCH(QString, there);
    QFETCH(bool, replaceFile);
    FCluster->CreateDatabase(TargetDatabase, OldSql);
    TDownloadRequest request = TestStorage();
    request.ObjectKey = QStringLiteral("db/") + BackupName;
    request.TargetPath = JoinNativePath(FWorkingFolder->path(), BackupName);
    if (there == QStringLiteral("backup"))
        QCOMPARE(DownloadBackup(request, [](const QString&) {}, {}), TDownloadOutcome::Downloaded);
    else
        QVERIFY(WriteFile(request.TargetPath, "other"));
    const QByteArray before = ReadAll(request.TargetPath);
    TFakeRestoreHost host;
    host.ReplaceFile = replaceFile;

    QCOMPARE(Restore(request.ObjectKey, host), QString());

    const bool asked = host.Events.contains(QStringLiteral("replace file ") + request.TargetPath);
    QCOMPARE(asked, there == QStringLiteral("other"));
    const bool restored = there == QStringLiteral("backup") || replaceFile;
    QCOMPARE(FCluster->Query(TargetDatabase, QStringLiteral("SELECT to_regclass('stale') IS NULL")),
             restored ? QStringLiteral("t") : QStringLiteral("f"));
    if (there == QStringLiteral("backup"))
        QVERIFY(!host.LogLines.filter(QStringLiteral("it is not downloaded again")).isEmpty());
    // Only a file the restore downloaded itself goes when it ends.
    QCOMPARE(QFileInfo::exists(request.TargetPath), !replaceFile);
    if (!replaceFile)
        QCOMPARE(ReadAll(request.TargetPath), before);
    RemoveFile(request.TargetPath);
    RemoveFile(RecordFileOf(request.TargetPath));
}

void TestRestoreEndToEnd::failuresKeepTheOldDatabase_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("answer");   // empty: the proposed name is accepted
    QTest::addColumn<QString>("kept");     // the database that must stay as it was
    QTest::addColumn<bool>("keptExists");  // whether it is there before (and after)
    QTest::addColumn<QString>("fault");    // "session", "kill pg_restore", "keep" or nothing
    QTest::addColumn<QString>("error");    // how the error begins; empty: none
    QTest::addColumn<QString>("restored"); // the database that holds the backup afterwards, if any

    const QString sales = QStringLiteral("db/") + BackupName;
    const QString none;
    QTest::newRow("truncated archive")
        << "db/Truncated-20231118.backup" << none << "truncated" << true << none
        << "pg_restore failed with exit code 1: pg_restore: error: " << none;
    QTest::newRow("truncated archive, no database before")
        << "db/Truncated-20231118.backup" << none << "truncated" << false << none
        << "pg_restore failed with exit code 1: pg_restore: error: " << none;
    QTest::newRow("not an archive")
        << "db/Broken-20231118.backup" << none << "broken" << true << none
        << "The backup \"Broken-20231118.backup\" is neither a pg_dump archive nor "
           "a plain SQL dump; no database was changed"
        << none;
    QTest::newRow("damaged on the way")
        << "damaged/5000/" + BackupName << none << TargetDatabase << true << none
        << "The backup \"Sales Office-20231118.backup\" arrived damaged" << none;
    QTest::newRow("database in use")
        << sales << none << TargetDatabase << true << "session"
        << "The database \"salesoffice\" is in use (1 open session(s)), so nothing was downloaded: close the "
           "programs connected to it and restore again"
        << none;
    QTest::newRow("pg_restore killed") << sales << none << TargetDatabase << true << "kill pg_restore"
                                       << "pg_restore ended abnormally" << none;
    QTest::newRow("missing role, discarded")
        << "db/Ghost-20231118.backup" << none << "ghost" << true << none << none << none;
    QTest::newRow("missing role, kept")
        << "db/Ghost-20231118.backup" << none << none << false << "keep" << none << "ghost";
    QTest::newRow("derived name dbname=sales")
        << "db/dbname=sales-20240101.backup" << none << "sales" << true << none << none << "dbname=sales";
    QTest::newRow("URI as name") << sales << "postgresql://localhost/sales?dbname=sales"
                                 << "sales" << true << none << none
                                 << "postgresql://localhost/sales?dbname=sales";
    QTest::newRow("option as name") << sales << "--dbname=sales"
                                    << "sales" << true << none << none << "--dbname=sales";
    QTest::newRow("quotes and backslash") << sales << "sales' \"x\" \\"
                                          << "sales" << true << none << none << "sales' \"x\" \\";
}

void TestRestoreEndToEnd::failuresKeepTheOldDatabase() {
    QFETCH(QString, key);
    QFETCH(QString, answer);
    QFETCH(QString, kept);
    QFETCH(bool, keptExists);
    QFETCH(QString, fault);
    QFETCH(QString, error);
    QFETCH(QString, restored);

    if (!kept.isEmpty())
        FCluster->DropDatabase(kept);
    if (!restored.isEmpty())
        FCluster->DropDatabase(restored);
    if (keptExists)
        FCluster->CreateDatabase(kept, OldSql);
    const QString oldRows = keptExists ? FCluster->Query(kept, OldRows) : QString();

    TFakeRestoreHost host;
    host.Keep = fault == QStringLiteral("keep");
    std::optional<TDownloadRequest> storage;
    if (key.startsWith(QStringLiteral("damaged/"))) {
        storage = TestStorage();
        storage->Connection.StorageEndpoint =
            QStringLiteral("s3.localhost:%1").arg(FixturePort(QStringLiteral("s3_fault_server")));
        storage->BucketSetting = QStringLiteral("b/damaged");
    }
    // pg_restore makes the tables, then is killed before any row arrives.
    if (fault == QStringLiteral("kill pg_restore"))
        host.Steps.insert(QStringLiteral("pg_restore"), [&host](const QString& parameters) {
            const auto log = [&host](const QString& line) { host.Log(line); };
#ifdef Q_OS_WIN
            // The tables, then an end as a crashed program's (an access violation's exit code).
            RunAndWait(PgRestoreProgram, QStringLiteral("--section=pre-data ") + parameters, log);
            return RunAndWait(QStringLiteral("cmd.exe"), QStringLiteral("/c exit -1073741819"), log);
#else
            return RunAndWait(
                QStringLiteral("sh"),
                QStringLiteral("-c \"pg_restore --section=pre-data \\\"$@\\\"; kill -9 $$\" sh ") +
                    parameters,
                log);
#endif
        });

    QString thrown;
    if (fault == QStringLiteral("session")) {
        TOpenSession session(*FCluster, kept);
        thrown = Restore(key, host, answer, storage);
    } else {
        thrown = Restore(key, host, answer, storage);
    }

    if (error.startsWith(QStringLiteral("pg_restore ")))
        error = Logged(error);
    if (error.isEmpty())
        QCOMPARE(thrown, QString());
    else
        QVERIFY2(thrown.startsWith(error), qPrintable(thrown));
    if (!kept.isEmpty()) {
        QVERIFY(FCluster->DatabaseExists(kept) == keptExists);
        if (keptExists)
            QCOMPARE(FCluster->Query(kept, OldRows), oldRows);
    }
    if (!restored.isEmpty()) {
        QCOMPARE(FCluster->Query(restored, BackupRows), FSourceRows);
        FCluster->DropDatabase(restored);
    }
    const bool asked = fault == QStringLiteral("keep") || key.contains(QStringLiteral("Ghost"));
    QCOMPARE(host.Events.filter(QStringLiteral("ask ")).size(), asked ? 1 : 0);
}

// A server elsewhere than the client programs' defaults, which asks for a password: reached through the
// host and port given, the password asked for once and handed to every program in its environment,
// never on a command line; what its template1 holds does not reach the restored database.
void TestRestoreEndToEnd::serverThatAsksForAPassword() {
    const QString secret = QStringLiteral("Corv4ne-db-Secret");
    const QString port = QStringLiteral("54331");
    const auto query = [&](const QString& database, const QString& sql) {
        qputenv("PGPASSWORD", secret.toUtf8());
        const auto forget = qScopeGuard([] { qunsetenv("PGPASSWORD"); });
        return TPgTestCluster::Run(QStringLiteral("psql"),
                                   {QStringLiteral("-X"), QStringLiteral("-A"), QStringLiteral("-t"),
                                    QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                    port, QStringLiteral("-U"), QStringLiteral("postgres"),
                                    QStringLiteral("-d"), database, QStringLiteral("-c"), sql})
            .trimmed();
    };
    query(QStringLiteral("template1"), QStringLiteral("CREATE TABLE IF NOT EXISTS site_marker (x int)"));

    // Every command line seen while the restore runs (Linux shows them in /proc; on Windows the password
    // goes the same way, in the environment).
    std::atomic<bool> restoring = true;
    QStringList commandLines;
    std::thread watcher([&] {
        while (restoring && QFileInfo::exists(QStringLiteral("/proc/self/cmdline"))) {
            for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
                QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
                if (cmdline.open(QIODevice::ReadOnly))
                    commandLines << QString::fromLocal8Bit(cmdline.readAll().replace('\0', ' '));
            }
            QThread::msleep(5);
        }
    });
    TFakeRestoreHost host;
    host.RealDownload = true;
    host.RealPrograms = true;
    host.Password = secret;
    const TRestoreInput input{FWorkingFolder->path(),
                              {QStringLiteral("127.0.0.1"), port, QStringLiteral("postgres"), {}},
                              TBackupRecord{BackupName, QStringLiteral("db/") + BackupName},
                              QStringLiteral("remote_sales"),
                              1,
                              TestStorage()};
    const QString thrown = ErrorOf([&] { RestoreThroughPhases(input, host); });
    restoring = false;
    watcher.join();

    QCOMPARE(thrown, QString());
    QCOMPARE(host.Events.filter(QStringLiteral("password")), QStringList{QStringLiteral("password")});
    QCOMPARE(query(QStringLiteral("remote_sales"), BackupRows), FSourceRows);
    QCOMPARE(
        query(QStringLiteral("remote_sales"), QStringLiteral("SELECT to_regclass('site_marker') IS NULL")),
        QStringLiteral("t"));
    // Corvane's own client programs, the ones given this server's port; the cluster's fixture is given
    // the password to set the server up.
    const QStringList clientLines = commandLines.filter(QStringLiteral(" -p 54331 "));
#ifdef Q_OS_LINUX
    QVERIFY(!clientLines.isEmpty());
#endif
    QCOMPARE(clientLines.filter(secret), QStringList());
    QCOMPARE(host.LogLines.filter(secret), QStringList());
    query(QStringLiteral("postgres"), QStringLiteral("DROP DATABASE remote_sales"));
}

// Every format pg_dump writes, told by content: custom and tar through pg_restore (tar with one job
// whatever the setting), plain and gzipped plain through psql in one transaction; a plain dump that would
// reach another database is refused, and the database of that name stays as it was.
void TestRestoreEndToEnd::restoresEveryFormat_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("jobs");
    QTest::addColumn<QString>("error");  // how it begins; empty: none
    QTest::addColumn<QString>("logged"); // a line the log must hold

    const QString none;
    QTest::newRow("custom, two jobs")
        << "db/" + BackupName << 2 << none
        << "Restoring database: corvane_restoring_<token> (temporary, for \"formats_target\")";
    QTest::newRow("tar, two jobs asked")
        << "db/Formats-tar" << 2 << none
        << "The backup is a tar archive, which pg_restore restores with one job, not 2";
    QTest::newRow("plain") << "db/Formats-plain" << 2 << none
                           << "The backup is a plain SQL dump: psql restores it";
    QTest::newRow("plain, gzipped")
        << "db/Formats-gzip" << 1 << none
        << "The backup is a plain SQL dump compressed with gzip: psql restores it";
    QTest::newRow("plain, reaching other databases")
        << "db/Formats-create" << 1
        << "The backup \"Formats-create\" is a plain SQL dump that creates a database"
        << "Dropping database: corvane_restoring_<token> (temporary, for \"formats_target\")";
}

void TestRestoreEndToEnd::restoresEveryFormat() {
    QFETCH(QString, key);
    QFETCH(int, jobs);
    QFETCH(QString, error);
    QFETCH(QString, logged);
    const QString target = QStringLiteral("formats_target");
    FCluster->CreateDatabase(target, OldSql);
    const QString oldRows = FCluster->Query(target, OldRows);

    TFakeRestoreHost host;
    host.RealDownload = true;
    host.RealPrograms = true;
    const TRestoreInput input{FWorkingFolder->path(),
                              {{}, {}, QString::fromLatin1(TPgTestCluster::User), {}},
                              TBackupRecord{key.section(u'/', -1), key},
                              target,
                              jobs,
                              TestStorage()};
    const QString thrown = ErrorOf([&] { RestoreThroughPhases(input, host); });
    QVERIFY2(WithoutToken(host.LogLines).contains(logged), qPrintable(host.LogLines.join(u'\n')));
    // What the dump's own queries answer stays out of the log.
    QCOMPARE(host.LogLines.filter(QStringLiteral("set_config")), QStringList());
    if (error.isEmpty()) {
        QCOMPARE(thrown, QString());
        QCOMPARE(FCluster->Query(target, BackupRows), FSourceRows);
    } else {
        QVERIFY2(thrown.startsWith(error), qPrintable(thrown));
        QCOMPARE(FCluster->Query(target, OldRows), oldRows);
    }
    FCluster->DropDatabase(target);
}

// Stop at every moment of createdb, from its start to past its end, in steps of a few milliseconds: the
// restore ends as stopped (or, stopped too late, whole), the old database as it was, and no temporary
// database is left, however the stop meets the server's CREATE DATABASE.
void TestRestoreEndToEnd::stopAtEveryMomentOfCreatedb() {
#ifdef Q_OS_WIN
    QSKIP("under Wine a restore stopped early in createdb.exe does not end within the test's time limit; "
          "not yet understood (test_windows_restore stops a running program)");
#endif
    FCluster->CreateDatabase(TargetDatabase, OldSql);
    const QString oldRows = FCluster->Query(TargetDatabase, OldRows);
    QStringList stoppedPrograms;
    for (int delay = 0; delay < 100; delay += 5) {
        TFakeRestoreHost host;
        std::thread stopper;
        host.OnRun = [&host, &stopper, delay](const TProgramWatch&) {
            if (host.Events.constLast() != QStringLiteral("run createdb"))
                return;
            stopper = std::thread([&host, delay] {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                host.Stop.request_stop();
            });
        };
        const QString thrown = Restore(QStringLiteral("db/") + BackupName, host, TargetDatabase);
        if (stopper.joinable())
            stopper.join();
        QCOMPARE(FCluster->Query(QStringLiteral("postgres"), TemporaryDatabases), QString());
        if (thrown.isEmpty()) {
            QCOMPARE(FCluster->Query(TargetDatabase, BackupRows), FSourceRows);
            FCluster->CreateDatabase(TargetDatabase, OldSql);
            continue;
        }
        QVERIFY2(
            thrown.contains(QStringLiteral(" was stopped; the database \"salesoffice\" was not changed")),
            qPrintable(thrown));
        stoppedPrograms << thrown.section(u' ', 0, 0);
        QCOMPARE(FCluster->Query(TargetDatabase, OldRows), oldRows);
    }
    QVERIFY2(stoppedPrograms.contains(CreateDbProgram), qPrintable(stoppedPrograms.join(u' ')));
}

namespace {

// The process of that parent running that program, from /proc (0: none). Its "stat" line is
// "pid (name) state parent ...".
qint64 ChildProgram(qint64 parent, const QString& program) {
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString line = QString::fromLocal8Bit(stat.readAll());
        const qsizetype open = line.indexOf(u'(');
        const qsizetype close = line.lastIndexOf(u')');
        const QStringList rest = line.mid(close + 2).split(u' '); // state, parent, ...
        if (line.mid(open + 1, close - open - 1) == program && rest.size() > 1 &&
            rest[1].toLongLong() == parent)
            return entry.toLongLong();
    }
    return 0;
}

// Whether the process runs: it exists and is not a zombie waiting for its parent.
bool IsRunning(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QString line = QString::fromLocal8Bit(stat.readAll());
    return line.mid(line.lastIndexOf(u')') + 2, 1) != QStringLiteral("Z");
}

} // namespace

// A restore killed midway, as a user's system may kill Corvane: the client program it ran ends with it,
// the named database stays whole (the old one, or the restored one once the swap was made), and the next
// restore reports the temporary database left behind and drops it when the user says so.
void TestRestoreEndToEnd::killedRestoreIsReportedByTheNext_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("killedAt"); // the step at which it is killed
    QTest::addColumn<QString>("leftover"); // what the temporary database left behind is called
    QTest::addColumn<bool>("replaced");    // whether the named database holds the backup afterwards

    QTest::newRow("during pg_restore") << "db/Slow-20231118.backup"
                                       << "pg_restore"
                                       << "corvane_restoring_" << false;
    QTest::newRow("before the swap") << "db/" + BackupName << "swap"
                                     << "corvane_restoring_" << false;
    QTest::newRow("after the swap, before the drop") << "db/" + BackupName << "drop replaced"
                                                     << "corvane_replaced_" << true;
}

void TestRestoreEndToEnd::killedRestoreIsReportedByTheNext() {
#ifndef Q_OS_LINUX
    QSKIP("looks at the processes through /proc");
#endif
    QFETCH(QString, key);
    QFETCH(QString, killedAt);
    QFETCH(QString, leftover);
    QFETCH(bool, replaced);
    FCluster->CreateDatabase(TargetDatabase, OldSql);
    const QString oldRows = FCluster->Query(TargetDatabase, OldRows);

    // The restore waits to be killed at the step, except pg_restore, which is killed as it runs.
    const bool duringProgram = killedAt == QStringLiteral("pg_restore");
    QTemporaryDir workingFolder;
    QProcess restore;
    restore.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    restore.start(QStringLiteral(CORVANE_KILLABLE_RESTORE),
                  {FBucket + QStringLiteral("/db"), key, workingFolder.path(), TargetDatabase,
                   duringProgram ? QStringLiteral("none") : killedAt});
    for (QByteArray steps; !steps.split('\n').contains(killedAt.toUtf8());
         steps += restore.readAllStandardOutput())
        QVERIFY2(restore.waitForReadyRead(60000), "the restore ended early (its messages are above)");
    qint64 program = 0;
    if (duringProgram) {
        QTRY_VERIFY_WITH_TIMEOUT((program = ChildProgram(restore.processId(), killedAt)) != 0, 10000);
    }
    restore.kill();
    QVERIFY(restore.waitForFinished(10000));
    if (program != 0)
        QTRY_VERIFY_WITH_TIMEOUT(!IsRunning(program), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(FCluster->Query(QStringLiteral("postgres"),
                                              QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE "
                                                             "datname ~ '^corvane_(restoring|replaced)_'")),
                              QStringLiteral("0"), 15000);
    if (replaced)
        QCOMPARE(FCluster->Query(TargetDatabase, BackupRows), FSourceRows);
    else
        QCOMPARE(FCluster->Query(TargetDatabase, OldRows), oldRows);

    TFakeRestoreHost host;
    host.DropLeftovers = true;
    QCOMPARE(Restore(QStringLiteral("db/") + BackupName, host, TargetDatabase), QString());
    const QStringList reported = host.Events.filter(QStringLiteral("leftovers "));
    QCOMPARE(reported.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^leftovers %1[0-9a-f]{12}$").arg(leftover))
                 .match(reported.constFirst())
                 .hasMatch(),
             qPrintable(reported.constFirst()));
    QCOMPARE(FCluster->Query(TargetDatabase, BackupRows), FSourceRows);
}

QTEST_GUILESS_MAIN(TestRestoreEndToEnd)
#include "TestRestoreEndToEnd.moc"
