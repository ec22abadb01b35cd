#include "storage/S3Addressing.h"

#include "core/Text.h"
#include "storage/S3UrlEncoding.h"

namespace {

bool NeedsSegmentEncoding(const QString& key) {
    return key.contains(u'%') || key.contains(u'?') || key.contains(u'#');
}

} // namespace

QString ObjectUrl(const TS3ConnectionInfo& info, const QString& bucketName, const QString& objectName) {
    QString path = objectName;
    if (NeedsSegmentEncoding(objectName)) {
        QStringList segments;
        for (const QString& segment : objectName.split(u'/'))
            segments.append(QString::fromLatin1(EncodeValue(segment)));
        path = segments.join(u'/');
    }
    return info.StorageURL(bucketName) + u'/' + path;
}

QString ListingUrl(const TS3ConnectionInfo& info, const QString& bucketName, const TS3QueryParams& params) {
    QString url = info.StorageURL(bucketName) + u'/';
    for (qsizetype i = 0; i < params.size(); ++i) {
        const QString value = i == 0 ? TrimmedBlanks(params[i].second).toString() : params[i].second;
        url += i == 0 ? u'?' : u'&';
        url += QString::fromLatin1(EncodeValue(params[i].first));
        if (!value.isEmpty())
            url += u'=' + QString::fromLatin1(EncodeValue(value));
    }
    return url;
}
