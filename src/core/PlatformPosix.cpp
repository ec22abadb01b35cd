#include "core/Platform.h"

#include "core/Error.h"

#include <QFile>
#include <QProcess>

#include <cerrno>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

[[noreturn]] void ThrowSystemError(const QString& action, int errorNumber) {
    throw TError(action + QStringLiteral(". ") + SystemErrorText(errorNumber));
}

int Descriptor(qintptr handle) {
    return static_cast<int>(handle);
}

} // namespace

TExclusiveFile::TExclusiveFile(const QString& path, TExisting existing) {
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    int error = errno;
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            throw TFileInUse(
                QStringLiteral("Cannot create file \"%1\". %2").arg(path, SystemErrorText(error)));
        fd = -1;
    }
    // An empty file is left alone: cutting it would make some file systems (ext4) flush the whole
    // download to disk when it is closed, which only costs time.
    struct stat status {};
    if (fd >= 0 && (::fstat(fd, &status) != 0 ||
                    (existing == TExisting::Cut && status.st_size > 0 && ::ftruncate(fd, 0) != 0))) {
        error = errno;
        ::close(fd);
        fd = -1;
    }
    if (fd < 0)
        ThrowSystemError(QStringLiteral("Cannot create file \"%1\"").arg(path), error);
    FHandle = fd;
}

TExclusiveFile::~TExclusiveFile() {
    ::close(Descriptor(FHandle));
}

qint64 TExclusiveFile::Write(const char* data, qint64 count) {
    if (count < 0)
        return -1;
    for (;;) {
        const ssize_t written = ::write(Descriptor(FHandle), data, static_cast<size_t>(count));
        if (written >= 0)
            return written;
        if (errno != EINTR)
            return -1;
    }
}

qint64 TExclusiveFile::WriteAt(qint64 offset, const char* data, qint64 count) {
    if (offset < 0 || count < 0)
        return -1;
    for (;;) {
        const ssize_t written =
            ::pwrite(Descriptor(FHandle), data, static_cast<size_t>(count), off_t(offset));
        if (written >= 0)
            return written;
        if (errno != EINTR)
            return -1;
    }
}

qint64 TExclusiveFile::ReadAt(qint64 offset, char* data, qint64 count) const {
    if (offset < 0 || count < 0)
        return -1;
    for (;;) {
        const ssize_t read = ::pread(Descriptor(FHandle), data, static_cast<size_t>(count), off_t(offset));
        if (read >= 0)
            return read;
        if (errno != EINTR)
            return -1;
    }
}

qint64 TExclusiveFile::Position() const {
    const off_t position = ::lseek(Descriptor(FHandle), 0, SEEK_CUR);
    if (position < 0)
        ThrowSystemError(QStringLiteral("Cannot read the file position"), errno);
    return position;
}

void TExclusiveFile::SetPosition(qint64 position) {
    if (::lseek(Descriptor(FHandle), position, SEEK_SET) < 0)
        ThrowSystemError(QStringLiteral("Cannot set the file position"), errno);
}

qint64 TExclusiveFile::Size() const {
    struct stat status {};
    if (::fstat(Descriptor(FHandle), &status) != 0)
        ThrowSystemError(QStringLiteral("Cannot read the file size"), errno);
    return status.st_size;
}

void TExclusiveFile::Resize(qint64 size) {
    if (::ftruncate(Descriptor(FHandle), size) != 0)
        ThrowSystemError(QStringLiteral("Cannot set the file size"), errno);
}

void RemoveFile(const QString& path) {
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
        ThrowSystemError(QStringLiteral("Cannot delete file \"%1\"").arg(path), errno);
}

void RenameFile(const QString& from, const QString& to) {
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        ThrowSystemError(QStringLiteral("Cannot rename file \"%1\" to \"%2\"").arg(from, to), errno);
}

void StartHidden(QProcess& process) {
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        // A session of its own leaves the program without a controlling terminal.
        ::setsid();
#ifdef __linux__
        // The program ends with the thread that started it, also when Corvane is killed: nothing it
        // started runs on unwatched. A parent already gone before this took effect ends it too.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
#endif
    });
}

void KeepWithThisProcess(QProcess&) {}

// StartHidden gave the program a session of its own, so its process ID names its process group too.
void AskToEnd(QProcess& process) {
    if (const qint64 id = process.processId(); id > 0)
        ::kill(-pid_t(id), SIGTERM);
}

void ForceEnd(QProcess& process) {
    if (const qint64 id = process.processId(); id > 0)
        ::kill(-pid_t(id), SIGKILL);
    process.kill();
}

QString ProgramFileName(const QString& baseName) {
    return baseName;
}

QString JoinNativePath(const QString& folder, const QString& name) {
    if (folder.endsWith(u'/') || folder.endsWith(u'\\'))
        return folder + name;
    return folder + u'/' + name;
}

bool ProgramArgumentsCarry(const QString&) {
    return true;
}

QString ProgramArgumentsCodePage() {
    return QStringLiteral("the locale's encoding");
}

std::optional<QString> UserProxyFor(const QString&) {
    return std::nullopt;
}
