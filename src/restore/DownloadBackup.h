#pragma once

#include "restore/DownloadStream.h"
#include "restore/LogSink.h"
#include "restore/RangedDownload.h"
#include "storage/S3ConnectionInfo.h"
#include "storage/S3StorageService.h"

#include <QString>

#include <functional>

// What a download needs to know, all fixed before it starts.
struct TDownloadRequest {
    TS3ConnectionInfo Connection; // the window's storage connection data
    QString BucketSetting;        // "bucket/folder"
    QString ObjectKey;            // the backup's full key (its catalogue Path)
    QString TargetPath;           // the local file, see TargetPath()
    TS3TransportLimits Limits;    // the product keeps the defaults
    QString Name;                 // the backup as the grid names it, for the log; empty: the key
    bool ReplaceExisting = false; // a file at the target that is not this backup is replaced
};

// Where a download reports its progress, called on the download's thread. Any of them may be left empty.
struct TDownloadProgress {
    std::function<void(qint64 totalBytes)> Start; // the transfer of that many bytes begins
    TS3ProgressEvent Advance;                     // one block of ACount bytes arrived
    std::function<void()> Reset;                  // the transfer has ended
};

enum class TDownloadOutcome {
    Downloaded,   // the backup was fetched into the target
    AlreadyThere, // the target already held this backup; nothing was fetched
    TargetDiffers // the target holds something else and the request does not replace it; nothing changed
};

// The files a download keeps beside its target (see TDownloadRecord).
QString PartialFileOf(const QString& targetPath); // "<target>.part", the download in progress
QString RecordFileOf(const QString& targetPath);  // "<target>.etag", the finished download's record

// Downloads one backup into the target file, which is never opened for writing: the bytes go into
// "<target>.part", which takes the target's name only once it is whole and checked, so a stop or a failure
// never costs a copy that was there. The object's size and ETag are read first. A target that holds this
// backup already (its size and MD5 match; for a multipart ETag, its size and the record of its download)
// is kept as it is (AlreadyThere); one that holds something else is left alone (TargetDiffers) unless the
// request replaces it. A ".part" that an earlier download of the same object (same ETag and size) left,
// stopped or killed, is continued from the bytes its record names; one of another object starts again.
// A large object, and every resumed one, is fetched in ranges (see FetchInRanges). The backup counts as
// arrived when the file holds exactly Content-Length bytes and, when the ETag is a plain MD5 (32 hex
// digits), their MD5 equals it; a multipart ETag allows the size and ETag checks only.
// The log tells the story: where the backup goes and how much of it ("resumed at 1,234 of 3,072 MiB"),
// 'Backup "<name>" saved to <target> (3,072 MiB, MD5 checked)' or "(..., size and ETag only)", and, for a
// failure, a last line saying that it failed. A stop asked for through the limits' token ends it with
// TOperationStopped "The download of "<name>" was stopped"; the ".part" stays for the next download when it
// can be continued (a ranged one) and goes otherwise, as it goes after a failure that shows its bytes are
// of no use (another object, a wrong MD5). A ".part" held by a download in another process fails with
// "The backup "<name>" is being downloaded by another Corvane". Runs on any thread; progress is called on
// it. The product keeps the default ranges; tests and benchmarks choose their own.
TDownloadOutcome DownloadBackup(const TDownloadRequest& request, const TLogFunction& log,
                                const TDownloadProgress& progress, const TDownloadRanges& ranges = {});
