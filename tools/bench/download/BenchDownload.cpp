// Downloads one object into a file and prints the throughput and the process's peak resident memory.
//
//   bench_download <endpoint host:port> <bucket> <key> <output file> [mode]
//
// Modes:
//   (none)        one GET through the stream the product downloads into (gathered writes, the MD5 on
//                 the way)
//   --no-md5      the same without the MD5, as a download does when the object's ETag is not a plain MD5
//   --backup      the product's whole download (DownloadBackup): HEAD, ranges over several connections
//                 for a large object, the size and MD5 checks
//   --backup-one  the same with one connection, so one GET
//   --resume-half the whole download stopped once half the object arrived, then run again, which goes on
//                 from there: prints the bytes each run fetched
//   --reuse       the whole download of an object whose output file is already there and verified (an
//                 earlier --backup): prints its time and that of the MD5 pass over the file alone
//
// BENCH_RANGES=<MiB>x<connections> (for instance 16x8) replaces the product's range size and connection
// count in --backup, to compare choices. The requests are signed with the build's key pair.
#include "ProcessUsage.h"
#include "config/BuildSettings.h"
#include "restore/DownloadBackup.h"
#include "restore/DownloadStream.h"
#include "restore/ExistingBackup.h"
#include "storage/S3StorageService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>
#include <stdexcept>
#include <stop_token>
#include <utility>

namespace {

TDownloadRequest BackupRequest(const TS3ConnectionInfo& info, const QString& bucket, const QString& key,
                               const QString& path) {
    TDownloadRequest request;
    request.Connection = info;
    request.BucketSetting = bucket + QStringLiteral("/bench");
    request.ObjectKey = key;
    request.TargetPath = path;
    return request;
}

// One GET into the download stream; the number of bytes written.
qint64 DownloadStream(const TS3ConnectionInfo& info, const QString& bucket, const QString& key,
                      const QString& path, bool hashing) {
    TS3DownloadStream stream(path);
    stream.SetHashing(hashing);
    TS3StorageService service(info);
    if (!service.GetObject(bucket, key, stream))
        throw std::runtime_error("the server answered " + std::to_string(service.LastStatusCode()));
    stream.Flush();
    if (hashing)
        stream.Md5();
    return stream.Size();
}

qint64 DownloadWithBackup(const TS3ConnectionInfo& info, const QString& bucket, const QString& key,
                          const QString& path, bool oneConnection) {
    const TDownloadRequest request = BackupRequest(info, bucket, key, path);
    TDownloadRanges ranges;
    const QStringList chosen = qEnvironmentVariable("BENCH_RANGES").split(u'x');
    if (chosen.size() == 2) {
        ranges.RangeSize = chosen[0].toLongLong() * 1024 * 1024;
        ranges.Connections = chosen[1].toInt();
    }
    if (oneConnection)
        ranges.Connections = 1;
    DownloadBackup(
        request, [](const QString&) {}, {}, ranges);
    return QFileInfo(path).size();
}

// Stops the first download at half the object and runs it again; the bytes each run fetched.
QString ResumeHalf(const TS3ConnectionInfo& info, const QString& bucket, const QString& key,
                   const QString& path) {
    TDownloadRequest request = BackupRequest(info, bucket, key, path);
    std::stop_source stop;
    request.Limits.Stop = stop.get_token();
    qint64 total = 0;
    qint64 fetched = 0;
    TDownloadProgress progress;
    // The second run starts a transfer of what is missing only: the object's size is the first total.
    progress.Start = [&](qint64 bytes) {
        if (total == 0)
            total = bytes;
    };
    progress.Advance = [&](qint64 count) {
        fetched += count;
        if (fetched >= total / 2)
            stop.request_stop();
    };
    try {
        DownloadBackup(
            request, [](const QString&) {}, progress);
        throw std::runtime_error("the download was not stopped");
    } catch (const TOperationStopped&) {
    }
    const qint64 first = std::exchange(fetched, 0);
    request.Limits.Stop = {};
    progress.Advance = [&](qint64 count) { fetched += count; };
    DownloadBackup(
        request, [](const QString&) {}, progress);
    return QStringLiteral("size=%1 fetched_first=%2 fetched_again=%3").arg(total).arg(first).arg(fetched);
}

// The download of a backup that is already there, and the MD5 pass it makes, timed apart.
QString Reuse(const TS3ConnectionInfo& info, const QString& bucket, const QString& key, const QString& path) {
    QElapsedTimer timer;
    timer.start();
    if (DownloadBackup(BackupRequest(info, bucket, key, path), [](const QString&) {}, {}) !=
        TDownloadOutcome::AlreadyThere)
        throw std::runtime_error("the file there was not taken");
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    timer.restart();
    if (FileMd5(path, {}).isEmpty())
        throw std::runtime_error("the file cannot be read");
    const double md5Seconds = double(timer.nsecsElapsed()) / 1e9;
    return QStringLiteral("total_seconds=%1 md5_seconds=%2")
        .arg(seconds, 0, 'f', 3)
        .arg(md5Seconds, 0, 'f', 3);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(5);
    const QStringList modes{QString(),
                            QStringLiteral("--no-md5"),
                            QStringLiteral("--backup"),
                            QStringLiteral("--backup-one"),
                            QStringLiteral("--resume-half"),
                            QStringLiteral("--reuse")};
    if ((args.size() != 5 && args.size() != 6) || !modes.contains(mode)) {
        std::fprintf(stderr, "usage: bench_download <endpoint host:port> <bucket> <key> <output file> "
                             "[--no-md5 | --backup | --backup-one | --resume-half | --reuse]\n");
        return 2;
    }
    TS3ConnectionInfo info;
    info.AccountName = QString::fromUtf8(BuildSettings::S3AccessKeyId);
    info.AccountKey = QString::fromUtf8(BuildSettings::S3SecretAccessKey);
    info.Protocol = QStringLiteral("http");
    info.StorageEndpoint = args[1];
    try {
        if (mode == modes[4] || mode == modes[5]) {
            const QString line = mode == modes[4] ? ResumeHalf(info, args[2], args[3], args[4])
                                                  : Reuse(info, args[2], args[3], args[4]);
            std::printf("%s\n", qPrintable(line));
            return 0;
        }
        QElapsedTimer timer;
        timer.start();
        const qint64 bytes = mode.startsWith(QStringLiteral("--backup"))
                                 ? DownloadWithBackup(info, args[2], args[3], args[4], mode == modes[3])
                                 : DownloadStream(info, args[2], args[3], args[4], mode.isEmpty());
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        const double mib = double(bytes) / (1024.0 * 1024.0);
        std::printf("bytes=%lld seconds=%.3f mib_per_s=%.1f peak_rss_kib=%ld\n", bytes, seconds,
                    mib / seconds, PeakRssKiB());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_download: %s\n", error.what());
        return 1;
    }
    return 0;
}
