#pragma once

#include <QByteArray>
#include <QString>

#include <stop_token>

// The MD5 an ETag stands for, in lower case, when it is a plain one (32 hex digits in quotes, as S3 gives
// for an object uploaded in one piece); empty for any other ETag, such as that of a multipart upload.
QByteArray PlainMd5Of(const QString& etag);

// MD5 of the file's content as 32 lower-case hex digits; empty when it cannot be read. Throws
// TOperationStopped when stop is asked for meanwhile.
QByteArray FileMd5(const QString& path, std::stop_token stop);

// Whether the file at a download's target already holds the object of that size and ETag.
struct TExistingBackup {
    bool Matches = false;
    QString Detail; // how it was told: "MD5 checked", "size and ETag only"; or why it is not the object
};

// Looks at the file at targetPath, which exists: a link or anything but a plain file is not the backup;
// a file of another size is not; for a plain-MD5 ETag the file's MD5 decides, for any other ETag the
// record of the finished download beside it (RecordFileOf) must name the same ETag and size, whole.
TExistingBackup CheckExistingBackup(const QString& targetPath, qint64 size, const QString& etag,
                                    std::stop_token stop);
