#include "settings/OwnerOnlyFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// mkdir -p, every folder it creates owner-only.
bool MakeOwnerOnlyFolders(const QString& folder) {
    const QFileInfo info(folder);
    if (info.isDir())
        return true;
    if (info.exists() || info.isSymLink())
        return false;
    const QString parent = info.absolutePath();
    if (parent != info.absoluteFilePath() && !MakeOwnerOnlyFolders(parent))
        return false;
    return ::mkdir(QFile::encodeName(folder).constData(), 0700) == 0 || errno == EEXIST;
}

} // namespace

bool PrepareOwnerOnlyFile(const QString& filePath) {
    const QFileInfo info(filePath);
    if (!MakeOwnerOnlyFolders(info.absolutePath()))
        return false;

    const QByteArray path = QFile::encodeName(info.absoluteFilePath());
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        return ::close(fd) == 0;
    if (errno != EEXIST)
        return false;

    struct stat status {};
    if (::stat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    if ((status.st_mode & 077) == 0)
        return true;
    return ::chmod(path.constData(), status.st_mode & 0700) == 0;
}
