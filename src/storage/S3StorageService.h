#pragma once

#include "storage/S3ConnectionInfo.h"
#include "storage/S3RequestSigner.h"
#include "storage/S3Results.h"
#include "storage/S3Stream.h"
#include "storage/S3TransportLimits.h"

#include <QDateTime>

#include <functional>
#include <memory>
#include <optional>

// The clock that dates each request (x-amz-date). The product uses the system clock; tests set their own.
using TS3Clock = std::function<QDateTime()>;

// Signed requests to S3 for one user operation. Keeps no connection from one request to the next.
// The service keeps its own copy of the connection data, taken when it is made.
// Requests that cannot be carried out throw TError with the transport's message; a listing answer
// larger than 64 MiB, or holding more elements than its reader parses, ends its request with
// TS3ListingTooLarge.
class TS3StorageService {
  public:
    explicit TS3StorageService(const TS3ConnectionInfo& info, TS3TransportLimits limits = {});
    ~TS3StorageService();
    TS3StorageService(const TS3StorageService&) = delete;
    TS3StorageService& operator=(const TS3StorageService&) = delete;

    // One listing page, read for its keys alone (see ReadListingPage). The first parameter is the folder
    // prefix (its value is trimmed of leading and trailing characters at or below the space); later ones,
    // such as "marker", go exactly as given. No result when the answer is not a bucket listing; when it
    // was an S3 error document, LastErrorDocument() then holds its Code and Message.
    std::optional<TS3ListingPage> GetListingPage(const QString& bucketName,
                                                 const TS3QueryParams& optionalParams);
    const std::optional<TS3ErrorDocument>& LastErrorDocument() const;

    // HEAD of one object: true for status 200, with its headers split into properties and metadata.
    bool GetObjectProperties(const QString& bucketName, const QString& objectName,
                             TS3NameValueList& properties, TS3NameValueList& metadata);
    // GET of one object, its body written block by block into objectStream: true for status 200.
    bool GetObject(const QString& bucketName, const QString& objectName, TS3Stream& objectStream);

    // A signed GET of the bytes first to last (both included) of one object, answered only while the
    // object's ETag is etag (If-Match; no condition when etag is empty). For TS3TransferGroup, which
    // sends it with Limits().
    TS3Request RangeRequest(const QString& bucketName, const QString& objectName, qint64 first, qint64 last,
                            const QString& etag) const;
    const TS3TransportLimits& Limits() const;

    // Final status code of the last request made (0 before any).
    int LastStatusCode() const;

    // Replaces the clock that dates the requests.
    void SetClock(TS3Clock clock);

  private:
    class TImpl;
    std::unique_ptr<TImpl> FImpl;
};

// Checks the bucket setting (SplitBucketSetting), puts the built-in credentials into info and makes a
// new service on it.
std::unique_ptr<TS3StorageService> CreateStorageService(TS3ConnectionInfo& info, const QString& bucketSetting,
                                                        TS3TransportLimits limits = {});
