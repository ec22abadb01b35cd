#include "restore/ClientPrograms.h"

#include "core/Error.h"
#include "core/Platform.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QVersionNumber>

#include <algorithm>

namespace {

// Newest first by the version each folder goes with; folders of the same version keep their order.
QStringList NewestFirst(QList<QPair<QString, QString>> folders) {
    std::stable_sort(folders.begin(), folders.end(), [](const auto& a, const auto& b) {
        return QVersionNumber::fromString(a.second) > QVersionNumber::fromString(b.second);
    });
    QStringList ordered;
    for (const auto& [folder, version] : folders)
        ordered << folder;
    return ordered;
}

// root/<major>/bin of every folder under root named by a version ("16", "9.6").
QList<QPair<QString, QString>> VersionFolders(const QString& root) {
    QList<QPair<QString, QString>> found;
    for (const QString& entry : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        qsizetype suffix = 0;
        if (!QVersionNumber::fromString(entry, &suffix).isNull() && suffix == entry.size())
            found.append({QDir(root).filePath(entry + QStringLiteral("/bin")), entry});
    }
    return found;
}

QString Bin(const QString& baseDirectory) {
    return QDir(QDir::fromNativeSeparators(baseDirectory)).filePath(QStringLiteral("bin"));
}

} // namespace

TClientProgramSearch SystemClientProgramSearch() {
    TClientProgramSearch search;
    search.Override = qEnvironmentVariable(qPrintable(ClientProgramFolderVariable));
    for (QString entry : qEnvironmentVariable("PATH").split(QDir::listSeparator(), Qt::SkipEmptyParts)) {
        // Windows allows a quoted entry.
        if (entry.size() > 1 && entry.startsWith(u'"') && entry.endsWith(u'"'))
            entry = entry.mid(1, entry.size() - 2);
        search.Path << entry;
    }
#ifdef Q_OS_WIN
    QSettings installations(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\Installations"),
                            QSettings::Registry64Format);
    for (const QString& key : installations.childGroups()) {
        const QString base = installations.value(key + QStringLiteral("/Base Directory")).toString();
        if (!base.isEmpty())
            search.Registered.append(
                {base, installations.value(key + QStringLiteral("/Version")).toString()});
    }
    if (const QString programFiles = qEnvironmentVariable("ProgramFiles"); !programFiles.isEmpty())
        search.VersionRoots << QDir::fromNativeSeparators(programFiles) + QStringLiteral("/PostgreSQL");
#else
    search.VersionRoots << QStringLiteral("/usr/lib/postgresql");
#endif
    return search;
}

QStringList ClientProgramFolders(const TClientProgramSearch& search) {
    if (!search.Override.isEmpty())
        return {search.Override};
    QList<QPair<QString, QString>> installed;
    for (const auto& [base, version] : search.Registered)
        installed.append({Bin(base), version});
    for (const QString& root : search.VersionRoots)
        installed += VersionFolders(root);
    QStringList path;
    for (const QString& entry : search.Path) {
        if (QDir::isAbsolutePath(entry))
            path << entry;
    }
#ifdef Q_OS_WIN
    return NewestFirst(installed) + path;
#else
    return path + NewestFirst(installed);
#endif
}

QString FindClientProgram(const QStringList& folders, const QString& fileName) {
    for (const QString& folder : folders) {
        const QFileInfo program(QDir(folder).filePath(fileName));
        if (program.isFile() && program.isExecutable())
            return QDir::toNativeSeparators(program.absoluteFilePath());
    }
    return {};
}

QString MissingClientProgramAdvice() {
#ifdef Q_OS_WIN
    const QString package = QStringLiteral("PostgreSQL's installer for Windows, with its Command Line Tools");
#else
    const QString package = QStringLiteral("the package postgresql-client");
#endif
    return QStringLiteral("install the PostgreSQL client programs (%1), or name the folder that holds them "
                          "in the environment variable %2")
        .arg(package, ClientProgramFolderVariable);
}

void CheckProgramArguments(const QString& database, const QString& user, const QString& workingFolder,
                           const QString& targetPath) {
    const QList<std::pair<QString, QString>> arguments{
        {QStringLiteral("The database name"), database},
        {QStringLiteral("The database user name"), user},
        {QStringLiteral("The working folder"), workingFolder},
        {QStringLiteral("The backup's file path"), targetPath}};
    for (const auto& [what, text] : arguments) {
        if (!ProgramArgumentsCarry(text))
            throw TError(QStringLiteral("%1 \"%2\" holds characters that %3 does not have, in which the "
                                        "PostgreSQL client programs read their arguments, so nothing was "
                                        "downloaded: use only characters that code page holds")
                             .arg(what, text, ProgramArgumentsCodePage()));
    }
}
