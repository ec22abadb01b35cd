#include "restore/TargetPath.h"

#include "core/Error.h"
#include "core/Platform.h"
#include "core/ShortName.h"

#include <QStringList>

namespace {

bool HasInvalidCharacters(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 32 || c == u'"' || c == u'<' || c == u'>' || c == u'|')
            return true;
    }
    return false;
}

// Any form that could point outside the working folder: absolute, drive-relative, extended-length or
// climbing with "..".
bool EscapesFolder(const QString& name) {
    if (name.startsWith(u'/') || name.startsWith(u'\\') || (name.size() >= 2 && name.at(1) == u':'))
        return true;
    QString path = name;
    path.replace(u'\\', u'/');
    return path.split(u'/').contains(QStringLiteral(".."));
}

// Windows's device names, which name a device in every folder, whatever extension follows.
bool IsDeviceName(const QString& part) {
    const QString base = part.section(u'.', 0, 0).trimmed().toUpper();
    static const QStringList fixed{QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
                                   QStringLiteral("NUL")};
    if (fixed.contains(base))
        return true;
    return base.size() == 4 &&
           (base.startsWith(QStringLiteral("COM")) || base.startsWith(QStringLiteral("LPT"))) &&
           base.at(3) >= u'1' && base.at(3) <= u'9';
}

// Why Windows cannot hold the part as a file name, or nothing when it can.
QString WindowsRefusal(const QString& part) {
    for (const QChar c : part) {
        if (c.unicode() < 32)
            return QStringLiteral("it holds a control character");
        if (QStringView(u":*?\"<>|").contains(c))
            return QStringLiteral("\"%1\" is not allowed in file names on Windows").arg(c);
    }
    if (part.endsWith(u'.') || part.endsWith(u' '))
        return QStringLiteral("\"%1\" ends with a dot or a space, which Windows drops").arg(part);
    if (IsDeviceName(part))
        return QStringLiteral("\"%1\" names a device on Windows").arg(part);
    return {};
}

} // namespace

QString LocalFileName(const QString& name) {
    if (EscapesFolder(name))
        throw TError(QStringLiteral("Invalid characters in path"));
    if (name.isEmpty())
        throw TError(QStringLiteral("The backup has no name"));
    QString path = name;
    path.replace(u'\\', u'/');
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (const QString why = WindowsRefusal(part); !why.isEmpty())
            throw TError(QStringLiteral("The backup name \"%1\" cannot be a file name: %2").arg(name, why));
    }
    const QByteArray whole = name.toUtf8();
    QByteArray flat = parts.join(u'_').toUtf8();
    if (parts.size() != 1 || parts.front() != name)
        flat = WithShortHash(flat, whole);
    return QString::fromUtf8(NameWithinBytes(flat, LocalNameBytes, whole));
}

QString TargetPath(const QString& workingFolder, const QString& name) {
    const QString fileName = LocalFileName(name);
    if (workingFolder.isEmpty())
        return fileName;
    if (HasInvalidCharacters(workingFolder))
        throw TError(QStringLiteral("Invalid characters in path"));
    return JoinNativePath(workingFolder, fileName);
}
