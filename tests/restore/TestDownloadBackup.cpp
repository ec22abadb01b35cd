#include "core/Error.h"
#include "restore/DownloadBackup.h"
#include "restore/DownloadRecord.h"
#include "support/FileContents.h"
#include "support/FixturePort.h"
#include "support/S3TestServer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr qint64 FaultObjectSize = 1024 * 1024 + 123;

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

QString Token() {
    return QString::number(QRandomGenerator::global()->generate64(), 16);
}

// What the download reports of its progress, with a hook into every block.
struct TProgressBar {
    qint64 Total = -1;
    qint64 ReportedBytes = 0;
    int Resets = 0;
    std::function<void()> OnBlock;

    TDownloadProgress Sink() {
        TDownloadProgress progress;
        progress.Start = [this](qint64 totalBytes) { Total = totalBytes; };
        progress.Advance = [this](qint64 count) {
            ReportedBytes += count;
            if (OnBlock)
                OnBlock();
        };
        progress.Reset = [this] { ++Resets; };
        return progress;
    }
};

// The files of a folder, sorted.
QStringList FilesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
}

} // namespace

class TestDownloadBackup : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void logTellsTheStory_data();
    void logTellsTheStory();
    void fileAlreadyThere_data();
    void fileAlreadyThere();
    void stopKeepsTheCopyAndTheDownloadGoesOn();
    void partOfAnotherVersionStartsAgain();
    void failuresKeepNoTarget_data();
    void failuresKeepNoTarget();
    void rangesOnAFaultyServer_data();
    void rangesOnAFaultyServer();
    void secondDownloadOfTheSameFileIsRefused();

  private:
    TDownloadRequest Request(const QString& key) const;
    TDownloadRequest FaultRequest(const QString& fault, const QString& token = Token()) const;
    QStringList Download(const TDownloadRequest& request, TProgressBar& bar, TDownloadOutcome expected,
                         const TDownloadRanges& ranges = SmallRanges()) const;

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
    request.Name = key.section(u'/', 1);
    request.TargetPath = FDir->filePath(request.Name);
    return request;
}

// An object of the fault server (see /ranged in tools/s3-fault-server): the pattern, FaultObjectSize
// bytes. The fault server counts the cuts per token: each run gets its own.
TDownloadRequest TestDownloadBackup::FaultRequest(const QString& fault, const QString& token) const {
    TDownloadRequest request;
    request.Connection.Protocol = QStringLiteral("http");
    request.Connection.StorageEndpoint =
        QStringLiteral("s3.localhost:%1").arg(FixturePort(QStringLiteral("s3_fault_server")));
    request.BucketSetting = QStringLiteral("b/ranged");
    request.ObjectKey = QStringLiteral("ranged/%1/%2/%3/fault.backup").arg(FaultObjectSize).arg(fault, token);
    request.Name = QStringLiteral("fault.backup");
    request.TargetPath = FDir->filePath(request.Name);
    return request;
}

QStringList TestDownloadBackup::Download(const TDownloadRequest& request, TProgressBar& bar,
                                         TDownloadOutcome expected, const TDownloadRanges& ranges) const {
    QStringList log;
    const TDownloadOutcome outcome = DownloadBackup(
        request, [&](const QString& line) { log << line; }, bar.Sink(), ranges);
    if (outcome != expected)
        qWarning("outcome %d, expected %d", int(outcome), int(expected));
    return outcome == expected ? log : QStringList{QStringLiteral("<unexpected outcome>")} + log;
}

// The log lines of whole downloads: where the backup went, how large, and which check it passed.
void TestDownloadBackup::logTellsTheStory_data() {
    QTest::addColumn<QString>("fault"); // empty: s3rver's backup
    QTest::addColumn<bool>("inRanges");
    QTest::addColumn<QStringList>("log"); // "<target>" stands for the target's path

    const QStringList sales{"Downloading backup \"Sales Office-20231118.backup\" (4 MiB) to <target>",
                            "Backup \"Sales Office-20231118.backup\" saved to <target> (4 MiB, MD5 checked)"};
    QTest::newRow("one GET") << "" << false << sales;
    QTest::newRow("in ranges") << "" << true << sales;
    QTest::newRow("multipart ETag: no MD5 to check")
        << "multipart" << true
        << QStringList{"Downloading backup \"fault.backup\" (2 MiB) to <target>",
                       "Backup \"fault.backup\" saved to <target> (2 MiB, size and ETag only)"};
}

void TestDownloadBackup::logTellsTheStory() {
    QFETCH(QString, fault);
    QFETCH(bool, inRanges);
    QFETCH(QStringList, log);
    const TDownloadRequest request =
        fault.isEmpty() ? Request(QStringLiteral("db/Sales Office-20231118.backup")) : FaultRequest(fault);
    const QByteArray content = fault.isEmpty() ? FBackup : PatternBytes(FaultObjectSize);
    TProgressBar bar;

    const QStringList lines =
        Download(request, bar, TDownloadOutcome::Downloaded, inRanges ? SmallRanges() : TDownloadRanges{});

    QCOMPARE(lines, log.replaceInStrings(QStringLiteral("<target>"), request.TargetPath));
    QVERIFY(ReadAll(request.TargetPath) == content);
    QCOMPARE(FilesIn(FDir->path()), (QStringList{request.Name, request.Name + QStringLiteral(".etag")}));
    QCOMPARE(bar.Total, qint64(content.size()));
    QCOMPARE(bar.ReportedBytes, qint64(content.size()));
    QCOMPARE(bar.Resets, 1);
}

// A file at the target: this backup is taken as it is, without its body being asked for (the file
// is not even rewritten); anything else is left alone until the download is told to replace it.
void TestDownloadBackup::fileAlreadyThere_data() {
    QTest::addColumn<QString>("fault");   // empty: s3rver's backup
    QTest::addColumn<QString>("content"); // of the file there: same, other (same size), shorter
    QTest::addColumn<bool>("recorded");   // the record of its download is beside it
    QTest::addColumn<QString>("logLine"); // "<target>" stands for the target's path

    QTest::newRow("same backup")
        << ""
        << "same" << false
        << "Backup \"Sales Office-20231118.backup\" is already in <target> (4 MiB, MD5 checked); it is not "
           "downloaded again";
    QTest::newRow("same size, other content")
        << ""
        << "other" << false
        << "<target> is there but is not the backup \"Sales Office-20231118.backup\": "
           "its MD5 differs";
    QTest::newRow("shorter") << ""
                             << "shorter" << false
                             << "<target> is there but is not the backup \"Sales Office-20231118.backup\": "
                                "its size differs";
    QTest::newRow("multipart, recorded")
        << "multipart"
        << "same" << true
        << "Backup \"fault.backup\" is already in <target> (2 MiB, size and ETag only); it is not downloaded "
           "again";
    QTest::newRow("multipart, no record")
        << "multipart"
        << "same" << false
        << "<target> is there but is not the backup \"fault.backup\": no record of its download names this "
           "version";
}

void TestDownloadBackup::fileAlreadyThere() {
    QFETCH(QString, fault);
    QFETCH(QString, content);
    QFETCH(bool, recorded);
    QFETCH(QString, logLine);
    const QString token = Token();
    TDownloadRequest request = fault.isEmpty() ? Request(QStringLiteral("db/Sales Office-20231118.backup"))
                                               : FaultRequest(fault, token);
    const QByteArray backup = fault.isEmpty() ? FBackup : PatternBytes(FaultObjectSize);
    QByteArray there = backup;
    if (content == QStringLiteral("other"))
        there[there.size() / 2] = char(there[there.size() / 2] ^ 1);
    else if (content == QStringLiteral("shorter"))
        there.chop(1);
    QVERIFY(WriteFile(request.TargetPath, there));
    if (recorded) {
        const QString etag =
            QStringLiteral("\"%1-2\"")
                .arg(QString::fromLatin1(QCryptographicHash::hash(backup, QCryptographicHash::Md5).toHex()));
        WriteDownloadRecord(RecordFileOf(request.TargetPath), {etag, backup.size(), {{0, backup.size()}}});
    }
    const QDateTime modified = QFileInfo(request.TargetPath).lastModified();
    TProgressBar bar;

    const bool same = content == QStringLiteral("same") && (fault.isEmpty() || recorded);
    const QStringList log =
        Download(request, bar, same ? TDownloadOutcome::AlreadyThere : TDownloadOutcome::TargetDiffers);

    QCOMPARE(log, QStringList{QString(logLine).replace(QStringLiteral("<target>"), request.TargetPath)});
    QCOMPARE(bar.Total, qint64(-1));
    QVERIFY(ReadAll(request.TargetPath) == there);
    QCOMPARE(QFileInfo(request.TargetPath).lastModified(), modified);
    if (same)
        return;

    // Told to replace it, the download does, and only then.
    request.ReplaceExisting = true;
    Download(request, bar, TDownloadOutcome::Downloaded);
    QVERIFY(ReadAll(request.TargetPath) == backup);
}

// A stop keeps both the copy that was there and what arrived; the next download goes on from there,
// fetching only what is missing, and the MD5 of the whole (the bytes already there hashed too) is checked.
void TestDownloadBackup::stopKeepsTheCopyAndTheDownloadGoesOn() {
    TDownloadRequest request = Request(QStringLiteral("db/Sales Office-20231118.backup"));
    request.ReplaceExisting = true;
    const QByteArray older = RandomBytes(5000);
    QVERIFY(WriteFile(request.TargetPath, older));
    std::stop_source stop;
    request.Limits.Stop = stop.get_token();
    TProgressBar bar;
    bar.OnBlock = [&] {
        if (bar.ReportedBytes >= FBackup.size() / 2)
            stop.request_stop();
    };

    QString stopped;
    try {
        Download(request, bar, TDownloadOutcome::Downloaded);
    } catch (const TOperationStopped& e) {
        stopped = e.Message();
    }
    const QString part = PartialFileOf(request.TargetPath);
    QVERIFY2(stopped.startsWith(QStringLiteral("The download of \"%1\" was stopped at ").arg(request.Name)),
             qPrintable(stopped));
    QVERIFY2(stopped.endsWith(QStringLiteral("of 4 MiB; \"%1\" is kept, and the next download of this backup "
                                             "goes on from there")
                                  .arg(part)),
             qPrintable(stopped));
    QVERIFY(ReadAll(request.TargetPath) == older);
    const std::optional<TDownloadRecord> record = ReadDownloadRecord(part + QStringLiteral(".etag"));
    QVERIFY(record);
    QVERIFY(record->Held() > 0 && record->Held() < FBackup.size());

    TProgressBar rest;
    request.Limits.Stop = {};
    const QStringList log = Download(request, rest, TDownloadOutcome::Downloaded);

    QCOMPARE(rest.Total, FBackup.size() - record->Held());
    QCOMPARE(rest.ReportedBytes, rest.Total);
    QCOMPARE(log.first(), QStringLiteral("Downloading backup \"%1\" to %2, resumed at %3 of 4 MiB")
                              .arg(request.Name, request.TargetPath)
                              .arg(record->Held() / (1024 * 1024)));
    QCOMPARE(log.last(), QStringLiteral("Backup \"%1\" saved to %2 (4 MiB, MD5 checked)")
                             .arg(request.Name, request.TargetPath));
    QVERIFY(ReadAll(request.TargetPath) == FBackup);
    QVERIFY(!QFileInfo::exists(part));
}

// A part left by a download of another version of the object is of no use: the download starts again.
void TestDownloadBackup::partOfAnotherVersionStartsAgain() {
    const TDownloadRequest request = Request(QStringLiteral("db/Sales Office-20231118.backup"));
    const QString part = PartialFileOf(request.TargetPath);
    QVERIFY(WriteFile(part, RandomBytes(1024 * 1024)));
    WriteDownloadRecord(
        part + QStringLiteral(".etag"),
        {QStringLiteral("\"0123456789abcdef0123456789abcdef\""), FBackup.size(), {{0, 1024 * 1024}}});
    TProgressBar bar;

    const QStringList log = Download(request, bar, TDownloadOutcome::Downloaded);

    QCOMPARE(log.first(),
             QStringLiteral("The partial download \"%1\" is of another version of the backup; it "
                            "starts again")
                 .arg(part));
    QCOMPARE(bar.ReportedBytes, qint64(FBackup.size()));
    QVERIFY(ReadAll(request.TargetPath) == FBackup);
}

void TestDownloadBackup::failuresKeepNoTarget_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("bucketSetting"); // empty: the test's bucket and folder
    QTest::addColumn<QString>("change");        // what happens to the object once its size is known
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("log");

    const QString key = QStringLiteral("db/victim.backup");
    const QString started = QStringLiteral("Downloading backup \"victim.backup\" (1 MiB) to <target>");
    QTest::newRow("object not there")
        << "db/missing.backup"
        << ""
        << ""
        << "The backup \"missing.backup\" is not in the bucket or cannot be read"
        << QStringList{"Download failed: The backup \"missing.backup\" is not in the "
                       "bucket or cannot be read"};
    QTest::newRow("object deleted before the transfer")
        << key << ""
        << "delete"
        << "The download of \"victim.backup\" failed: the service answered with status 404"
        << QStringList{started, "Download failed: The download of \"victim.backup\" "
                                "failed: the service answered with status 404"};
    QTest::newRow("object shortened before the transfer")
        << key << ""
        << "shorten"
        << "The download of \"victim.backup\" ended after 1000 of 5000 bytes"
        << QStringList{started, "Download failed: The download of \"victim.backup\" "
                                "ended after 1000 of 5000 bytes"};
    QTest::newRow("malformed bucket setting")
        << key << "no-folder"
        << ""
        << "Invalid bucket configuration" << QStringList{"Download failed: Invalid bucket configuration"};
}

void TestDownloadBackup::failuresKeepNoTarget() {
    QFETCH(QString, key);
    QFETCH(QString, bucketSetting);
    QFETCH(QString, change);
    QFETCH(QString, error);
    QFETCH(QStringList, log);

    FServer->PutObject(FBucket, QStringLiteral("db/victim.backup"), RandomBytes(5000));
    TDownloadRequest request = Request(key);
    if (!bucketSetting.isEmpty())
        request.BucketSetting = bucketSetting;
    TProgressBar bar;
    bar.OnBlock = [] {};
    TDownloadProgress progress = bar.Sink();
    progress.Start = [&](qint64) {
        if (change == QStringLiteral("delete"))
            FServer->DeleteObject(FBucket, key);
        else if (change == QStringLiteral("shorten"))
            FServer->PutObject(FBucket, key, RandomBytes(1000));
    };
    QStringList lines;

    QString thrown;
    try {
        DownloadBackup(
            request, [&](const QString& line) { lines << line; }, progress);
    } catch (const std::runtime_error& e) {
        thrown = QString::fromUtf8(e.what());
    }
    QCOMPARE(thrown, error);
    QCOMPARE(lines, log.replaceInStrings(QStringLiteral("<target>"), request.TargetPath));
    QCOMPARE(FilesIn(FDir->path()), QStringList());
}

void TestDownloadBackup::rangesOnAFaultyServer_data() {
    QTest::addColumn<QString>("fault"); // see /ranged in tools/s3-fault-server
    QTest::addColumn<QString>("error"); // empty: the backup arrives whole
    QTest::addColumn<bool>("partKept"); // what arrived stays for the next download

    QTest::newRow("ranges cut off are resumed") << "cut2"
                                                << "" << false;
    QTest::newRow("a range cut off once too often")
        << "cut99"
        << "Error reading data: (18) Transferred a partial file" << true;
    QTest::newRow("object replaced during the download")
        << "changed"
        << "The backup \"fault.backup\" changed on the server during the download" << false;
    QTest::newRow("multipart object spliced from two versions")
        << "flip"
        << "The backup \"fault.backup\" changed on the server during the download" << false;
    QTest::newRow("server that ignores ranges")
        << "whole"
        << "The server sent the whole of \"fault.backup\" where a part was asked for (status 200)" << false;
    QTest::newRow("server that ignores ranges, endless body")
        << "endless"
        << "The server sent the whole of \"fault.backup\" where a part was asked for (status 200)" << false;
}

void TestDownloadBackup::rangesOnAFaultyServer() {
    QFETCH(QString, fault);
    QFETCH(QString, error);
    QFETCH(bool, partKept);
    const TDownloadRequest request = FaultRequest(fault);
    TProgressBar bar;

    QString thrown;
    QStringList log;
    try {
        DownloadBackup(
            request, [&](const QString& line) { log << line; }, bar.Sink(), SmallRanges());
    } catch (const std::runtime_error& e) {
        thrown = QString::fromUtf8(e.what());
    }
    QCOMPARE(thrown, error);
    QCOMPARE(bar.Resets, 1);
    if (error.isEmpty()) {
        QVERIFY(ReadAll(request.TargetPath) == PatternBytes(FaultObjectSize));
        QCOMPARE(bar.ReportedBytes, FaultObjectSize);
        return;
    }
    QCOMPARE(log.last(), QStringLiteral("Download failed: ") + error);
    const QString part = request.Name + QStringLiteral(".part");
    const QStringList kept = partKept ? QStringList{part, part + QStringLiteral(".etag")} : QStringList();
    QCOMPARE(FilesIn(FDir->path()), kept);
}

void TestDownloadBackup::secondDownloadOfTheSameFileIsRefused() {
    const TDownloadRequest request = Request(QStringLiteral("db/Sales Office-20231118.backup"));
    TProgressBar bar;
    QString secondError;
    // The window processes events between blocks, so a second Download of the same row can start there.
    bar.OnBlock = [&] {
        if (!secondError.isEmpty())
            return;
        try {
            TProgressBar other;
            DownloadBackup(
                request, [](const QString&) {}, other.Sink());
            secondError = QStringLiteral("accepted");
        } catch (const std::runtime_error& e) {
            secondError = QString::fromUtf8(e.what());
        }
    };

    Download(request, bar, TDownloadOutcome::Downloaded, {});

    QCOMPARE(secondError,
             QStringLiteral("The backup \"%1\" is being downloaded by another Corvane (\"%2\" is in use)")
                 .arg(request.Name, PartialFileOf(request.TargetPath)));
    QVERIFY(ReadAll(request.TargetPath) == FBackup);
}

QTEST_GUILESS_MAIN(TestDownloadBackup)
#include "TestDownloadBackup.moc"
