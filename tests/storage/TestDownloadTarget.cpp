#include "core/Error.h"
#include "restore/DownloadBackup.h"
#include "restore/DownloadRecord.h"
#include "restore/TargetPath.h"
#include "support/ErrorOf.h"
#include "support/FileContents.h"
#include "support/FixturePort.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <signal.h>

namespace {

quint16 FaultServerPort() {
    return FixturePort(QStringLiteral("s3_fault_server"));
}

TDownloadRequest Request(const QString& key, const QString& target) {
    TDownloadRequest request;
    request.Connection.Protocol = QStringLiteral("http");
    request.Connection.StorageEndpoint = QStringLiteral("s3.localhost:%1").arg(FaultServerPort());
    request.BucketSetting = QStringLiteral("b/db");
    request.ObjectKey = key;
    request.TargetPath = target;
    request.Limits = {std::chrono::milliseconds(2000), std::chrono::seconds(5), {}};
    return request;
}

QByteArray PatternBytes(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char(i % 256);
    return data;
}

// Starts download_until_killed as from a terminal: whatever this test inherited, the signals have their
// default action.
void StartDownloadUntilKilled(QProcess& child, const QStringList& arguments) {
    child.setChildProcessModifier([] {
        for (const int handled : {SIGTERM, SIGINT, SIGHUP})
            ::signal(handled, SIG_DFL);
    });
    child.start(QStringLiteral(DOWNLOAD_UNTIL_KILLED),
                QStringList{QString::number(FaultServerPort())} + arguments);
}

// Reads the child's "received <bytes>" lines until it has received at least bytes.
bool WaitForReceived(QProcess& child, qint64 bytes) {
    for (;;) {
        while (child.canReadLine()) {
            const QByteArray line = child.readLine().trimmed();
            if (line.startsWith("received ") && line.sliced(9).toLongLong() >= bytes)
                return true;
        }
        if (!child.waitForReadyRead(30000))
            return false;
    }
}

} // namespace

// What a download does to the working folder when it holds a trap or the process is killed.
class TestDownloadTarget : public QObject {
    Q_OBJECT

  private slots:
    void neverWritesThroughALink_data();
    void neverWritesThroughALink();
    void staysOutOfALinkedSubFolder();
    void killedDownloadInOneGetLeavesNoFile_data();
    void killedDownloadInOneGetLeavesNoFile();
    void killedRangedDownloadGoesOn();
};

void TestDownloadTarget::neverWritesThroughALink_data() {
    QTest::addColumn<QString>("linkAt"); // the target itself, or its ".part"
    QTest::addColumn<bool>("linkedFileExists");
    QTest::newRow("link at the target, to an existing file") << "target" << true;
    QTest::newRow("link at the target, to a missing file") << "target" << false;
    QTest::newRow("link at the part, to an existing file") << "part" << true;
    QTest::newRow("link at the part, to a missing file") << "part" << false;
}

// A link planted at the target or at its ".part" is never followed: the file it names is neither
// written nor created. A link at the target is not the backup; replacing it replaces the link itself.
void TestDownloadTarget::neverWritesThroughALink() {
    QFETCH(QString, linkAt);
    QFETCH(bool, linkedFileExists);
    QTemporaryDir dir;
    const QString linked = dir.filePath(QStringLiteral("precious.conf"));
    if (linkedFileExists)
        QVERIFY(WriteFile(linked, "keep me"));
    const QString target = dir.filePath(QStringLiteral("a.backup"));
    const QString link = linkAt == QStringLiteral("part") ? PartialFileOf(target) : target;
    QVERIFY(QFile::link(linked, link));
    TDownloadRequest request = Request(QStringLiteral("object/10/db/a.backup"), target);

    if (linkAt == QStringLiteral("part")) {
        QCOMPARE(ErrorOf([&] { DownloadBackup(request, [](const QString&) {}, {}); }),
                 QStringLiteral("Cannot create file \"%1\". %2").arg(link, SystemErrorText(ELOOP)));
        QCOMPARE(QFileInfo(link).symLinkTarget(), linked);
    } else {
        QCOMPARE(DownloadBackup(request, [](const QString&) {}, {}), TDownloadOutcome::TargetDiffers);
        QCOMPARE(QFileInfo(link).symLinkTarget(), linked);
        request.ReplaceExisting = true;
        QCOMPARE(DownloadBackup(request, [](const QString&) {}, {}), TDownloadOutcome::Downloaded);
        QVERIFY(!QFileInfo(target).isSymLink());
        QCOMPARE(ReadAll(target), PatternBytes(10));
    }
    QCOMPARE(QFileInfo::exists(linked), linkedFileExists);
    if (linkedFileExists)
        QCOMPARE(ReadAll(linked), "keep me");
}

// "work/sub" leads to another folder: a backup whose key names that sub-folder is written right in the
// working folder under a flat name, and removing it (as a restore does) removes nothing elsewhere.
void TestDownloadTarget::staysOutOfALinkedSubFolder() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("work")) &&
            QDir(dir.path()).mkpath(QStringLiteral("other")));
    const QString work = dir.filePath(QStringLiteral("work"));
    const QString outside = dir.filePath(QStringLiteral("other/notes.txt"));
    QVERIFY(WriteFile(outside, "keep me"));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("other")), work + QStringLiteral("/sub")));

    const QString target = TargetPath(work, QStringLiteral("sub/notes.txt"));
    QCOMPARE(QFileInfo(target).absolutePath(), work);
    QCOMPARE(DownloadBackup(Request(QStringLiteral("object/10/db/sub/notes.txt"), target),
                            [](const QString&) {}, {}),
             TDownloadOutcome::Downloaded);
    QCOMPARE(ReadAll(target), PatternBytes(10));
    RemoveFile(target);
    RemoveFile(RecordFileOf(target));

    QCOMPARE(QDir(work).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
             QStringList{"sub"});
    QCOMPARE(QDir(dir.filePath(QStringLiteral("other"))).entryList(QDir::Files), QStringList{"notes.txt"});
    QCOMPARE(ReadAll(outside), "keep me");
}

void TestDownloadTarget::killedDownloadInOneGetLeavesNoFile_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP, the terminal closed") << int(SIGHUP);
}

// The fault server sends the first block at once and then nothing (for up to 30 s), so the download is
// still running when the signal arrives. A download in one GET cannot be continued, so its ".part" goes
// with the process, and the target was never there.
void TestDownloadTarget::killedDownloadInOneGetLeavesNoFile() {
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("a.backup"));
    QProcess child;
    StartDownloadUntilKilled(child, {QStringLiteral("stall-body/1000/db/a.backup"), target});
    QVERIFY(child.waitForStarted());
    QVERIFY2(WaitForReceived(child, 1), child.readAllStandardError().constData());
    QVERIFY(QFileInfo::exists(PartialFileOf(target)));

    QCOMPARE(::kill(pid_t(child.processId()), signalNumber), 0);
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

// Killed outright in the middle of a ranged download, the process leaves its ".part" and the record of
// what it holds; the next download fetches only what the record says is missing, and checks the MD5 of
// the whole.
void TestDownloadTarget::killedRangedDownloadGoesOn() {
    constexpr qint64 Size = 4 * 1024 * 1024 + 321;
    constexpr qint64 RangeSize = 128 * 1024;
    constexpr int WholeRanges = 8;
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("a.backup"));
    const QString token = QString::number(QRandomGenerator::global()->generate64(), 16);
    QProcess child;
    // The first ranges arrive whole, the three after them half, and then nothing.
    StartDownloadUntilKilled(
        child, {QStringLiteral("ranged/%1/stall%2/%3/a.backup").arg(Size).arg(WholeRanges).arg(token), target,
                QString::number(RangeSize), QStringLiteral("3")});
    QVERIFY(child.waitForStarted());
    QVERIFY2(WaitForReceived(child, WholeRanges * RangeSize + 3 * RangeSize / 2),
             child.readAllStandardError().constData());
    QCOMPARE(::kill(pid_t(child.processId()), SIGKILL), 0);
    QVERIFY(child.waitForFinished(30000));

    QVERIFY(!QFileInfo::exists(target));
    const std::optional<TDownloadRecord> record =
        ReadDownloadRecord(PartialFileOf(target) + QStringLiteral(".etag"));
    QVERIFY(record);
    QVERIFY2(record->Held() >= WholeRanges * RangeSize, qPrintable(QString::number(record->Held())));
    qint64 fetched = 0;
    TDownloadProgress progress;
    progress.Advance = [&](qint64 count) { fetched += count; };
    TDownloadRanges ranges;
    ranges.RangeSize = RangeSize;
    ranges.Connections = 3;
    QStringList log;

    const TDownloadRequest again =
        Request(QStringLiteral("ranged/%1/none/%2/a.backup").arg(Size).arg(token), target);
    QCOMPARE(DownloadBackup(
                 again, [&](const QString& line) { log << line; }, progress, ranges),
             TDownloadOutcome::Downloaded);

    QCOMPARE(fetched, Size - record->Held());
    QVERIFY2(log.first().contains(QStringLiteral(", resumed at 1 of 5 MiB")), qPrintable(log.first()));
    QVERIFY2(log.last().endsWith(QStringLiteral("(5 MiB, MD5 checked)")), qPrintable(log.last()));
    QVERIFY(ReadAll(target) == PatternBytes(Size));
}

QTEST_GUILESS_MAIN(TestDownloadTarget)
#include "TestDownloadTarget.moc"
