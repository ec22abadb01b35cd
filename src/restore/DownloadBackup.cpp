#include "restore/DownloadBackup.h"

#include "core/Error.h"
#include "core/Platform.h"
#include "restore/DownloadRecord.h"
#include "restore/ExistingBackup.h"

#include <QFileInfo>
#include <QLocale>
#include <QScopeGuard>

#include <cmath>
#include <optional>

namespace {

constexpr double Mebibyte = 1024.0 * 1024.0;

qint64 ReadContentLength(const TS3NameValueList& properties) {
    const QString text = properties.Value(QStringLiteral("Content-Length"));
    bool ok = false;
    const qint64 length = text.toLongLong(&ok);
    if (!ok || length < 0)
        throw TError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return length;
}

// Whole MiB with thousands separators, as the progress bar shows them: what is there rounded down,
// a total rounded up.
QString MiBText(qint64 bytes, bool roundUp = false) {
    const double mib = double(bytes) / Mebibyte;
    return QLocale(QLocale::English).toString(qint64(roundUp ? std::ceil(mib) : std::floor(mib)));
}

// The bytes fetched do not make the object: keeping them would only have the next download fail alike.
class TUnusablePart : public TError {
  public:
    using TError::TError;
};

// A stop whose message already says what became of the download.
class TDownloadStopped : public TOperationStopped {
  public:
    using TOperationStopped::TOperationStopped;
};

// One download of an object whose size and ETag are known, into the target's ".part".
class TPartDownload {
  public:
    TPartDownload(const TDownloadRequest& request, const QString& name, qint64 size, const QString& etag)
        : FRequest(request)
        , FName(name)
        , FPart(PartialFileOf(request.TargetPath))
        , FRecordPath(FPart + QStringLiteral(".etag"))
        , FRecord{etag, size, {}} {}

    // Opens the ".part" (refused while another download holds it) and takes over what an earlier
    // download of the same object left in it.
    void Open(const TLogFunction& log) {
        try {
            FStream.emplace(FPart, TExclusiveFile::TExisting::Keep);
        } catch (const TFileInUse&) {
            throw TError(QStringLiteral("The backup \"%1\" is being downloaded by another Corvane (\"%2\" is "
                                        "in use)")
                             .arg(FName, FPart));
        }
        // Set before any byte is counted as written, so that the MD5 starts with the first.
        FStream->SetHashing(!PlainMd5Of(FRecord.ETag).isEmpty());
        const std::optional<TDownloadRecord> earlier = ReadDownloadRecord(FRecordPath);
        // Without an ETag nothing shows that the bytes there are of this object.
        if (earlier && !FRecord.ETag.isEmpty() && earlier->ETag == FRecord.ETag &&
            earlier->Size == FRecord.Size &&
            FStream->Size() >= (earlier->Extents.empty() ? 0 : earlier->Extents.back().second))
            FRecord.Extents = earlier->Extents;
        else if (earlier && earlier->Held() > 0)
            log(QStringLiteral("The partial download \"%1\" is of another version of the backup; it starts "
                               "again")
                    .arg(FPart));
        if (FRecord.Extents.empty())
            FStream->SetSize(0);
        FStream->Adopt(FRecord.Extents);
    }

    TS3DownloadStream& Stream() { return *FStream; }
    const TDownloadRecord& Record() const { return FRecord; }
    const QString& Part() const { return FPart; }

    // Notes in the record what the file now holds, for a download that goes on from there.
    void SaveRecord() {
        FRecord.Extents = FStream->Extents();
        WriteDownloadRecord(FRecordPath, FRecord);
    }

    // The ".part" takes the target's name, replacing what was there, and its record goes with it.
    void Finish() {
        FStream.reset();
        RenameFile(FPart, FRequest.TargetPath);
        FRecord.Extents = {{0, FRecord.Size}};
        WriteDownloadRecord(RecordFileOf(FRequest.TargetPath), FRecord);
        RemoveFile(FRecordPath);
    }

    // Closed before removal: Windows refuses to remove a file that is still open.
    void Remove() {
        FStream.reset();
        RemoveFile(FPart);
        RemoveFile(FRecordPath);
    }

  private:
    const TDownloadRequest& FRequest;
    const QString& FName;
    QString FPart;
    QString FRecordPath;
    TDownloadRecord FRecord;
    std::optional<TS3DownloadStream> FStream;
};

TDownloadOutcome Download(const TDownloadRequest& request, const QString& name, const TLogFunction& log,
                          const TDownloadProgress& progress, const TDownloadRanges& ranges) {
    TS3ConnectionInfo connection = request.Connection;
    const QString bucketName = SplitBucketSetting(request.BucketSetting).at(0);
    const auto service = CreateStorageService(connection, request.BucketSetting, request.Limits);

    TS3NameValueList properties;
    TS3NameValueList metadata;
    if (!service->GetObjectProperties(bucketName, request.ObjectKey, properties, metadata))
        throw TError(QStringLiteral("The backup \"%1\" is not in the bucket or cannot be read").arg(name));
    const qint64 expected = ReadContentLength(properties);
    const QString etag = properties.Value(QStringLiteral("ETag"));
    const QByteArray expectedMd5 = PlainMd5Of(etag);
    const QString sizeText = MiBText(expected, true) + QStringLiteral(" MiB");

    const QFileInfo existing(request.TargetPath);
    if (existing.exists() || existing.isSymLink()) {
        const TExistingBackup check =
            CheckExistingBackup(request.TargetPath, expected, etag, request.Limits.Stop);
        if (check.Matches) {
            log(QStringLiteral("Backup \"%1\" is already in %2 (%3, %4); it is not downloaded again")
                    .arg(name, request.TargetPath, sizeText, check.Detail));
            return TDownloadOutcome::AlreadyThere;
        }
        if (!request.ReplaceExisting) {
            log(QStringLiteral("%1 is there but is not the backup \"%2\": %3")
                    .arg(request.TargetPath, name, check.Detail));
            return TDownloadOutcome::TargetDiffers;
        }
    }

    TPartDownload part(request, name, expected, etag);
    part.Open(log);
    TS3DownloadStream& stream = part.Stream();
    const TDownloadRecord earlier = part.Record();
    // Resumed downloads go in ranges too, pinned to the ETag that their first part came with.
    const bool inRanges = ranges.InRanges(expected) || earlier.Held() > 0;
    // A download in one GET cannot be continued: its ".part" goes with the process when it is killed.
    std::optional<TRemovedIfKilled> removedIfKilled;
    if (!inRanges)
        removedIfKilled.emplace(part.Part());
    else
        part.SaveRecord();
    // A failure keeps what can be continued; the failure's own error is the one to report.
    auto failed = qScopeGuard([&] {
        try {
            if (!inRanges || stream.Extents().empty())
                part.Remove();
            else
                part.SaveRecord();
        } catch (const TError&) {
        }
    });

    if (earlier.Held() > 0)
        log(QStringLiteral("Downloading backup \"%1\" to %2, resumed at %3 of %4")
                .arg(name, request.TargetPath, MiBText(earlier.Held()), sizeText));
    else
        log(QStringLiteral("Downloading backup \"%1\" (%2) to %3").arg(name, sizeText, request.TargetPath));
    // A body longer than the size announced ends the download at the first block past it.
    stream.OnProgress = [&](qint64 count) {
        if (stream.Size() > expected)
            throw TUnusablePart(QStringLiteral("The download of \"%1\" sent more than the %2 bytes announced")
                                    .arg(name, QString::number(expected)));
        if (progress.Advance)
            progress.Advance(count);
    };

    try {
        auto reset = qScopeGuard([&] {
            if (progress.Reset)
                progress.Reset();
        });
        const TByteExtents missing = earlier.Missing();
        if (progress.Start)
            progress.Start(expected - earlier.Held());
        if (inRanges) {
            const TRangedObject object{bucketName, request.ObjectKey, name, expected, etag};
            FetchInRanges(*service, object, ranges, missing, stream, progress.Advance,
                          [&] { part.SaveRecord(); });
        } else if (!service->GetObject(bucketName, request.ObjectKey, stream)) {
            throw TError(QStringLiteral("The download of \"%1\" failed: the service answered with status %2")
                             .arg(name, QString::number(service->LastStatusCode())));
        }
        stream.Flush();
        const qint64 received = stream.Size();
        if (received != expected)
            throw TUnusablePart(QStringLiteral("The download of \"%1\" ended after %2 of %3 bytes")
                                    .arg(name, QString::number(received), QString::number(expected)));
        if (!expectedMd5.isEmpty() && stream.Md5().toHex() != expectedMd5)
            throw TUnusablePart(
                QStringLiteral("The backup \"%1\" arrived damaged: its content does not match "
                               "the checksum (ETag) the storage gives for it")
                    .arg(name));
    } catch (const TUnusablePart&) {
        failed.dismiss();
        part.Remove();
        throw;
    } catch (const TObjectChanged&) {
        failed.dismiss();
        part.Remove();
        throw;
    } catch (const TOperationStopped&) {
        const bool kept = inRanges && !stream.Extents().empty();
        QString message = QStringLiteral("The download of \"%1\" was stopped").arg(name);
        if (kept)
            message +=
                QStringLiteral(" at %1 of %2; \"%3\" is kept, and the next download of this backup goes "
                               "on from there")
                    .arg(MiBText(TDownloadRecord{etag, expected, stream.Extents()}.Held()), sizeText,
                         part.Part());
        throw TDownloadStopped(message);
    }

    failed.dismiss();
    removedIfKilled.reset();
    part.Finish();
    log(QStringLiteral("Backup \"%1\" saved to %2 (%3, %4)")
            .arg(name, request.TargetPath, sizeText,
                 expectedMd5.isEmpty() ? QStringLiteral("size and ETag only")
                                       : QStringLiteral("MD5 checked")));
    return TDownloadOutcome::Downloaded;
}

} // namespace

QString PartialFileOf(const QString& targetPath) {
    return targetPath + QStringLiteral(".part");
}

QString RecordFileOf(const QString& targetPath) {
    return targetPath + QStringLiteral(".etag");
}

TDownloadOutcome DownloadBackup(const TDownloadRequest& request, const TLogFunction& log,
                                const TDownloadProgress& progress, const TDownloadRanges& ranges) {
    const QString name = request.Name.isEmpty() ? request.ObjectKey : request.Name;
    try {
        return Download(request, name, log, progress, ranges);
    } catch (const TDownloadStopped&) {
        throw;
    } catch (const TOperationStopped&) {
        throw TOperationStopped(QStringLiteral("The download of \"%1\" was stopped").arg(name));
    } catch (const std::exception& failure) {
        log(QStringLiteral("Download failed: ") + MessageOf(failure));
        throw;
    }
}
