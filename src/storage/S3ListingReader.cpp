#include "storage/S3ListingReader.h"

#include "core/Error.h"

#include <pugixml.hpp>

namespace {

bool NameIs(const pugi::xml_node& node, const char* name) {
    return QString::fromUtf8(node.name()).compare(QLatin1StringView(name), Qt::CaseInsensitive) == 0;
}

// The element's text content: every text and CDATA node below it, in document order.
QString TextContent(const pugi::xml_node& node) {
    QByteArray text;
    if (!node)
        return {};
    struct Collector : pugi::xml_tree_walker {
        QByteArray* text;
        bool for_each(pugi::xml_node& child) override {
            if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
                text->append(child.value());
            return true;
        }
    } collector;
    collector.text = &text;
    pugi::xml_node walked = node;
    walked.traverse(collector);
    return QString::fromUtf8(text);
}

// The first child element with this name, letter case ignored.
pugi::xml_node ChildNamed(const pugi::xml_node& parent, const char* name) {
    return parent.find_child([name](const pugi::xml_node& node) { return NameIs(node, name); });
}

// The text of the child with exactly this name, when it exists and holds text.
QString ExactChildText(const pugi::xml_node& parent, const char* name) {
    const pugi::xml_node child = parent.child(name);
    return child ? TextContent(child) : QString();
}

bool IsFalse(const QString& text) {
    return text.compare(u"false", Qt::CaseInsensitive) == 0;
}

qint64 ReadSize(const QString& text) {
    bool ok = false;
    const qint64 size = text.toLongLong(&ok, 10);
    if (!ok)
        throw Error(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return size;
}

TS3ObjectResult ReadObject(const pugi::xml_node& contents) {
    TS3ObjectResult object;
    for (const pugi::xml_node& child : contents.children()) {
        if (child.type() != pugi::node_element)
            continue;
        if (NameIs(child, "Key"))
            object.Name = TextContent(child);
        else if (NameIs(child, "LastModified"))
            object.LastModified = TextContent(child);
        else if (NameIs(child, "ETag"))
            object.ETag = TextContent(child);
        else if (NameIs(child, "StorageClass"))
            object.StorageClass = TextContent(child);
        else if (NameIs(child, "VersionId"))
            object.VersionId = TextContent(child);
        else if (NameIs(child, "IsLatest"))
            object.IsLatest = TextContent(child).compare(u"true", Qt::CaseInsensitive) == 0;
        else if (NameIs(child, "Size"))
            object.Size = ReadSize(TextContent(child));
        else if (NameIs(child, "Owner")) {
            object.OwnerID = ExactChildText(child, "ID");
            object.OwnerDisplayName = ExactChildText(child, "DisplayName");
        }
    }
    return object;
}

TS3BucketResult ReadListing(const pugi::xml_node& root, bool versionListing) {
    TS3BucketResult result;
    for (const pugi::xml_node& child : root.children()) {
        if (child.type() != pugi::node_element)
            continue;
        if (NameIs(child, "Prefix"))
            result.RequestPrefix = TextContent(child);
        else if (NameIs(child, "Delimiter"))
            result.RequestDelimiter = TextContent(child);
        else if (NameIs(child, "Marker") || NameIs(child, "KeyMarker"))
            result.Marker = TextContent(child);
        else if (NameIs(child, "NextMarker"))
            result.NextMarker = TextContent(child);
        else if (versionListing && NameIs(child, "VersionIdMarker"))
            result.VersionIdMarker = TextContent(child);
        else if (NameIs(child, "MaxKeys")) {
            bool ok = false;
            const qint32 maxKeys = TextContent(child).toInt(&ok, 10);
            if (ok)
                result.RequestMaxKeys = maxKeys;
        } else if (NameIs(child, "IsTruncated"))
            result.IsTruncated = !IsFalse(TextContent(child));
        else if (NameIs(child, "Contents") || NameIs(child, "Version")) {
            TS3ObjectResult object = ReadObject(child);
            if (!object.Name.isEmpty())
                result.Objects.append(object);
        } else if (NameIs(child, "CommonPrefixes")) {
            for (const pugi::xml_node& prefix : child.children()) {
                if (prefix.type() != pugi::node_element || !NameIs(prefix, "Prefix"))
                    continue;
                const QString text = TextContent(prefix);
                if (!text.isEmpty())
                    result.Prefixes.append(text);
            }
        }
    }
    return result;
}

} // namespace

TS3ListingAnswer ReadListingAnswer(const QString& text) {
    TS3ListingAnswer answer;
    if (text.isEmpty())
        return answer;
    const QByteArray utf8 = text.toUtf8();
    pugi::xml_document document;
    // Whitespace-only text is kept: a key may consist of blanks.
    if (!document.load_buffer(utf8.constData(), size_t(utf8.size()),
                              pugi::parse_default | pugi::parse_ws_pcdata, pugi::encoding_utf8))
        return answer;
    const pugi::xml_node root = document.document_element();
    if (NameIs(root, "Error")) {
        answer.Error =
            TS3ErrorDocument{TextContent(ChildNamed(root, "Code")), TextContent(ChildNamed(root, "Message"))};
        return answer;
    }
    const bool versionListing = NameIs(root, "ListVersionsResult");
    if (!NameIs(root, "ListBucketResult") && !versionListing)
        return answer;
    const QString name = ExactChildText(root, "Name");
    if (name.isEmpty())
        return answer;
    answer.Listing = ReadListing(root, versionListing);
    answer.Listing->Name = name;
    return answer;
}
