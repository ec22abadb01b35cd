#pragma once

#include "storage/S3ConnectionInfo.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The s3rver instance that the CTest fixture "s3rver" starts for the whole test run. Tests share it,
// so each test works in buckets of its own (use UniqueBucketName).
class TS3TestServer {
  public:
    // Reads the port the fixture left in the test state folder; fails the test when absent.
    static TS3TestServer FromFixture();

    quint16 Port() const { return FPort; }
    // Endpoint "s3.localhost:<port>", scheme http and the test build's key pair.
    TS3ConnectionInfo ConnectionInfo() const;
    // A bucket name no other test uses, starting with the given stem.
    static QString UniqueBucketName(const QString& stem);

    void CreateBucket(const QString& bucket);
    // Extra request headers (for instance "x-amz-meta-origin") become the object's metadata.
    void PutObject(const QString& bucket, const QString& key, const QByteArray& data,
                   const QList<QPair<QByteArray, QByteArray>>& headers = {});
    void PutFile(const QString& bucket, const QString& key, const QString& path);
    void DeleteObject(const QString& bucket, const QString& key);

  private:
    explicit TS3TestServer(quint16 port)
        : FPort(port) {}
    quint16 FPort;
};
