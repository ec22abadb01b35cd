#include "restore/DownloadBackup.h"

#include "core/Platform.h"

#include <QFile>

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace {

[[noreturn]] void Fail(const QString& message) {
    throw std::runtime_error(message.toStdString());
}

// Removes the file of a download that did not complete, unless it is released first: a partial body or
// an error document must never be left behind looking like a backup.
class TIncompleteFile {
  public:
    explicit TIncompleteFile(QString path)
        : path_(std::move(path)) {}
    ~TIncompleteFile() {
        if (!released_)
            QFile::remove(path_);
    }
    TIncompleteFile(const TIncompleteFile&) = delete;
    TIncompleteFile& operator=(const TIncompleteFile&) = delete;

    void Release() { released_ = true; }

  private:
    QString path_;
    bool released_ = false;
};

// Resets the bar however the transfer ends.
class TProgressReset {
  public:
    explicit TProgressReset(const std::function<void()>& reset)
        : reset_(reset) {}
    ~TProgressReset() {
        if (reset_)
            reset_();
    }
    TProgressReset(const TProgressReset&) = delete;
    TProgressReset& operator=(const TProgressReset&) = delete;

  private:
    const std::function<void()>& reset_;
};

qint64 ReadContentLength(const TS3NameValueList& properties) {
    const QString text = properties.Value(QStringLiteral("Content-Length"));
    bool ok = false;
    const qint64 length = text.toLongLong(&ok);
    if (!ok || length < 0)
        Fail(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return length;
}

} // namespace

int ProgressMaximum(qint64 sizeBytes) {
    return int(std::clamp<qint64>(sizeBytes / 1024, 0, std::numeric_limits<int>::max()));
}

int ProgressAfterBlock(int position, qint64 ACount, int maximum) {
    return int(std::clamp<qint64>(qint64(position) + ACount / 1024, 0, std::max(maximum, 0)));
}

void DownloadBackup(const TDownloadRequest& request, const TLogFunction& log,
                    const TDownloadProgress& progress) {
    log(QStringLiteral("Downloading backup file"));

    TS3ConnectionInfo connection = request.Connection;
    const QString bucketName = SplitBucketSetting(request.BucketSetting).at(0);
    const auto service = CreateStorageService(connection, request.BucketSetting, request.Limits);

    // The file is created before anything is asked of the service, so that a second download of the
    // same backup is refused at once; from here on it goes again unless the backup arrives whole.
    TS3DownloadStream stream(request.TargetPath);
    TIncompleteFile incomplete(request.TargetPath);
    const RemovedIfKilled removedIfKilled(request.TargetPath);
    stream.OnProgress = progress.Advance;

    TS3NameValueList properties;
    TS3NameValueList metadata;
    if (!service->GetObjectProperties(bucketName, request.ObjectKey, properties, metadata))
        Fail(QStringLiteral("The backup \"%1\" is not in the bucket or cannot be read")
                 .arg(request.ObjectKey));
    const qint64 expected = ReadContentLength(properties);

    {
        TProgressReset reset(progress.Reset);
        if (progress.Start)
            progress.Start(ProgressMaximum(expected));
        if (!service->GetObject(bucketName, request.ObjectKey, stream))
            Fail(QStringLiteral("The download of \"%1\" failed: the service answered with status %2")
                     .arg(request.ObjectKey)
                     .arg(service->LastStatusCode()));
    }
    const qint64 received = stream.Size();
    if (received != expected)
        Fail(QStringLiteral("The download of \"%1\" ended after %2 of %3 bytes")
                 .arg(request.ObjectKey)
                 .arg(received)
                 .arg(expected));

    incomplete.Release();
    log(QStringLiteral("Download completed"));
}
