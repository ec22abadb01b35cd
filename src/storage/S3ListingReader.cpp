#include "storage/S3ListingReader.h"

#include "core/Error.h"
#include "core/Text.h"
#include "storage/S3BodySinks.h"
#include "storage/S3XmlText.h"

#include <pugixml.hpp>

#include <QLocale>

#include <algorithm>
#include <deque>

struct TS3ListingPage::TStorage {
    QByteArray Bytes;
    pugi::xml_document Document;
    std::deque<QByteArray> ResolvedTexts; // texts that are not plain in the document
};

TS3ListingPage::TS3ListingPage() = default;
TS3ListingPage::~TS3ListingPage() = default;
TS3ListingPage::TS3ListingPage(TS3ListingPage&&) noexcept = default;
TS3ListingPage& TS3ListingPage::operator=(TS3ListingPage&&) noexcept = default;

namespace {

// The parser keeps a node of some 64 bytes for each element, text and attribute, so a page of "<a/>"
// would take sixteen times its bytes. Each "<" opens at most one element and ends at most one text, and
// each "=" gives at most one attribute: a page with more of them than this is refused unparsed. S3's
// pages of 1,000 keys hold some 25,000.
void CheckMarkup(QByteArrayView bytes) {
    const auto markup =
        std::count(bytes.begin(), bytes.end(), '<') + std::count(bytes.begin(), bytes.end(), '=');
    if (markup > MaxListingPageMarkup)
        throw TS3ListingTooLarge(QStringLiteral("a listing page holds more than %1 elements and attributes")
                                     .arg(QLocale(QLocale::English).toString(MaxListingPageMarkup)));
}

// Parses the bytes where they lie. Whitespace-only text is kept (a key may consist of blanks), and
// references are left to ElementText.
bool Parse(QByteArray& bytes, pugi::xml_document& document) {
    if (bytes.isEmpty())
        return false;
    bytes = ListingAsUtf8(std::move(bytes));
    CheckMarkup(bytes);
    constexpr unsigned Options = pugi::parse_cdata | pugi::parse_eol | pugi::parse_ws_pcdata;
    return !bytes.isEmpty() &&
           document.load_buffer_inplace(bytes.data(), size_t(bytes.size()), Options, pugi::encoding_utf8);
}

QString TextContent(const pugi::xml_node& node) {
    QByteArray scratch;
    return QString::fromUtf8(ElementText(node, scratch).Bytes);
}

// The first child element with this name, letter case ignored.
pugi::xml_node ChildNamed(const pugi::xml_node& parent, const char* name) {
    return parent.find_child([name](const pugi::xml_node& node) { return ElementNameIs(node, name); });
}

bool IsFalse(QByteArrayView text) {
    return text.compare("false", Qt::CaseInsensitive) == 0;
}

qint64 ReadSize(QByteArrayView text) {
    // Plain digits are read here; anything else goes through the general conversion and its rules.
    if (!text.isEmpty() && text.size() <= 18 &&
        std::all_of(text.begin(), text.end(), [](char c) { return IsAsciiDigit(c); })) {
        qint64 size = 0;
        for (const char c : text)
            size = size * 10 + (c - '0');
        return size;
    }
    const QString decoded = QString::fromUtf8(text);
    bool ok = false;
    const qint64 size = decoded.toLongLong(&ok, 10);
    if (!ok)
        throw TError(QStringLiteral("'%1' is not a valid integer value").arg(decoded));
    return size;
}

// What the reader needs of the root: whether it is a listing or an error document.
struct TRoot {
    pugi::xml_node Node;
    bool IsListing = false;
    std::optional<TS3ErrorDocument> Error;
};

TRoot JudgeRoot(const pugi::xml_document& document) {
    TRoot root;
    root.Node = document.document_element();
    if (ElementNameIs(root.Node, "Error")) {
        root.Error = TS3ErrorDocument{TextContent(ChildNamed(root.Node, "Code")),
                                      TextContent(ChildNamed(root.Node, "Message"))};
        return root;
    }
    const bool listingRoot =
        ElementNameIs(root.Node, "ListBucketResult") || ElementNameIs(root.Node, "ListVersionsResult");
    const pugi::xml_node name = root.Node.child("Name");
    QByteArray scratch;
    root.IsListing = listingRoot && name && !ElementText(name, scratch).Bytes.isEmpty();
    return root;
}

bool IsObject(const pugi::xml_node& node) {
    return ElementNameIs(node, "Contents") || ElementNameIs(node, "Version");
}

// A text of the page: where it lies in the document, or kept beside it when it had to be resolved.
QByteArrayView PageText(const pugi::xml_node& element, TS3ListingPage::TStorage& storage, TXmlText* read) {
    QByteArray scratch;
    *read = ElementText(element, scratch);
    if (!scratch.isEmpty())
        storage.ResolvedTexts.push_back(std::move(scratch)); // the view follows the moved bytes
    return read->Bytes;
}

void ReadListedObject(const pugi::xml_node& contents, TS3ListingPage& page) {
    TS3ListedObject object;
    bool keyIsExact = true;
    for (const pugi::xml_node& child : contents.children()) {
        if (child.type() != pugi::node_element)
            continue;
        TXmlText read;
        if (ElementNameIs(child, "Key")) {
            object.Key = PageText(child, *page.Storage, &read);
            keyIsExact = read.IsExact();
        } else if (ElementNameIs(child, "LastModified")) {
            object.LastModified = PageText(child, *page.Storage, &read);
        } else if (ElementNameIs(child, "Size")) {
            object.Size = ReadSize(PageText(child, *page.Storage, &read));
        }
    }
    if (!object.Key.isEmpty())
        page.LastKey = object.Key;
    if (!keyIsExact)
        ++page.SkippedKeys;
    else if (!object.Key.isEmpty())
        page.Objects.push_back(object);
}

} // namespace

TS3ListingPageAnswer ReadListingPage(QByteArray bytes) {
    TS3ListingPageAnswer answer;
    TS3ListingPage page;
    page.Storage = std::make_unique<TS3ListingPage::TStorage>();
    page.Storage->Bytes = std::move(bytes);
    if (!Parse(page.Storage->Bytes, page.Storage->Document))
        return answer;
    const TRoot root = JudgeRoot(page.Storage->Document);
    answer.Error = root.Error;
    if (!root.IsListing)
        return answer;
    for (const pugi::xml_node& child : root.Node.children()) {
        if (child.type() != pugi::node_element)
            continue;
        TXmlText read;
        if (IsObject(child))
            ReadListedObject(child, page);
        else if (ElementNameIs(child, "IsTruncated"))
            page.IsTruncated = !IsFalse(PageText(child, *page.Storage, &read));
        else if (ElementNameIs(child, "NextMarker"))
            page.NextMarker = PageText(child, *page.Storage, &read);
    }
    answer.Page = std::move(page);
    return answer;
}
