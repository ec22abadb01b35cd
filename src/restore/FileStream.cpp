#include "restore/FileStream.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemMessage(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void ThrowSystemError(const char* action, int error) {
    throw std::runtime_error(
        QStringLiteral("%1. %2").arg(QString::fromLatin1(action), SystemMessage(error)).toStdString());
}

} // namespace

TFileStream::TFileStream(const QString& fileName)
    : fileName_(fileName) {
    const QByteArray path = QFile::encodeName(fileName);
    // Not opened with O_TRUNC: the file may belong to a download that is still running, and must only be
    // cut once the lock shows that nobody else writes into it.
    fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    int error = errno;
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        error = errno;
        ::close(fd_);
        fd_ = -1;
    }
    // An empty file is left alone: cutting it would make some file systems (ext4) flush the whole
    // download to disk when it is closed, which only costs time.
    struct stat status {};
    if (fd_ >= 0 && (::fstat(fd_, &status) != 0 || (status.st_size > 0 && ::ftruncate(fd_, 0) != 0))) {
        error = errno;
        ::close(fd_);
        fd_ = -1;
    }
    if (fd_ < 0)
        throw std::runtime_error(QStringLiteral("Cannot create file \"%1\". %2")
                                     .arg(fileName, SystemMessage(error))
                                     .toStdString());
}

TFileStream::~TFileStream() {
    ::close(fd_);
}

qint64 TFileStream::Write(const void* Buffer, qint64 Count) {
    if (Count < 0)
        return -1;
    for (;;) {
        const ssize_t written = ::write(fd_, Buffer, static_cast<size_t>(Count));
        if (written >= 0)
            return written;
        if (errno != EINTR)
            return -1;
    }
}

qint64 TFileStream::Write(std::span<const char> Buffer, qint64 Offset, qint64 Count) {
    if (Offset < 0 || Count < 0 || Offset > qint64(Buffer.size()) || Count > qint64(Buffer.size()) - Offset)
        return -1;
    return TFileStream::Write(static_cast<const void*>(Buffer.data() + Offset), Count);
}

qint64 TFileStream::Position() const {
    const off_t position = ::lseek(fd_, 0, SEEK_CUR);
    if (position < 0)
        ThrowSystemError("Cannot read the file position", errno);
    return position;
}

void TFileStream::SetPosition(qint64 position) {
    if (::lseek(fd_, position, SEEK_SET) < 0)
        ThrowSystemError("Cannot set the file position", errno);
}

qint64 TFileStream::Size() const {
    struct stat status {};
    if (::fstat(fd_, &status) != 0)
        ThrowSystemError("Cannot read the file size", errno);
    return status.st_size;
}

void TFileStream::SetSize(qint64 size) {
    if (::ftruncate(fd_, size) != 0)
        ThrowSystemError("Cannot set the file size", errno);
}
