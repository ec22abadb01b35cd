#pragma once

#include <QString>
#include <QStringList>

// When a bucket is addressed path-style ("<endpoint>/<bucket>") rather than as its own host
// ("<bucket>.<endpoint>"). Only a name with a dot needs it: over https such a host cannot match the
// endpoint's wildcard certificate ("*.s3.amazonaws.com" covers one label). The product keeps the
// default; the test servers speak plain http, so tests that exercise path-style choose it for http too.
enum class TS3PathStyle {
    DottedOverHttps, // a dotted bucket name over https
    DottedAlways,    // a dotted bucket name over any scheme
};

// How, and with which account, the storage service is reached.
class TS3ConnectionInfo {
  public:
    QString AccountName;     // access key ID
    QString AccountKey;      // secret access key; never sent
    QString Protocol;        // URL scheme of every request
    QString StorageEndpoint; // host and optional port of the global endpoint
    bool UseDefaultEndpoints = true;
    TS3PathStyle PathStyle = TS3PathStyle::DottedOverHttps;

    // Endpoint and scheme of this build; the credentials are left empty (CreateStorageService sets them).
    static TS3ConnectionInfo FromBuild();

    // True when the bucket is addressed path-style (see TS3PathStyle).
    bool UsesPathStyle(const QString& bucketName) const;
    // "<bucket>.<endpoint>", or the endpoint alone for an empty bucket name.
    QString VirtualHost(const QString& bucketName) const;
    // The host (and port) that the bucket's requests go to and are signed for: the endpoint for
    // path-style, else VirtualHost(bucketName).
    QString RequestHost(const QString& bucketName) const;
    // Where the bucket's addresses begin, without a trailing "/": Protocol, "://" and RequestHost, then
    // for path-style "/" and the bucket name (RFC 3986 encoded).
    QString StorageURL(const QString& bucketName) const;
};

// Splits "bucket/folder" at every "/"; a "/" at the very end adds no empty piece.
// Throws TError("Invalid bucket configuration") unless there are exactly two pieces.
QStringList SplitBucketSetting(const QString& text);
