#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// Where the PostgreSQL client programs are looked for. PostgreSQL's installer for Windows puts them in
// <base directory>\bin, names that folder in the registry and leaves PATH alone; Debian puts each major
// version's in /usr/lib/postgresql/<major>/bin and links the newest into /usr/bin.
struct TClientProgramSearch {
    // The folder the user named (CORVANE_PG_BIN): when set, the only one looked in.
    QString Override;
    // The base directories of the installations the registry lists, with their versions (Windows).
    QList<QPair<QString, QString>> Registered; // base directory, version
    // Folders holding one <major>/bin folder per installed major version: %ProgramFiles%\PostgreSQL on
    // Windows, /usr/lib/postgresql on Linux.
    QStringList VersionRoots;
    // The PATH entries, in order.
    QStringList Path;
};

// The environment variable that names the folder of the client programs, overriding the search.
inline const QString ClientProgramFolderVariable = QStringLiteral("CORVANE_PG_BIN");

// This system's search: the variable, the registry's installations, the version roots and PATH.
TClientProgramSearch SystemClientProgramSearch();

// The folders to look in, in order: the override alone when set; otherwise on Windows the registered
// installations' bin folders and the version roots' <major>\bin folders, newest version first, then
// PATH; on other systems PATH first, then the version roots' folders. A relative PATH entry (".", or
// empty) is left out: a program is never taken from whatever the current folder happens to be.
QStringList ClientProgramFolders(const TClientProgramSearch& search);

// The full path of the program (its file name as ProgramFileName gives it) in the first of the folders
// that holds it; empty when none does.
QString FindClientProgram(const QStringList& folders, const QString& fileName);

// What to do when a client program is missing: what to install, and how to name its folder.
QString MissingClientProgramAdvice();

// Throws TError, before anything is downloaded, when the database name, the user name, the working folder
// or the backup's file path would not reach the client programs as they are (ProgramArgumentsCarry):
// the programs would work on another name, or on none.
void CheckProgramArguments(const QString& database, const QString& user, const QString& workingFolder,
                           const QString& targetPath);
