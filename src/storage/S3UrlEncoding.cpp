#include "storage/S3UrlEncoding.h"

#include "core/Error.h"

#include <QByteArrayList>
#include <QStringList>

#include <cstring>

namespace {

QByteArray EncodeBytes(const QByteArray& utf8, const char* alwaysEncoded) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    QByteArray encoded;
    encoded.reserve(utf8.size());
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x21 || byte > 0x7E || std::strchr(alwaysEncoded, c) != nullptr) {
            encoded.append('%');
            encoded.append(Hex[byte >> 4]);
            encoded.append(Hex[byte & 0x0F]);
        } else {
            encoded.append(c);
        }
    }
    return encoded;
}

TError InvalidUrl(const QString& url) {
    return TError(QStringLiteral("Invalid URL: \"%1\"").arg(url));
}

// Splits "host", "host:port" or "[v6]:port"; returns false when a port is not a number in range.
bool SplitHostPort(const QString& hostPart, QString& host, QString& port) {
    const qsizetype closingBracket = hostPart.startsWith(u'[') ? hostPart.indexOf(u']') : -1;
    const qsizetype colon = hostPart.indexOf(u':', closingBracket < 0 ? 0 : closingBracket);
    host = colon < 0 ? hostPart : hostPart.left(colon);
    port = colon < 0 ? QString() : hostPart.mid(colon + 1);
    if (colon < 0)
        return true;
    bool ok = false;
    const int number = port.toInt(&ok, 10);
    return ok && number > 0 && number <= 65535 && !port.startsWith(u'+');
}

} // namespace

QByteArray EncodeUrlPathSegment(const QByteArray& utf8) {
    return EncodeBytes(utf8, "\"#/<>?\\^`{|}");
}

QByteArray EncodeUrlQuery(const QByteArray& utf8) {
    return EncodeBytes(utf8, "\"#'<>");
}

QByteArray EncodeValue(const QString& text) {
    return text.toUtf8().toPercentEncoding();
}

QByteArray TS3RequestUrl::Target() const {
    return EncodedQuery.isEmpty() ? EncodedPath : EncodedPath + '?' + EncodedQuery;
}

QString TS3RequestUrl::ToString() const {
    return Scheme + QStringLiteral("://") + HostPart + QString::fromLatin1(Target());
}

TS3RequestUrl ParseRequestUrl(const QString& url) {
    const qsizetype schemeEnd = url.indexOf(QStringLiteral("://"));
    if (schemeEnd <= 0)
        throw InvalidUrl(url);
    TS3RequestUrl parts;
    parts.Scheme = url.left(schemeEnd).toLower();
    if (parts.Scheme != u"http" && parts.Scheme != u"https")
        throw InvalidUrl(url);

    const qsizetype hostStart = schemeEnd + 3;
    qsizetype hostEnd = hostStart;
    while (hostEnd < url.size() && !QStringView(u"/\\?#").contains(url[hostEnd]))
        ++hostEnd;
    parts.HostPart = url.mid(hostStart, hostEnd - hostStart);
    QString port;
    if (!SplitHostPort(parts.HostPart, parts.Host, port) || parts.Host.isEmpty())
        throw InvalidUrl(url);
    parts.Port = port.isEmpty() ? (parts.Scheme == u"https" ? 443 : 80) : port.toInt();

    qsizetype pathEnd = hostEnd;
    while (pathEnd < url.size() && url[pathEnd] != u'?' && url[pathEnd] != u'#')
        ++pathEnd;
    const QString path = url.mid(hostEnd, pathEnd - hostEnd);
    QByteArrayList segments;
    for (const QString& segment : path.split(u'/'))
        segments.append(EncodeUrlPathSegment(segment.toUtf8()));
    parts.EncodedPath = segments.join('/');
    if (!parts.EncodedPath.startsWith('/'))
        parts.EncodedPath.prepend('/');

    if (pathEnd < url.size() && url[pathEnd] == u'?') {
        const qsizetype fragment = url.indexOf(u'#', pathEnd);
        const qsizetype queryEnd = fragment < 0 ? url.size() : fragment;
        parts.EncodedQuery = EncodeUrlQuery(url.mid(pathEnd + 1, queryEnd - pathEnd - 1).toUtf8());
    }
    return parts;
}
