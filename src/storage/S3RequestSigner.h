#pragma once

#include "storage/S3ConnectionInfo.h"
#include "storage/S3Results.h"
#include "storage/S3UrlEncoding.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// SHA-256 of empty content: no request of the storage client has a body.
inline constexpr char S3EmptyContentSha256[] =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// The x-amz-date form of a moment: its UTC date and time as yyyyMMddTHHmmssZ, fraction dropped.
QString FormatAmzDate(const QDateTime& moment);

// AWS Signature Version 4 for service "s3": derives the signing key from a seed taken when it is made.
class TS3RequestSigner {
  public:
    explicit TS3RequestSigner(const TS3ConnectionInfo& info);

    // "AWS4-HMAC-SHA256 Credential=<id>/<date>/<region>/s3/aws4_request,SignedHeaders=<names>,
    // Signature=<64 hex digits>" for the given string to sign.
    QString BuildAuthorizationString(const QString& stringToSign, const QString& dateISO,
                                     const QString& region, const QString& signedStrHeaders) const;

  private:
    QString FAccountName;
    QByteArray FKeySeed; // "AWS4" followed by the secret access key
};

// The canonical form of an encoded query: its parameters sorted by name and joined by "&", each as
// name=value (a parameter without "=" gets one).
QByteArray CanonicalQuery(const QByteArray& encodedQuery);

// The canonical request of Signature Version 4, lines joined by line feeds.
QString BuildCanonicalRequest(const QByteArray& method, const TS3RequestUrl& url,
                              const TS3NameValueList& headers, const QStringList& signedHeaderNames);

// "AWS4-HMAC-SHA256", the date, the credential scope and the canonical request's hash, one per line.
QString BuildStringToSign(const QString& amzDate, const QString& region, const QString& canonicalRequest);

// A signed request, ready for the transport.
struct TS3Request {
    QByteArray Method;
    TS3RequestUrl Url;
    TS3NameValueList Headers; // Authorization, host, x-amz-content-sha256, x-amz-date
};

// Takes the URL apart, makes the standard headers for the bucket with x-amz-date from now, and signs
// them together with extraHeaders (lower-case names, such as "range"), which the request carries too.
TS3Request MakeSignedRequest(const TS3ConnectionInfo& info, const TS3RequestSigner& signer,
                             const QByteArray& method, const QString& bucketName, const QString& url,
                             const QDateTime& now, const TS3NameValueList& extraHeaders = {});
