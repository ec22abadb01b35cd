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
};

// Where a download reports its progress, called on the download's thread. Any of them may be left empty.
struct TDownloadProgress {
    std::function<void(qint64 totalBytes)> Start; // the transfer begins
    TS3ProgressEvent Advance;                     // one block of ACount bytes arrived
    std::function<void()> Reset;                  // the transfer has ended
};

// Downloads one backup into the target file: logs "Downloading backup file", creates the file (which
// fails when another download holds it), reads the object's size, fetches its body block by block while
// the bar moves, resets the bar and logs "Download completed". A large object (see ranges) is
// fetched as ranges over several connections, each range written at its offset and asked for only while
// the object keeps its ETag: an object replaced meanwhile fails with "The backup "<key>" changed on the
// server during the download".
// Returns only when the backup arrived whole: the object's properties were read, the GET was answered
// with 200, the file holds exactly Content-Length bytes and, when the object's ETag is a plain MD5 (32 hex
// digits), the MD5 of the bytes written equals it. Otherwise the file it created is removed and an error
// names the cause ("... arrived damaged ..." for a wrong MD5); a body longer than announced ends the
// download at once. A stop asked for through the limits' token ends it with TOperationStopped "The
// download of "<key>" was stopped", the file removed as well. Runs on any thread; progress is called on it.
// The product keeps the default ranges; tests and benchmarks choose their own.
void DownloadBackup(const TDownloadRequest& request, const TLogFunction& log,
                    const TDownloadProgress& progress, const TDownloadRanges& ranges = {});
