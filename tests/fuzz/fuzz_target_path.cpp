// The target-path rule on any backup name: a path it returns lies inside the working folder (or, with
// no working folder, below the current one); any other name is refused with TError.
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString name = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
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
