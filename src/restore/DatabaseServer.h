#pragma once

#include "restore/RunAndWait.h"

#include <QString>
#include <QStringList>

// Where the client programs connect, and as whom. An empty host or port leaves the programs' own
// defaults (PGHOST, PGPORT, the local socket).
struct TDatabaseServer {
    QString Host;
    QString Port;
    QString User;
    // Given when the server asked for one; it reaches the programs in PGPASSWORD only, never on a
    // command line or in the log.
    QString Password;

    // -h, -p and -U as set, and -w: a program never waits for a password on a console, it fails instead.
    QStringList ConnectionArguments() const;
    // The watch's environment for a program that connects.
    QList<QPair<QString, QString>> Environment() const;
};

// Throws when the host would be read as an option.
void CheckDatabaseHost(const QString& host);
// Throws "The database port "x" is not a port number (1 to 65535)" unless it is one or empty.
void CheckDatabasePort(const QString& port);

// Whether a client program failed because the server wants a password it was not given, or refused the
// one it was given.
bool AskedForPassword(const TProgramOutcome& outcome);
