#include "core/Error.h"
#include "restore/DownloadBackup.h"
#include "support/ErrorOf.h"
#include "support/FixturePort.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
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

QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// What a download does to its target file when the folder holds a trap or the process is killed.
class TestDownloadTarget : public QObject {
    Q_OBJECT

  private slots:
    void refusesLinkAtTarget_data();
    void refusesLinkAtTarget();
    void killedDownloadLeavesNoFile_data();
    void killedDownloadLeavesNoFile();
};

void TestDownloadTarget::refusesLinkAtTarget_data() {
    QTest::addColumn<bool>("linkedFileExists");
    QTest::newRow("link to an existing file") << true;
    QTest::newRow("link to a missing file") << false;
}

// A link planted at the target path is not followed: the file it names is neither overwritten nor
// created, and the link stays as it was.
void TestDownloadTarget::refusesLinkAtTarget() {
    QFETCH(bool, linkedFileExists);
    QTemporaryDir dir;
    const QString linked = dir.filePath(QStringLiteral("precious.conf"));
    if (linkedFileExists) {
        QFile file(linked);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep me");
    }
    const QString target = dir.filePath(QStringLiteral("a.backup"));
    QVERIFY(QFile::link(linked, target));

    QCOMPARE(
        ErrorOf([&] { DownloadBackup(Request("object/10/db/a.backup", target), [](const QString&) {}, {}); }),
        QStringLiteral("Cannot create file \"%1\". %2").arg(target, SystemErrorText(ELOOP)));
    QCOMPARE(QFileInfo::exists(linked), linkedFileExists);
    if (linkedFileExists)
        QCOMPARE(Contents(linked), "keep me");
    QCOMPARE(QFileInfo(target).symLinkTarget(), linked);
}

void TestDownloadTarget::killedDownloadLeavesNoFile_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP, the terminal closed") << int(SIGHUP);
}

// The fault server sends the first block at once and then nothing (for up to 30 s), so the download is
// still running when the signal arrives; the partial file must go with the process.
void TestDownloadTarget::killedDownloadLeavesNoFile() {
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("a.backup"));
    QProcess child;
    // As started from a terminal: whatever this test inherited, the signals have their default action.
    child.setChildProcessModifier([] {
        for (const int handled : {SIGTERM, SIGINT, SIGHUP})
            ::signal(handled, SIG_DFL);
    });
    child.start(QStringLiteral(DOWNLOAD_UNTIL_KILLED),
                {QString::number(FaultServerPort()), QStringLiteral("stall-body/1000/db/a.backup"), target});
    QVERIFY(child.waitForStarted());
    while (!child.canReadLine())
        QVERIFY2(child.waitForReadyRead(30000), child.readAllStandardError().constData());
    QCOMPARE(child.readLine(), "receiving\n");
    QVERIFY(QFileInfo::exists(target));

    QCOMPARE(::kill(pid_t(child.processId()), signalNumber), 0);
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QVERIFY(!QFileInfo::exists(target));
}

QTEST_GUILESS_MAIN(TestDownloadTarget)
#include "TestDownloadTarget.moc"
