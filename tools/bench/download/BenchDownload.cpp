// Downloads one object with the storage client into a file and prints the throughput and the
// process's peak resident memory.
//
//   bench_download <endpoint host:port> <bucket> <key> <output file>
//
// The requests are signed with the build's key pair.
#include "ProcessUsage.h"
#include "config/BuildSettings.h"
#include "storage/S3StorageService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <stdexcept>

namespace {

// A plain file: every byte-array write goes straight to the file, unbuffered.
class TBenchFileStream : public TS3Stream {
  public:
    explicit TBenchFileStream(const QString& path)
        : file_(path) {
        if (!file_.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Unbuffered))
            throw std::runtime_error(file_.errorString().toStdString());
    }
    qint64 Write(const void* Buffer, qint64 Count) override {
        return file_.write(static_cast<const char*>(Buffer), Count);
    }
    qint64 Write(std::span<const char> Buffer, qint64 Offset, qint64 Count) override {
        return file_.write(Buffer.data() + Offset, Count);
    }
    qint64 Position() const override { return file_.pos(); }
    void SetPosition(qint64 position) override { file_.seek(position); }
    qint64 Size() const override { return file_.size(); }
    void SetSize(qint64 size) override { file_.resize(size); }

  private:
    QFile file_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: bench_download <endpoint host:port> <bucket> <key> <output file>\n");
        return 2;
    }
    TS3ConnectionInfo info;
    info.AccountName = QString::fromUtf8(BuildSettings::S3AccessKeyId);
    info.AccountKey = QString::fromUtf8(BuildSettings::S3SecretAccessKey);
    info.Protocol = QStringLiteral("http");
    info.StorageEndpoint = args[1];
    try {
        TBenchFileStream stream(args[4]);
        TS3StorageService service(info);
        QElapsedTimer timer;
        timer.start();
        if (!service.GetObject(args[2], args[3], stream)) {
            std::fprintf(stderr, "bench_download: the server answered %d\n", service.LastStatusCode());
            return 1;
        }
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
