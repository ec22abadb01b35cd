#include "catalogue/CatalogueFill.h"

#include "catalogue/CatalogueTimestamp.h"
#include "core/Error.h"
#include "core/ShortName.h"
#include "storage/S3BodySinks.h"

#include <QLocale>
#include <QSet>

namespace {

constexpr qint64 Mebibyte = 1024 * 1024;

QString CannotList(const QString& bucket, const QString& reason) {
    return QStringLiteral("Cannot list bucket \"%1\": %2").arg(bucket, reason);
}

TError ListingError(const QString& bucket, const std::optional<TS3ErrorDocument>& error) {
    const QString reason = error ? QStringLiteral("%1: %2").arg(error->Code, error->Message)
                                 : QStringLiteral("the answer was not a bucket listing");
    return TError(CannotList(bucket, reason));
}

// The key without the folder prefix at its start, as the catalogue names its backups: a view into the
// key. A name longer than the grid's names may be is cut into buffer, ending with the key's short hash
// (NameWithinBytes), so that two keys never share a name nor, through it, a local file.
QByteArrayView NameInFolder(QByteArrayView key, QByteArrayView prefix, QByteArray& buffer) {
    const QByteArrayView name = key.startsWith(prefix) ? key.sliced(prefix.size()) : key;
    if (name.size() <= TCatalogueTable::TextFieldWidth)
        return name;
    buffer = NameWithinBytes(name, TCatalogueTable::TextFieldWidth, key);
    return buffer;
}

// Adds the record for one listed object, or nothing for a sub-folder marker, an object without a
// name of its own or an empty object. False for a key too long for the catalogue's path, which cut
// short would name another object.
bool AddObject(TCatalogueRecords& records, const TS3ListedObject& object, QByteArrayView folderPrefix,
               QByteArray& nameBuffer) {
    const QByteArrayView name = NameInFolder(object.Key, folderPrefix, nameBuffer);
    if (name.isEmpty() || name.endsWith('/') || object.Size <= 0)
        return true;
    if (object.Key.size() > TCatalogueTable::PathFieldWidth)
        return false;
    const qint64 lastModified = ReadIsoTimestampMsecs(object.LastModified);
    records.Append({name, object.LastModified, object.Size, object.Key, object.Size / Mebibyte,
                    TRecordTime::InCatalogueZone(lastModified)});
    return true;
}

// One page of the folder's listing.
TS3ListingPage ListPage(TS3StorageService& service, const QString& bucket, const TS3QueryParams& params) {
    try {
        std::optional<TS3ListingPage> page = service.GetListingPage(bucket, params);
        if (!page)
            throw ListingError(bucket, service.LastErrorDocument());
        return std::move(*page);
    } catch (const TS3ListingTooLarge& error) {
        throw TError(CannotList(bucket, error.Reason()));
    }
}

// Where the next page starts: the service's NextMarker, or else the last key of this page.
QString NextMarker(const TS3ListingPage& page, const QString& bucket, QSet<QString>& earlierMarkers) {
    QString marker = QString::fromUtf8(page.NextMarker);
    if (marker.isEmpty())
        marker = QString::fromUtf8(page.LastKey);
    // A truncated page that does not move the listing on, or that leads back to a page already read,
    // would have the same pages asked for again and again.
    if (marker.isEmpty())
        throw TError(CannotList(bucket, QStringLiteral("the service reported more keys without moving on")));
    if (earlierMarkers.contains(marker))
        throw TError(CannotList(
            bucket, QStringLiteral("the service led the listing back to \"%1\", where it had been before")
                        .arg(marker)));
    earlierMarkers.insert(marker);
    return marker;
}

QString SkippedKeysMessage(int count) {
    const QString keys = count == 1 ? QStringLiteral("1 key") : QStringLiteral("%1 keys").arg(count);
    return QStringLiteral("Skipped %1 of the listing that cannot be represented (a NUL character, bytes that "
                          "are not text, or more than %2 bytes)")
        .arg(keys)
        .arg(TCatalogueTable::PathFieldWidth);
}

QString Number(qint64 value) {
    return QLocale(QLocale::English).toString(value);
}

// Counts the page in, tells the progress and the log, and refuses a listing past the options' limits.
void CountPage(TListingCount& count, const TS3ListingPage& page, const QString& bucket,
               const TListingOptions& options) {
    ++count.Pages;
    count.Keys += qint64(page.Objects.size()) + page.SkippedKeys;
    if (options.Progress)
        options.Progress(count);
    if (options.Log && count.Pages % ListingLogPages == 0)
        options.Log(QStringLiteral("Listing \"%1\": %2 keys on %3 pages so far")
                        .arg(bucket, Number(count.Keys), Number(count.Pages)));
    if (count.Keys > options.MaxKeys)
        throw TError(
            CannotList(bucket, QStringLiteral("the listing holds more than %1 keys, more than Corvane lists")
                                   .arg(Number(options.MaxKeys))));
    if (page.IsTruncated && count.Pages >= options.MaxPages)
        throw TError(CannotList(bucket, QStringLiteral("the listing goes on past %1 pages, more than Corvane "
                                                       "reads")
                                            .arg(Number(options.MaxPages))));
}

} // namespace

TCatalogueRecords ListCatalogue(TS3ConnectionInfo& info, const QString& bucketSetting,
                                TS3TransportLimits limits, const TListingOptions& options) {
    const std::unique_ptr<TS3StorageService> service = CreateStorageService(info, bucketSetting, limits);
    TCatalogueRecords records(TCatalogueTable::TextFieldWidth, TCatalogueTable::PathFieldWidth);

    const QStringList pieces = SplitBucketSetting(bucketSetting);
    const QString& bucket = pieces[0];
    const QString folderPrefix = pieces[1] + u'/';
    const QByteArray folderBytes = folderPrefix.toUtf8();

    QString marker;
    QSet<QString> earlierMarkers;
    QByteArray nameBuffer;
    int skipped = 0;
    TListingCount count;
    for (;;) {
        TS3QueryParams params{{QStringLiteral("prefix"), folderPrefix}};
        if (!marker.isEmpty())
            params.append({QStringLiteral("marker"), marker});
        if (options.PageSize > 0)
            params.append({QStringLiteral("max-keys"), QString::number(options.PageSize)});

        const TS3ListingPage page = ListPage(*service, bucket, params);
        CountPage(count, page, bucket, options);
        skipped += page.SkippedKeys;
        for (const TS3ListedObject& object : page.Objects) {
            if (!AddObject(records, object, folderBytes, nameBuffer))
                ++skipped;
        }
        if (!page.IsTruncated)
            break;
        marker = NextMarker(page, bucket, earlierMarkers);
    }
    if (skipped > 0 && options.Log)
        options.Log(SkippedKeysMessage(skipped));
    return records;
}
