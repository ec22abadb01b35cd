#include "restore/DownloadBackup.h"

#include "core/Error.h"
#include "core/Platform.h"

#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <limits>
#include <optional>

namespace {

qint64 ReadContentLength(const TS3NameValueList& properties) {
    const QString text = properties.Value(QStringLiteral("Content-Length"));
    bool ok = false;
    const qint64 length = text.toLongLong(&ok);
    if (!ok || length < 0)
        throw TError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return length;
}

bool IsHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// The MD5 an ETag stands for, in lower case, when it is a plain one (32 hex digits in quotes, as S3 gives
// for an object uploaded in one piece); empty for any other ETag, such as that of a multipart upload.
QByteArray PlainMd5Of(const QString& etag) {
    QStringView digits = QStringView(etag).trimmed();
    if (digits.startsWith(u'"'))
        digits = digits.sliced(1);
    if (digits.endsWith(u'"'))
        digits.chop(1);
    if (digits.size() != 32 || !std::all_of(digits.begin(), digits.end(), IsHexDigit))
        return {};
    return digits.toLatin1().toLower();
}

void DownloadWhole(const TDownloadRequest& request, const TDownloadProgress& progress,
                   const TDownloadRanges& ranges) {
    TS3ConnectionInfo connection = request.Connection;
    const QString bucketName = SplitBucketSetting(request.BucketSetting).at(0);
    const auto service = CreateStorageService(connection, request.BucketSetting, request.Limits);

    // The file is created before anything is asked of the service, so that a second download of the
    // same backup is refused at once; from here on it goes again unless the backup arrives whole.
    // The file is closed before it is removed: Windows refuses to remove a file that is still open.
    std::optional<TS3DownloadStream> file(std::in_place, request.TargetPath);
    auto incomplete = qScopeGuard([&] {
        file.reset();
        QFile::remove(request.TargetPath);
    });
    const TRemovedIfKilled removedIfKilled(request.TargetPath);
    TS3DownloadStream& stream = *file;

    TS3NameValueList properties;
    TS3NameValueList metadata;
    if (!service->GetObjectProperties(bucketName, request.ObjectKey, properties, metadata))
        throw TError(QStringLiteral("The backup \"%1\" is not in the bucket or cannot be read")
                         .arg(request.ObjectKey));
    const qint64 expected = ReadContentLength(properties);
    const QByteArray expectedMd5 = PlainMd5Of(properties.Value(QStringLiteral("ETag")));
    stream.SetHashing(!expectedMd5.isEmpty());
    // A body longer than the size announced ends the download at the first block past it.
    stream.OnProgress = [&](qint64 count) {
        if (stream.Size() > expected)
            throw TError(QStringLiteral("The download of \"%1\" sent more than the %2 bytes announced")
                             .arg(request.ObjectKey, QString::number(expected)));
        if (progress.Advance)
            progress.Advance(count);
    };

    {
        auto reset = qScopeGuard([&] {
            if (progress.Reset)
                progress.Reset();
        });
        if (progress.Start)
            progress.Start(expected);
        if (ranges.InRanges(expected)) {
            const TRangedObject object{bucketName, request.ObjectKey, expected,
                                       properties.Value(QStringLiteral("ETag"))};
            FetchInRanges(*service, object, ranges, stream, progress.Advance);
        } else if (!service->GetObject(bucketName, request.ObjectKey, stream)) {
            throw TError(QStringLiteral("The download of \"%1\" failed: the service answered with status %2")
                             .arg(request.ObjectKey, QString::number(service->LastStatusCode())));
        }
    }
    stream.Flush();
    const qint64 received = stream.Size();
    if (received != expected)
        throw TError(QStringLiteral("The download of \"%1\" ended after %2 of %3 bytes")
                         .arg(request.ObjectKey, QString::number(received), QString::number(expected)));
    if (!expectedMd5.isEmpty() && stream.Md5().toHex() != expectedMd5)
        throw TError(QStringLiteral("The backup \"%1\" arrived damaged: its content does not match the "
                                    "checksum (ETag) the storage gives for it")
                         .arg(request.ObjectKey));

    incomplete.dismiss();
}

} // namespace

void DownloadBackup(const TDownloadRequest& request, const TLogFunction& log,
                    const TDownloadProgress& progress, const TDownloadRanges& ranges) {
    log(QStringLiteral("Downloading backup file"));
    try {
        DownloadWhole(request, progress, ranges);
    } catch (const TOperationStopped&) {
        throw TOperationStopped(QStringLiteral("The download of \"%1\" was stopped").arg(request.ObjectKey));
    }
    log(QStringLiteral("Download completed"));
}
