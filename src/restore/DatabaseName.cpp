#include "restore/DatabaseName.h"

#include "core/RegexReplace.h"

QString DeriveDatabaseName(const QString& name) {
    QString lowered = name;
    for (QChar& c : lowered) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    return ReplaceAll(lowered, QStringLiteral("(\\s+)|(\\-\\d+\\.\\w+)"), QString());
}
