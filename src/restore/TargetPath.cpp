#include "restore/TargetPath.h"

#include "core/Error.h"
#include "core/Platform.h"

#include <QStringList>

namespace {

bool HasInvalidCharacters(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 32 || c == u'"' || c == u'<' || c == u'>' || c == u'|')
            return true;
    }
    return false;
}

// Names are keys from the bucket, so they are not trusted: any form that could point outside the working
// folder (absolute, drive-relative, extended-length or climbing with "..") is refused.
bool EscapesFolder(const QString& name) {
    if (name.startsWith(u'/') || name.startsWith(u'\\') || (name.size() >= 2 && name.at(1) == u':'))
        return true;
    QString path = name;
    path.replace(u'\\', u'/');
    return path.split(u'/').contains(QStringLiteral(".."));
}

} // namespace

QString TargetPath(const QString& workingFolder, const QString& name) {
    if (EscapesFolder(name))
        throw TError(QStringLiteral("Invalid characters in path"));
    if (workingFolder.isEmpty())
        return name;
    if (name.isEmpty())
        return workingFolder;
    if (HasInvalidCharacters(workingFolder) || HasInvalidCharacters(name))
        throw TError(QStringLiteral("Invalid characters in path"));
    return JoinNativePath(workingFolder, name);
}
