#include "storage/S3ResponseHeaders.h"

#include "core/Curl.h"
#include "core/Text.h"

TS3NameValueList ParseResponseHeaders(const QList<QByteArray>& lines) {
    TNameValuePairs joined;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        // The status line is no header, even when its reason phrase holds a colon.
        if (i == 0 && line.startsWith("HTTP/"))
            continue;
        const std::optional<THttpHeaderField> field = SplitHeaderLine(line);
        if (!field)
            continue;
        // Header bytes beyond ASCII are taken as ISO-8859-1, which keeps every byte.
        const QString name = QString::fromLatin1(field->Name);
        const QString value = QString::fromLatin1(field->Value);
        if (name.compare(u"Set-Cookie", Qt::CaseInsensitive) == 0)
            continue;
        const qsizetype existing = IndexOfName(joined, name);
        if (existing < 0)
            joined.append({name, value});
        else
            joined[existing].second += QStringLiteral(", ") + value;
    }
    TS3NameValueList headers;
    for (const auto& [name, value] : joined)
        headers.Add(name, value);
    return headers;
}
