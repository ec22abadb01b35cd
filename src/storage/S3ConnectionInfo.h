#pragma once

#include <QString>
#include <QStringList>

// How, and with which account, the storage service is reached.
class TS3ConnectionInfo {
  public:
    QString AccountName;     // access key ID
    QString AccountKey;      // secret access key; never sent
    QString Protocol;        // URL scheme of every request
    QString StorageEndpoint; // host and optional port of the global endpoint
    bool UseDefaultEndpoints = true;

    // Endpoint and scheme of this build; the credentials are left empty (CreateStorageService sets them).
    static TS3ConnectionInfo FromBuild();

    // "<bucket>.<endpoint>", or the endpoint alone for an empty bucket name.
    QString VirtualHost(const QString& BucketName) const;
    // Protocol, "://" and VirtualHost(BucketName); no path, no trailing "/".
    QString StorageURL(const QString& BucketName) const;
};

// Splits "bucket/folder" at every "/"; a "/" at the very end adds no empty piece.
// Throws Error("Invalid bucket configuration") unless there are exactly two pieces.
QStringList SplitBucketSetting(const QString& text);
