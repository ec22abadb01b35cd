#include "core/Error.h"
#include "restore/DownloadBackup.h"
#include "support/FileContents.h"
#include "support/FixturePort.h"
#include "support/S3TestServer.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

namespace {

// Small ranges, so that a backup of a few MiB is fetched in many ranges.
TDownloadRanges SmallRanges() {
    TDownloadRanges ranges;
    ranges.RangeSize = 128 * 1024;
    ranges.Connections = 3;
    return ranges;
}

// The fault server's repeating pattern, the body of its /ranged objects.
QByteArray PatternBytes(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char(i % 256);
    return data;
}

QByteArray RandomBytes(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    for (char& c : data)
        c = char(QRandomGenerator::global()->bounded(256));
    return data;
}

// What the download reports of its progress, with a hook into the moment between the size request and
// the transfer.
struct TProgressBar {
    qint64 Total = -1;
    qint64 ReportedBytes = 0;
    int Resets = 0;
    std::function<void()> OnStart;
    std::function<void()> OnBlock;

    TDownloadProgress Sink() {
        TDownloadProgress progress;
        progress.Start = [this](qint64 totalBytes) {
            Total = totalBytes;
            if (OnStart)
                OnStart();
        };
        progress.Advance = [this](qint64 count) {
            ReportedBytes += count;
            if (OnBlock)
                OnBlock();
        };
        progress.Reset = [this] { ++Resets; };
        return progress;
    }
};

} // namespace

class TestDownloadBackup : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void downloadsWholeOverAnOlderFile_data();
    void downloadsWholeOverAnOlderFile();
    void failuresLeaveNoFile_data();
    void failuresLeaveNoFile();
    void rangesOnAFaultyServer_data();
    void rangesOnAFaultyServer();
    void stopEndsARangedDownload();
    void secondDownloadOfTheSameFileIsRefused();

  private:
    TDownloadRequest Request(const QString& key) const;

    std::optional<TS3TestServer> FServer;
    QString FBucket;
    QByteArray FBackup;
    std::unique_ptr<QTemporaryDir> FDir;
};

void TestDownloadBackup::initTestCase() {
    FServer = TS3TestServer::FromFixture();
    FBucket = TS3TestServer::UniqueBucketName(QStringLiteral("download"));
    FServer->CreateBucket(FBucket);
    FBackup = RandomBytes(3 * 1024 * 1024 + 1500);
    FServer->PutObject(FBucket, QStringLiteral("db/Sales Office-20231118.backup"), FBackup);
}

void TestDownloadBackup::init() {
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
}

TDownloadRequest TestDownloadBackup::Request(const QString& key) const {
    TDownloadRequest request;
    request.Connection = FServer->ConnectionInfo();
    request.BucketSetting = FBucket + QStringLiteral("/db");
    request.ObjectKey = key;
    request.TargetPath = FDir->filePath(key.section(u'/', -1));
    return request;
}

void TestDownloadBackup::downloadsWholeOverAnOlderFile_data() {
    QTest::addColumn<bool>("inRanges");
    QTest::newRow("one GET") << false;
    QTest::newRow("in ranges") << true;
}

void TestDownloadBackup::downloadsWholeOverAnOlderFile() {
    QFETCH(bool, inRanges);
    const TDownloadRequest request = Request(QStringLiteral("db/Sales Office-20231118.backup"));
    TDownloadRanges ranges;
    if (inRanges)
        ranges = SmallRanges();
    QVERIFY(WriteFile(request.TargetPath, RandomBytes(FBackup.size() + 4096)));
    QStringList log;
    TProgressBar bar;

    DownloadBackup(
        request, [&](const QString& line) { log << line; }, bar.Sink(), ranges);

    QCOMPARE(log, (QStringList{"Downloading backup file", "Download completed"}));
    QVERIFY(ReadAll(request.TargetPath) == FBackup);
    QCOMPARE(bar.Total, qint64(FBackup.size()));
    QCOMPARE(bar.ReportedBytes, qint64(FBackup.size()));
    QCOMPARE(bar.Resets, 1);
}

void TestDownloadBackup::failuresLeaveNoFile_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("bucketSetting"); // empty: the test's bucket and folder
    QTest::addColumn<QString>("change");        // what happens to the object once its size is known
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<int>("resets");

    const QString key = QStringLiteral("db/victim.backup");
    const QStringList started{"Downloading backup file"};
    QTest::newRow("object not there")
        << "db/missing.backup"
        << ""
        << ""
        << "The backup \"db/missing.backup\" is not in the bucket or cannot be read" << started << 0;
    QTest::newRow("object deleted before the transfer")
        << key << ""
        << "delete"
        << "The download of \"db/victim.backup\" failed: the service answered with status 404" << started
        << 1;
    QTest::newRow("object shortened before the transfer")
        << key << ""
        << "shorten"
        << "The download of \"db/victim.backup\" ended after 1000 of 5000 bytes" << started << 1;
    QTest::newRow("malformed bucket setting") << key << "no-folder"
                                              << ""
                                              << "Invalid bucket configuration" << started << 0;
}

void TestDownloadBackup::failuresLeaveNoFile() {
    QFETCH(QString, key);
    QFETCH(QString, bucketSetting);
    QFETCH(QString, change);
    QFETCH(QString, error);
    QFETCH(QStringList, log);
    QFETCH(int, resets);

    FServer->PutObject(FBucket, QStringLiteral("db/victim.backup"), RandomBytes(5000));
    TDownloadRequest request = Request(key);
    if (!bucketSetting.isEmpty())
        request.BucketSetting = bucketSetting;
    TProgressBar bar;
    bar.OnStart = [&] {
        if (change == QStringLiteral("delete"))
            FServer->DeleteObject(FBucket, key);
        else if (change == QStringLiteral("shorten"))
            FServer->PutObject(FBucket, key, RandomBytes(1000));
    };
    QStringList lines;

    QString thrown;
    try {
        DownloadBackup(
            request, [&](const QString& line) { lines << line; }, bar.Sink());
    } catch (const std::runtime_error& e) {
        thrown = QString::fromUtf8(e.what());
    }
    QCOMPARE(thrown, error);
    QCOMPARE(lines, log);
    QCOMPARE(bar.Resets, resets);
    QVERIFY(QDir(FDir->path()).isEmpty());
}

void TestDownloadBackup::rangesOnAFaultyServer_data() {
    QTest::addColumn<QString>("fault"); // see /ranged in tools/s3-fault-server
    QTest::addColumn<QString>("error"); // empty: the backup arrives whole

    QTest::newRow("ranges cut off are resumed") << "cut2"
                                                << "";
    QTest::newRow("a range cut off once too often") << "cut99"
                                                    << "Error reading data: (18) Transferred a partial file";
    QTest::newRow("object replaced during the download")
        << "changed"
        << "The backup \"%1\" changed on the server during the download";
    QTest::newRow("server that ignores ranges")
        << "whole"
        << "The download of \"%1\" failed: the service answered with status 200";
}

void TestDownloadBackup::rangesOnAFaultyServer() {
    QFETCH(QString, fault);
    QFETCH(QString, error);
    const qint64 size = 1024 * 1024 + 123;
    // The fault server counts the cuts per token: each run gets its own.
    const QString token = QString::number(QRandomGenerator::global()->generate64(), 16);
    const QString key = QStringLiteral("ranged/%1/%2/%3/fault.backup").arg(size).arg(fault, token);
    TDownloadRequest request;
    request.Connection.Protocol = QStringLiteral("http");
    request.Connection.StorageEndpoint =
        QStringLiteral("s3.localhost:%1").arg(FixturePort(QStringLiteral("s3_fault_server")));
    request.BucketSetting = QStringLiteral("b/ranged");
    request.ObjectKey = key;
    request.TargetPath = FDir->filePath(QStringLiteral("fault.backup"));
    TProgressBar bar;

    QString thrown;
    try {
        DownloadBackup(
            request, [](const QString&) {}, bar.Sink(), SmallRanges());
    } catch (const std::runtime_error& e) {
        thrown = QString::fromUtf8(e.what());
    }
    QCOMPARE(thrown, error.contains(u"%1") ? error.arg(key) : error);
    if (error.isEmpty()) {
        QVERIFY(ReadAll(request.TargetPath) == PatternBytes(size));
        QCOMPARE(bar.ReportedBytes, size);
    } else {
        QVERIFY(QDir(FDir->path()).isEmpty());
    }
    QCOMPARE(bar.Resets, 1);
}

void TestDownloadBackup::stopEndsARangedDownload() {
    TDownloadRequest request = Request(QStringLiteral("db/Sales Office-20231118.backup"));
    std::stop_source stop;
    request.Limits.Stop = stop.get_token();
    TProgressBar bar;
    bar.OnBlock = [&] { stop.request_stop(); };

    QString thrown;
    try {
        DownloadBackup(
            request, [](const QString&) {}, bar.Sink(), SmallRanges());
    } catch (const TOperationStopped& e) {
        thrown = e.Message();
    }
    QCOMPARE(thrown, QStringLiteral("The download of \"%1\" was stopped").arg(request.ObjectKey));
    QVERIFY(QDir(FDir->path()).isEmpty());
}

void TestDownloadBackup::secondDownloadOfTheSameFileIsRefused() {
    const TDownloadRequest request = Request(QStringLiteral("db/Sales Office-20231118.backup"));
    TProgressBar bar;
    QString secondError;
    QStringList secondLog;
    // The window processes events between blocks, so a second Download of the same row can start there.
    bar.OnBlock = [&] {
        if (!secondError.isEmpty())
            return;
        try {
            TProgressBar other;
            DownloadBackup(
                request, [&](const QString& line) { secondLog << line; }, other.Sink());
            secondError = QStringLiteral("accepted");
        } catch (const std::runtime_error& e) {
            secondError = QString::fromUtf8(e.what());
        }
    };

    DownloadBackup(
        request, [](const QString&) {}, bar.Sink());

    QVERIFY2(secondError.startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(request.TargetPath)),
             qPrintable(secondError));
    QCOMPARE(secondLog, QStringList{"Downloading backup file"});
    QVERIFY(ReadAll(request.TargetPath) == FBackup);
}

QTEST_GUILESS_MAIN(TestDownloadBackup)
#include "TestDownloadBackup.moc"
