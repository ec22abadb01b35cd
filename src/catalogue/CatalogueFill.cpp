#include "catalogue/CatalogueFill.h"

#include "catalogue/CatalogueTimestamp.h"
#include "core/Error.h"

namespace {

constexpr qint64 Mebibyte = 1024 * 1024;

Error ListingError(const QString& bucket, const std::optional<TS3ErrorDocument>& error) {
    const QString reason = error ? QStringLiteral("%1: %2").arg(error->Code, error->Message)
                                 : QStringLiteral("the answer was not a bucket listing");
    return Error(QStringLiteral("Cannot list bucket \"%1\": %2").arg(bucket, reason));
}

// Adds the record for one listed object, or nothing for a sub-folder marker, an object without a
// name of its own or an empty object. The time is read before the record is added, so an unreadable
// time leaves no half-made record behind.
void AddObject(TCatalogueTable& table, const TS3ObjectResult& object, const QString& folderPrefix) {
    const QString name = QString(object.Name).remove(folderPrefix);
    if (name.isEmpty() || name.endsWith(u'/') || object.Size <= 0)
        return;
    const QDateTime lastModified = ToCatalogueZone(ReadIsoTimestamp(object.LastModified));
    table.Append({name, object.LastModified, object.Size, object.Name, object.Size / Mebibyte, lastModified});
}

// One page of the folder's listing. A listing that fails on a later page leaves the catalogue empty, as
// one that fails at once does: the first pages alone, beside the error, would look like the whole folder.
TS3BucketResult ListPage(TS3StorageService& service, const QString& bucket, const TS3QueryParams& params,
                         TCatalogueTable& table) {
    try {
        std::optional<TS3BucketResult> page = service.GetBucket(bucket, params);
        if (!page)
            throw ListingError(bucket, service.LastErrorDocument());
        return std::move(*page);
    } catch (...) {
        table.Empty();
        throw;
    }
}

// Where the next page starts: the service's NextMarker, or else the last key of this page.
QString NextMarker(const TS3BucketResult& page, const QString& bucket, const QString& previousMarker,
                   TCatalogueTable& table) {
    QString marker = page.NextMarker;
    if (marker.isEmpty() && !page.Objects.isEmpty())
        marker = page.Objects.last().Name;
    // A truncated page that does not move the listing on would be asked for again and again.
    if (marker.isEmpty() || marker == previousMarker) {
        table.Empty();
        throw Error(
            QStringLiteral("Cannot list bucket \"%1\": the service reported more keys without moving on")
                .arg(bucket));
    }
    return marker;
}

} // namespace

void FillCatalogue(TCatalogueTable& table, TS3ConnectionInfo& info, const QString& bucketSetting,
                   TS3TransportLimits limits, int maxKeys) {
    const TCatalogueTable::TViewSuspension suspension(table);
    const std::unique_ptr<TS3StorageService> service = CreateStorageService(info, bucketSetting, limits);
    table.Empty();

    const QStringList pieces = SplitBucketSetting(bucketSetting);
    const QString& bucket = pieces[0];
    const QString folderPrefix = pieces[1] + u'/';

    QString marker;
    for (;;) {
        TS3QueryParams params{{QStringLiteral("prefix"), folderPrefix}};
        if (!marker.isEmpty())
            params.append({QStringLiteral("marker"), marker});
        if (maxKeys > 0)
            params.append({QStringLiteral("max-keys"), QString::number(maxKeys)});

        const TS3BucketResult page = ListPage(*service, bucket, params, table);
        for (const TS3ObjectResult& object : page.Objects)
            AddObject(table, object, folderPrefix);
        if (!page.IsTruncated)
            break;
        marker = NextMarker(page, bucket, marker, table);
    }
    table.MoveToFirst();
}
