#include "storage/S3ConnectionInfo.h"

#include "config/BuildSettings.h"
#include "core/Error.h"
#include "storage/S3UrlEncoding.h"

TS3ConnectionInfo TS3ConnectionInfo::FromBuild() {
    TS3ConnectionInfo info;
    info.Protocol = QString::fromUtf8(BuildSettings::S3Scheme);
    info.StorageEndpoint = QString::fromUtf8(BuildSettings::S3Endpoint);
    return info;
}

bool TS3ConnectionInfo::UsesPathStyle(const QString& bucketName) const {
    if (!bucketName.contains(u'.'))
        return false;
    return PathStyle == TS3PathStyle::DottedAlways ||
           Protocol.compare(QLatin1StringView("https"), Qt::CaseInsensitive) == 0;
}

QString TS3ConnectionInfo::VirtualHost(const QString& bucketName) const {
    if (bucketName.isEmpty())
        return StorageEndpoint;
    return bucketName + u'.' + StorageEndpoint;
}

QString TS3ConnectionInfo::RequestHost(const QString& bucketName) const {
    return UsesPathStyle(bucketName) ? StorageEndpoint : VirtualHost(bucketName);
}

QString TS3ConnectionInfo::StorageURL(const QString& bucketName) const {
    const QString root = Protocol + QStringLiteral("://") + RequestHost(bucketName);
    if (!UsesPathStyle(bucketName))
        return root;
    return root + u'/' + QString::fromLatin1(EncodeValue(bucketName));
}

QStringList SplitBucketSetting(const QString& text) {
    // Every "/" ends a piece, empty or not; what follows the last "/" is a piece only when not empty.
    QStringList pieces = text.split(u'/', Qt::KeepEmptyParts);
    if (pieces.last().isEmpty())
        pieces.removeLast();
    if (pieces.size() != 2)
        throw TError(QStringLiteral("Invalid bucket configuration"));
    return pieces;
}
