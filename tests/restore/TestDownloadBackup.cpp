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
struct ProgressBar {
    qint64 total = -1;
    qint64 reportedBytes = 0;
    int resets = 0;
    std::function<void()> onStart;
    std::function<void()> onBlock;

    TDownloadProgress Sink() {
        TDownloadProgress progress;
        progress.Start = [this](qint64 totalBytes) {
            total = totalBytes;
            if (onStart)
                onStart();
        };
        progress.Advance = [this](qint64 count) {
            reportedBytes += count;
            if (onBlock)
                onBlock();
        };
        progress.Reset = [this] { ++resets; };
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

    std::optional<S3TestServer> server_;
    QString bucket_;
    QByteArray backup_;
    std::unique_ptr<QTemporaryDir> dir_;
};

void TestDownloadBackup::initTestCase() {
    server_ = S3TestServer::FromFixture();
    bucket_ = S3TestServer::UniqueBucketName(QStringLiteral("download"));
    server_->CreateBucket(bucket_);
    backup_ = RandomBytes(3 * 1024 * 1024 + 1500);
    server_->PutObject(bucket_, QStringLiteral("db/Sales Office-20231118.backup"), backup_);
}

void TestDownloadBackup::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

TDownloadRequest TestDownloadBackup::Request(const QString& key) const {
    TDownloadRequest request;
    request.Connection = server_->ConnectionInfo();
    request.BucketSetting = bucket_ + QStringLiteral("/db");
    request.ObjectKey = key;
    request.TargetPath = dir_->filePath(key.section(u'/', -1));
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
    QVERIFY(WriteFile(request.TargetPath, RandomBytes(backup_.size() + 4096)));
    QStringList log;
    ProgressBar bar;

    DownloadBackup(
        request, [&](const QString& line) { log << line; }, bar.Sink(), ranges);

    QCOMPARE(log, (QStringList{"Downloading backup file", "Download completed"}));
    QVERIFY(ReadAll(request.TargetPath) == backup_);
    QCOMPARE(bar.total, qint64(backup_.size()));
    QCOMPARE(bar.reportedBytes, qint64(backup_.size()));
    QCOMPARE(bar.resets, 1);
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

    server_->PutObject(bucket_, QStringLiteral("db/victim.backup"), RandomBytes(5000));
    TDownloadRequest request = Request(key);
    if (!bucketSetting.isEmpty())
        request.BucketSetting = bucketSetting;
    ProgressBar bar;
    bar.onStart = [&] {
        if (change == QStringLiteral("delete"))
            server_->DeleteObject(bucket_, key);
        else if (change == QStringLiteral("shorten"))
            server_->PutObject(bucket_, key, RandomBytes(1000));
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
    QCOMPARE(bar.resets, resets);
    QVERIFY(QDir(dir_->path()).isEmpty());
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
    request.TargetPath = dir_->filePath(QStringLiteral("fault.backup"));
    ProgressBar bar;

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
        QCOMPARE(bar.reportedBytes, size);
    } else {
        QVERIFY(QDir(dir_->path()).isEmpty());
    }
    QCOMPARE(bar.resets, 1);
}

void TestDownloadBackup::stopEndsARangedDownload() {
    TDownloadRequest request = Request(QStringLiteral("db/Sales Office-20231118.backup"));
    std::stop_source stop;
    request.Limits.stop = stop.get_token();
    ProgressBar bar;
    bar.onBlock = [&] { stop.request_stop(); };

    QString thrown;
    try {
        DownloadBackup(
            request, [](const QString&) {}, bar.Sink(), SmallRanges());
    } catch (const OperationStopped& e) {
        thrown = e.Message();
    }
    QCOMPARE(thrown, QStringLiteral("The download of \"%1\" was stopped").arg(request.ObjectKey));
    QVERIFY(QDir(dir_->path()).isEmpty());
}

void TestDownloadBackup::secondDownloadOfTheSameFileIsRefused() {
    const TDownloadRequest request = Request(QStringLiteral("db/Sales Office-20231118.backup"));
    ProgressBar bar;
    QString secondError;
    QStringList secondLog;
    // The window processes events between blocks, so a second Download of the same row can start there.
    bar.onBlock = [&] {
        if (!secondError.isEmpty())
            return;
        try {
            ProgressBar other;
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
    QVERIFY(ReadAll(request.TargetPath) == backup_);
}

QTEST_GUILESS_MAIN(TestDownloadBackup)
#include "TestDownloadBackup.moc"
