#pragma once

#include "restore/BackgroundMd5.h"

#include <QString>

#include <optional>

// What a download knows of a file it wrote, kept in a small file beside it: the object's ETag and size,
// and the ranges of the file that hold the object's bytes. Beside a partial download ("<name>.part.etag")
// it lets a later download of the same object go on from there; beside a finished one ("<name>.etag") it
// tells a later download that the file is that object when no MD5 can show it (a multipart ETag).
struct TDownloadRecord {
    QString ETag;
    qint64 Size = 0;
    TByteExtents Extents;

    // The number of the object's bytes the file holds.
    qint64 Held() const;
    // The ranges of the object the file lacks, in order.
    TByteExtents Missing() const;
    bool operator==(const TDownloadRecord&) const = default;
};

// The record in the file at path; none when there is no such file, when the path is a link, or when its
// content is not a record (written halfway when the process was killed, say).
std::optional<TDownloadRecord> ReadDownloadRecord(const QString& path);
// Writes the record into the file at path, never through a link there. Throws TError
// "Cannot create file "<path>". <system text>" or "Cannot write file ...".
void WriteDownloadRecord(const QString& path, const TDownloadRecord& record);
