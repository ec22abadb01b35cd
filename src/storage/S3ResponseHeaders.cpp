#include "storage/S3ResponseHeaders.h"

#include <QPair>

#include <algorithm>

namespace {

bool IsBlankOrControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F;
}

QString Trimmed(const QByteArray& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlankOrControl(text[begin]))
        ++begin;
    while (end > begin && IsBlankOrControl(text[end - 1]))
        --end;
    // Header bytes beyond ASCII are taken as ISO-8859-1, which keeps every byte.
    return QString::fromLatin1(text.mid(begin, end - begin));
}

} // namespace

TS3NameValueList ParseResponseHeaders(const QList<QByteArray>& lines) {
    QList<QPair<QString, QString>> joined;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        // The status line is no header, even when its reason phrase holds a colon.
        if (i == 0 && line.startsWith("HTTP/"))
            continue;
        const qsizetype colon = line.indexOf(':');
        if (colon < 1)
            continue;
        const QString name = Trimmed(line.left(colon));
        const QString value = Trimmed(line.mid(colon + 1));
        if (name.compare(u"Set-Cookie", Qt::CaseInsensitive) == 0)
            continue;
        auto existing =
            std::find_if(joined.begin(), joined.end(), [&name](const QPair<QString, QString>& entry) {
                return entry.first.compare(name, Qt::CaseInsensitive) == 0;
            });
        if (existing == joined.end())
            joined.append({name, value});
        else
            existing->second += QStringLiteral(", ") + value;
    }
    TS3NameValueList headers;
    for (const auto& [name, value] : joined)
        headers.Add(name, value);
    return headers;
}
