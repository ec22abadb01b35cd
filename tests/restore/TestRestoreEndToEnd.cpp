#include "restore/DownloadBackup.h"
#include "restore/RestoreSequence.h"
#include "support/ErrorOf.h"
#include "support/PgTestCluster.h"
#include "support/S3TestServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString SourceDatabase = QStringLiteral("corvane_e2e_source");
const QString TargetDatabase = QStringLiteral("salesoffice");
const QString BackupName = QStringLiteral("Sales Office-20231118.backup");

const QString SampleSql =
    QStringLiteral("CREATE TABLE customers (id integer PRIMARY KEY, name text NOT NULL);"
                   "CREATE TABLE orders (id integer PRIMARY KEY, customer_id integer REFERENCES customers, "
                   "amount numeric(10,2));"
                   "INSERT INTO customers VALUES (1, 'Ana Lúcia'), (2, 'Bento'), (3, 'Carla \"CJ\" Jardim');"
                   "INSERT INTO orders VALUES (10, 1, 120.50), (11, 1, 8.00), (12, 3, 999.99);");

const QString CustomersQuery = QStringLiteral("SELECT id, name FROM customers ORDER BY id");
const QString OrdersQuery = QStringLiteral("SELECT id, customer_id, amount FROM orders ORDER BY id");

// The window's side of a restore, without widgets: a log, a prompt that accepts what it is offered, the
// real download from s3rver and the real client programs.
struct Window {
    TS3ConnectionInfo connection;
    QString bucketSetting;
    QStringList log;
    QString proposed;
    int position = 0;

    TRestoreSeams Seams() {
        TRestoreSeams seams;
        seams.Log = [this](const QString& line) { log << line; };
        seams.LogFmt = [this](const QString& logTemplate, const QStringList& arguments) {
            log << FormatLogTemplate(logTemplate, arguments);
        };
        seams.ClearLog = [this] { log.clear(); };
        seams.FocusWorkingFolder = [] {};
        seams.FocusDatabaseUser = [] {};
        seams.SetBusy = [](bool) {};
        seams.PromptDatabaseName = [this](const QString& name) {
            proposed = name;
            return std::optional<QString>(name);
        };
        seams.Download = [this](const TBackupRecord& record, const QString& targetPath) {
            TDownloadProgress progress;
            int maximum = 0;
            progress.Start = [&](int maximumKiB) { maximum = maximumKiB; };
            progress.Advance = [&](qint64 count) { position = ProgressAfterBlock(position, count, maximum); };
            progress.Reset = [this] { position = 0; };
            DownloadBackup(
                {connection, bucketSetting, record.Path, targetPath, {}},
                [this](const QString& line) { log << line; }, progress);
        };
        seams.Run = RunAndWait;
        return seams;
    }
};

// A second session that keeps the database in use until the object goes. Its server process is ended
// too: killing psql alone would leave it sleeping, and the database in use, long after this test.
class OpenSession {
  public:
    OpenSession(const PgTestCluster& cluster, const QString& database)
        : cluster_(cluster)
        , sessions_(QStringLiteral("FROM pg_stat_activity WHERE datname = '%1'").arg(database)) {
        process_.start(QStringLiteral("psql"),
                       {QStringLiteral("-X"), QStringLiteral("-U"), QString::fromLatin1(PgTestCluster::User),
                        QStringLiteral("-d"), database, QStringLiteral("-c"),
                        QStringLiteral("SELECT pg_sleep(120)")});
        WaitForSessions(false);
    }
    ~OpenSession() {
        cluster_.Query(QStringLiteral("postgres"),
                       QStringLiteral("SELECT pg_terminate_backend(pid) ") + sessions_);
        process_.kill();
        process_.waitForFinished(-1);
        WaitForSessions(true);
    }

  private:
    void WaitForSessions(bool gone) const {
        for (int i = 0; i < 400; ++i) {
            const bool none =
                cluster_.Query(QStringLiteral("postgres"), QStringLiteral("SELECT count(*) ") + sessions_) ==
                QStringLiteral("0");
            if (none == gone)
                return;
            QTest::qWait(25);
        }
    }

    const PgTestCluster& cluster_;
    QString sessions_;
    QProcess process_;
};

} // namespace

class TestRestoreEndToEnd : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void restoresTheBackup();
    void deletedObjectDropsNothing();
    void databaseInUseStopsBeforeCreating();
    void notAnArchiveDropsNothing();

  private:
    QString Restore(const QString& name, Window& window);
    void PrepareTarget();

    std::optional<PgTestCluster> cluster_;
    std::optional<S3TestServer> server_;
    QString bucket_;
    std::unique_ptr<QTemporaryDir> workingFolder_;
    TOperationLock lock_;
};

void TestRestoreEndToEnd::initTestCase() {
    cluster_ = PgTestCluster::FromFixture();
    server_ = S3TestServer::FromFixture();
    bucket_ = S3TestServer::UniqueBucketName(QStringLiteral("restore"));
    server_->CreateBucket(bucket_);

    cluster_->CreateDatabase(SourceDatabase, SampleSql);
    QTemporaryDir dumps;
    const QString dump = dumps.filePath(QStringLiteral("sample.backup"));
    cluster_->Dump(SourceDatabase, dump);
    server_->PutFile(bucket_, QStringLiteral("db/") + BackupName, dump);
    server_->PutObject(bucket_, QStringLiteral("db/Broken-20231118.backup"), "this is not an archive\n");
}

void TestRestoreEndToEnd::init() {
    workingFolder_ = std::make_unique<QTemporaryDir>();
    QVERIFY(workingFolder_->isValid());
}

// The target database as it was before, with data that a restore must replace or keep.
void TestRestoreEndToEnd::PrepareTarget() {
    cluster_->CreateDatabase(TargetDatabase,
                             QStringLiteral("CREATE TABLE stale (note text);"
                                            "INSERT INTO stale VALUES ('before the restore');"));
}

QString TestRestoreEndToEnd::Restore(const QString& name, Window& window) {
    window.connection = server_->ConnectionInfo();
    window.bucketSetting = bucket_ + QStringLiteral("/db");
    const TRestoreInput input{workingFolder_->path(), QString::fromLatin1(PgTestCluster::User),
                              TBackupRecord{name, QStringLiteral("db/") + name}};
    return ErrorOf([&] { RestoreBackup(input, window.Seams(), lock_); });
}

void TestRestoreEndToEnd::restoresTheBackup() {
    PrepareTarget();
    Window window;
    QCOMPARE(Restore(BackupName, window), QString());

    QCOMPARE(window.proposed, TargetDatabase);
    QCOMPARE(cluster_->Query(TargetDatabase, CustomersQuery),
             cluster_->Query(SourceDatabase, CustomersQuery));
    QCOMPARE(cluster_->Query(TargetDatabase, OrdersQuery), cluster_->Query(SourceDatabase, OrdersQuery));
    QCOMPARE(cluster_->Query(TargetDatabase,
                             QStringLiteral("SELECT count(*) FROM pg_tables WHERE tablename = 'stale'")),
             QStringLiteral("0"));

    const QString target = workingFolder_->filePath(BackupName);
    const QStringList expected{
        "Downloading backup file",         "Download completed",
        "Dropping database: salesoffice",  "dropdb --if-exists -U postgres salesoffice",
        "Creating database: salesoffice",  "createdb -O postgres -U postgres salesoffice",
        "Restoring database: salesoffice", "pg_restore -U postgres -d salesoffice \"" + target + "\"",
        "The operation has been completed"};
    QCOMPARE(window.log, expected);
    QVERIFY(QDir(workingFolder_->path()).isEmpty());
    QCOMPARE(window.position, 0);
}

void TestRestoreEndToEnd::deletedObjectDropsNothing() {
    PrepareTarget();
    const QString name = QStringLiteral("Sales Office-20231119.backup");
    server_->PutObject(bucket_, QStringLiteral("db/") + name, "listed, then deleted");
    server_->DeleteObject(bucket_, QStringLiteral("db/") + name);

    Window window;
    QCOMPARE(Restore(name, window),
             QStringLiteral(
                 "The backup \"db/Sales Office-20231119.backup\" is not in the bucket or cannot be read"));
    QCOMPARE(window.log, QStringList{"Downloading backup file"});
    QCOMPARE(cluster_->Query(TargetDatabase, QStringLiteral("SELECT note FROM stale")),
             QStringLiteral("before the restore"));
    QVERIFY(QDir(workingFolder_->path()).isEmpty());
}

void TestRestoreEndToEnd::databaseInUseStopsBeforeCreating() {
    PrepareTarget();
    Window window;
    {
        OpenSession session(*cluster_, TargetDatabase);
        QCOMPARE(Restore(BackupName, window), QStringLiteral("dropdb failed with exit code 1"));
    }
    QCOMPARE(window.log.size(), 4);
    QCOMPARE(window.log.last(), QStringLiteral("dropdb --if-exists -U postgres salesoffice"));
    QCOMPARE(cluster_->Query(TargetDatabase, QStringLiteral("SELECT note FROM stale")),
             QStringLiteral("before the restore"));
    QVERIFY(QDir(workingFolder_->path()).isEmpty());
}

void TestRestoreEndToEnd::notAnArchiveDropsNothing() {
    // The backup arrives whole but is no archive: pg_restore says so before anything is dropped.
    cluster_->CreateDatabase(QStringLiteral("broken"),
                             QStringLiteral("CREATE TABLE kept (note text);"
                                            "INSERT INTO kept VALUES ('still here');"));
    Window window;
    QCOMPARE(Restore(QStringLiteral("Broken-20231118.backup"), window),
             QStringLiteral(
                 "pg_restore cannot read the backup \"Broken-20231118.backup\"; no database was changed"));
    QCOMPARE(window.proposed, QStringLiteral("broken"));
    QCOMPARE(window.log, (QStringList{"Downloading backup file", "Download completed"}));
    QCOMPARE(cluster_->Query(QStringLiteral("broken"), QStringLiteral("SELECT note FROM kept")),
             QStringLiteral("still here"));
    QVERIFY(QDir(workingFolder_->path()).isEmpty());
}

QTEST_GUILESS_MAIN(TestRestoreEndToEnd)
#include "TestRestoreEndToEnd.moc"
