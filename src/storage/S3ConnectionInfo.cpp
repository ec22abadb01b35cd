#include "storage/S3ConnectionInfo.h"

#include "config/BuildSettings.h"
#include "core/Error.h"

TS3ConnectionInfo TS3ConnectionInfo::FromBuild() {
    TS3ConnectionInfo info;
    info.Protocol = QString::fromUtf8(BuildSettings::S3Scheme);
    info.StorageEndpoint = QString::fromUtf8(BuildSettings::S3Endpoint);
    return info;
}

QString TS3ConnectionInfo::VirtualHost(const QString& BucketName) const {
    if (BucketName.isEmpty())
        return StorageEndpoint;
    return BucketName + u'.' + StorageEndpoint;
}

QString TS3ConnectionInfo::StorageURL(const QString& BucketName) const {
    return Protocol + QStringLiteral("://") + VirtualHost(BucketName);
}

QStringList SplitBucketSetting(const QString& text) {
    // Every "/" ends a piece, empty or not; what follows the last "/" is a piece only when not empty.
    QStringList pieces = text.split(u'/', Qt::KeepEmptyParts);
    if (pieces.last().isEmpty())
        pieces.removeLast();
    if (pieces.size() != 2)
        throw Error(QStringLiteral("Invalid bucket configuration"));
    return pieces;
}
