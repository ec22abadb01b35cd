#include "restore/DatabaseServer.h"

#include "core/Error.h"

QStringList TDatabaseServer::ConnectionArguments() const {
    QStringList arguments;
    if (!Host.isEmpty())
        arguments << QStringLiteral("-h") << Host;
    if (!Port.isEmpty())
        arguments << QStringLiteral("-p") << Port;
    arguments << QStringLiteral("-U") << User << QStringLiteral("-w");
    return arguments;
}

QList<QPair<QString, QString>> TDatabaseServer::Environment() const {
    if (Password.isEmpty())
        return {};
    return {{QStringLiteral("PGPASSWORD"), Password}};
}

void CheckDatabaseHost(const QString& host) {
    if (host.startsWith(u'-'))
        throw TError(QStringLiteral("The database host \"%1\" cannot begin with \"-\"").arg(host));
}

void CheckDatabasePort(const QString& port) {
    if (port.isEmpty())
        return;
    bool number = false;
    const uint value = port.toUInt(&number);
    if (!number || value < 1 || value > 65535 || port.startsWith(u'+'))
        throw TError(QStringLiteral("The database port \"%1\" is not a port number (1 to 65535)").arg(port));
}

bool AskedForPassword(const TProgramOutcome& outcome) {
    const QString& line = outcome.LastErrorLine;
    return line.contains(u"no password supplied") || line.contains(u"password authentication failed");
}
