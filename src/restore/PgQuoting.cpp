#include "restore/PgQuoting.h"

QString QuoteIdentifier(const QString& name) {
    QString escaped = name;
    escaped.replace(u'"', QStringLiteral("\"\""));
    return u'"' + escaped + u'"';
}

QString QuoteLiteral(const QString& text) {
    QString escaped = text;
    escaped.replace(u'\'', QStringLiteral("''"));
    if (!escaped.contains(u'\\'))
        return u'\'' + escaped + u'\'';
    escaped.replace(u'\\', QStringLiteral("\\\\"));
    return QStringLiteral("E'") + escaped + u'\'';
}

QString QuoteConnectionValue(const QString& value) {
    QString escaped = value;
    escaped.replace(u'\\', QStringLiteral("\\\\"));
    escaped.replace(u'\'', QStringLiteral("\\'"));
    return u'\'' + escaped + u'\'';
}
