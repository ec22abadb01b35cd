#include "storage/S3RequestSigner.h"

#include "storage/S3Crypto.h"

#include <QLocale>

#include <algorithm>
#include <utility>

namespace {

constexpr char Algorithm[] = "AWS4-HMAC-SHA256";

// Every request goes to the global endpoint (a virtual host of it, or the endpoint itself for path-style
// addressing), whose region this is.
constexpr char GlobalEndpointRegion[] = "us-east-1";

QString CredentialScope(const QString& dateIso, const QString& region) {
    return dateIso + u'/' + region + QStringLiteral("/s3/aws4_request");
}

} // namespace

QString FormatAmzDate(const QDateTime& moment) {
    return QLocale::c().toString(moment.toUTC(), QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

TS3RequestSigner::TS3RequestSigner(const TS3ConnectionInfo& info)
    : FAccountName(info.AccountName)
    , FKeySeed("AWS4" + info.AccountKey.toUtf8()) {}

QString TS3RequestSigner::BuildAuthorizationString(const QString& stringToSign, const QString& dateISO,
                                                   const QString& region,
                                                   const QString& signedStrHeaders) const {
    const QByteArray dateKey = HmacSha256(FKeySeed, dateISO.toUtf8());
    const QByteArray regionKey = HmacSha256(dateKey, region.toUtf8());
    const QByteArray serviceKey = HmacSha256(regionKey, "s3");
    const QByteArray signingKey = HmacSha256(serviceKey, "aws4_request");
    const QByteArray signature = HmacSha256(signingKey, stringToSign.toUtf8()).toHex();
    return QLatin1StringView(Algorithm) + QStringLiteral(" Credential=") + FAccountName + u'/' +
           CredentialScope(dateISO, region) + QStringLiteral(",SignedHeaders=") + signedStrHeaders +
           QStringLiteral(",Signature=") + QString::fromLatin1(signature);
}

QByteArray CanonicalQuery(const QByteArray& encodedQuery) {
    if (encodedQuery.isEmpty())
        return {};
    QByteArrayList parameters = encodedQuery.split('&');
    for (QByteArray& parameter : parameters) {
        if (!parameter.contains('='))
            parameter.append('=');
    }
    // By name, then by value for repeated names.
    std::sort(parameters.begin(), parameters.end(), [](const QByteArray& a, const QByteArray& b) {
        const qsizetype aName = a.indexOf('=');
        const qsizetype bName = b.indexOf('=');
        return std::pair(a.left(aName), a.mid(aName)) < std::pair(b.left(bName), b.mid(bName));
    });
    return parameters.join('&');
}

QString BuildCanonicalRequest(const QByteArray& method, const TS3RequestUrl& url,
                              const TS3NameValueList& headers, const QStringList& signedHeaderNames) {
    QStringList lines{QString::fromLatin1(method), QString::fromLatin1(url.EncodedPath),
                      QString::fromLatin1(CanonicalQuery(url.EncodedQuery))};
    for (const QString& name : signedHeaderNames)
        lines.append(name.toLower() + u':' + headers.Value(name));
    lines.append(QString());
    lines.append(signedHeaderNames.join(u';'));
    lines.append(headers.Value(QStringLiteral("x-amz-content-sha256")));
    return lines.join(u'\n');
}

QString BuildStringToSign(const QString& amzDate, const QString& region, const QString& canonicalRequest) {
    return QLatin1StringView(Algorithm) + u'\n' + amzDate + u'\n' + CredentialScope(amzDate.left(8), region) +
           u'\n' + QString::fromLatin1(Sha256Hex(canonicalRequest.toUtf8()));
}

TS3Request MakeSignedRequest(const TS3ConnectionInfo& info, const TS3RequestSigner& signer,
                             const QByteArray& method, const QString& bucketName, const QString& url,
                             const QDateTime& now, const TS3NameValueList& extraHeaders) {
    TS3NameValueList standard;
    standard.Add(QStringLiteral("host"), info.RequestHost(bucketName));
    standard.Add(QStringLiteral("x-amz-content-sha256"), QLatin1StringView(S3EmptyContentSha256));
    standard.Add(QStringLiteral("x-amz-date"), FormatAmzDate(now));
    QStringList signedHeaderNames{QStringLiteral("host"), QStringLiteral("x-amz-content-sha256"),
                                  QStringLiteral("x-amz-date")};
    for (const auto& [name, value] : extraHeaders.Entries()) {
        standard.Add(name, value);
        signedHeaderNames.append(name);
    }
    // The canonical request lists the signed headers by name.
    signedHeaderNames.sort();

    TS3Request request{method, ParseRequestUrl(url), {}};
    const QString amzDate = standard.Value(QStringLiteral("x-amz-date"));
    const QString region = QLatin1StringView(GlobalEndpointRegion);
    const QString canonicalRequest = BuildCanonicalRequest(method, request.Url, standard, signedHeaderNames);
    request.Headers.Add(QStringLiteral("Authorization"),
                        signer.BuildAuthorizationString(BuildStringToSign(amzDate, region, canonicalRequest),
                                                        amzDate.left(8), region,
                                                        signedHeaderNames.join(u';')));
    for (const auto& [name, value] : standard.Entries())
        request.Headers.Add(name, value);
    return request;
}
