#pragma once

#include "core/Error.h"
#include "restore/DownloadStream.h"
#include "storage/S3StorageService.h"

#include <QString>

#include <functional>

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
    QString Name; // as the grid shows it, for the messages
    qint64 Size = 0;
    QString ETag; // sent back in If-Match and expected on every answer; empty: no condition
};

// The object is no longer the one the download started on: what was fetched of it is of no use.
class TObjectChanged : public TError {
  public:
    using TError::TError;
};

// Fetches the parts of the object that missing names ([first, end) each) into stream, each range written
// at its offset; calls advance with the size of every block received and rangeDone (when set) whenever a
// range is whole in the file. Every answer is checked before its first byte is written: a 206 must carry
// the range asked for and the object's ETag. Throws TObjectChanged "The backup "<name>" changed on the
// server during the download" for another ETag or a 412; TError "The server sent the whole of "<name>"
// where a part was asked for (status 200)" at the first byte of such an answer; "The download of
// "<name>" failed: the service answered with status <n>" for any other answer; the transport's error for
// a range that broke off once too often; and TOperationStopped for a stop. What arrived before a failure
// or a stop is in the file (see TS3DownloadStream::Extents).
void FetchInRanges(TS3StorageService& service, const TRangedObject& object, const TDownloadRanges& ranges,
                   const TByteExtents& missing, TS3DownloadStream& stream, const TS3ProgressEvent& advance,
                   const std::function<void()>& rangeDone = {});
