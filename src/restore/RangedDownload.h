#pragma once

#include "restore/DownloadStream.h"
#include "storage/S3StorageService.h"

#include <QString>

// How a large backup is fetched: as ranges of RangeSize bytes, Connections of them at once, each asked
// for only while the object keeps the ETag it had when its size was read. A range whose connection
// breaks is asked for again from its first missing byte, up to Retries times for each range. 8 MiB and 12
// connections came out best on tools/bench/download/run.sh's link of 40 MiB/s per connection and 20 ms
// before the first byte, with some 30 MiB of peak memory.
struct TDownloadRanges {
    qint64 RangeSize = 8 * 1024 * 1024;
    int Connections = 12;
    int Retries = 3;

    // Objects under two ranges take one GET: ranges gain little there, and cost requests.
    bool InRanges(qint64 size) const { return Connections > 1 && RangeSize > 0 && size >= 2 * RangeSize; }
};

// The object a ranged download fetches, as its HEAD described it.
struct TRangedObject {
    QString Bucket;
    QString Key;
    qint64 Size = 0;
    QString ETag; // sent back in If-Match; empty: no condition
};

// Fetches the object's bytes into stream, each range written at its offset, and calls advance with the
// size of every block received. Throws "The backup "<key>" changed on the server during the download"
// when a range is refused because the ETag no longer matches (412), "The download of "<key>" failed: the
// service answered with status <n>" for any other answer than 206 with the range asked for, the
// transport's error for a range that broke off once too often, and TOperationStopped for a stop.
void FetchInRanges(TS3StorageService& service, const TRangedObject& object, const TDownloadRanges& ranges,
                   TS3DownloadStream& stream, const TS3ProgressEvent& advance);
