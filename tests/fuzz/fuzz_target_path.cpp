// The target-path rule on any backup name: the local file name it gives is one flat name that fits a file
// system (no separator, not "." or "..", at most LocalNameBytes bytes), so that the path lies right in
// the working folder and no link inside that folder is ever followed; any other name is refused with
// TError.
#include "core/Error.h"
#include "restore/TargetPath.h"

#include <QDir>

#include <cstdint>
#include <cstdlib>

namespace {

bool InsideFolder(const QString& folder, const QString& path) {
    const QString cleanPath = QDir::cleanPath(path);
    if (folder.isEmpty())
        return !cleanPath.startsWith(u'/') && cleanPath != QStringLiteral("..") &&
               !cleanPath.startsWith(QStringLiteral("../"));
    const QString cleanFolder = QDir::cleanPath(folder);
    return cleanPath == cleanFolder || cleanPath.startsWith(cleanFolder + u'/');
}

bool FlatName(const QString& local) {
    return !local.isEmpty() && !local.contains(u'/') && !local.contains(u'\\') && local != u"." &&
           local != u".." && local.toUtf8().size() <= LocalNameBytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString name = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        if (!FlatName(LocalFileName(name)))
            std::abort();
    } catch (const TError&) {
    }
    for (const QString& folder : {QStringLiteral("/srv/backups"), QStringLiteral("/srv/backups/"),
                                  QStringLiteral("work"), QString()}) {
        try {
            if (!InsideFolder(folder, TargetPath(folder, name)))
                std::abort();
        } catch (const TError&) {
        }
    }
    return 0;
}
