// Downloads one object with the storage client into a file, through the stream the product downloads
// backups into (gathered writes and the MD5 on the way), and prints the throughput and the process's
// peak resident memory.
//
//   bench_download <endpoint host:port> <bucket> <key> <output file> [--no-md5]
//
// --no-md5 leaves the MD5 out, as a download does when the object's ETag is not a plain MD5.
//
// The requests are signed with the build's key pair.
#include "ProcessUsage.h"
#include "config/BuildSettings.h"
#include "restore/DownloadStream.h"
#include "storage/S3StorageService.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <stdexcept>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool hashing = args.size() == 5;
    if (args.size() != 5 && (args.size() != 6 || args[5] != QStringLiteral("--no-md5"))) {
        std::fprintf(stderr,
                     "usage: bench_download <endpoint host:port> <bucket> <key> <output file> [--no-md5]\n");
        return 2;
    }
    TS3ConnectionInfo info;
    info.AccountName = QString::fromUtf8(BuildSettings::S3AccessKeyId);
    info.AccountKey = QString::fromUtf8(BuildSettings::S3SecretAccessKey);
    info.Protocol = QStringLiteral("http");
    info.StorageEndpoint = args[1];
    try {
        TS3DownloadStream stream(args[4]);
        stream.SetHashing(hashing);
        TS3StorageService service(info);
        QElapsedTimer timer;
        timer.start();
        if (!service.GetObject(args[2], args[3], stream)) {
            std::fprintf(stderr, "bench_download: the server answered %d\n", service.LastStatusCode());
            return 1;
        }
        stream.Flush();
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        const double mib = double(stream.Size()) / (1024.0 * 1024.0);
        std::printf("bytes=%lld seconds=%.3f mib_per_s=%.1f peak_rss_kib=%ld\n", stream.Size(), seconds,
                    mib / seconds, PeakRssKiB());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_download: %s\n", error.what());
        return 1;
    }
    return 0;
}
