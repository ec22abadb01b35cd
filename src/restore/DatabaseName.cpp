#include "restore/DatabaseName.h"

#include "core/Error.h"
#include "core/RegexReplace.h"

QString DeriveDatabaseName(const QString& name) {
    QString lowered = name;
    for (QChar& c : lowered) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    return ReplaceAll(lowered, QStringLiteral("(\\s+)|(\\-\\d+\\.\\w+)"), QString());
}

void CheckDatabaseName(const QString& name) {
    if (name.isEmpty())
        throw TError(QStringLiteral("Database name is required"));
    if (name.contains(QChar(u'\0')))
        throw TError(QStringLiteral("A database name cannot hold a NUL character"));
    if (name.toUtf8().size() > LongestDatabaseName)
        throw TError(QStringLiteral("The database name \"%1\" is longer than the %2 bytes PostgreSQL allows")
                         .arg(name, QString::number(LongestDatabaseName)));
    // Every database is made from template1 (and template0), and postgres is where the client programs
    // connect first: a backup in their place would reach every later database, or every connection.
    for (const QStringView own : {u"template0", u"template1", u"postgres"}) {
        if (name == own)
            throw TError(QStringLiteral("The database \"%1\" belongs to the server itself and cannot be "
                                        "replaced by a restore; choose another name")
                             .arg(name));
    }
}

void CheckDatabaseUser(const QString& user) {
    if (user.isEmpty())
        throw TError(QStringLiteral("Database username is required"));
    if (user.startsWith(u'-'))
        throw TError(QStringLiteral("The database username \"%1\" cannot begin with \"-\"").arg(user));
}
