#include "restore/DownloadStream.h"

#include "core/Error.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cerrno>

TS3DownloadStream::TS3DownloadStream(const QString& fileName, TExclusiveFile::TExisting existing)
    : TFileStream(fileName, existing)
    , FMd5([this](qint64 offset, char* data, qint64 count) { return ReadAt(offset, data, count); }) {}

TS3DownloadStream::~TS3DownloadStream() {
    // What is still gathered goes to the file; a destructor cannot report a failure, and the download
    // flushes and checks the size before it counts the file as whole.
    try {
        WriteGathered();
    } catch (const TError&) {
    }
}

qint64 TS3DownloadStream::Write(const void* buffer, qint64 count) {
    if (!WriteGathered())
        return -1;
    const qint64 written = WriteOnce(FPosition, static_cast<const char*>(buffer), count);
    if (written > 0)
        FPosition += written;
    return written;
}

qint64 TS3DownloadStream::Write(std::span<const char> buffer, qint64 offset, qint64 count) {
    qint64 accepted = -1;
    if (offset >= 0 && count >= 0 && offset <= qint64(buffer.size()) &&
        count <= qint64(buffer.size()) - offset) {
        if (FGathered.capacity() < GatherSize)
            FGathered.reserve(GatherSize + 64 * 1024);
        FGathered.append(buffer.data() + offset, count);
        accepted = FGathered.size() < GatherSize || WriteGathered() ? count : -1;
    }
    if (OnProgress)
        OnProgress(count);
    return accepted;
}

qint64 TS3DownloadStream::Position() const {
    return FPosition + FGathered.size();
}

qint64 TS3DownloadStream::Size() const {
    return std::max(TFileStream::Size(), Position());
}

void TS3DownloadStream::SetPosition(qint64 position) {
    Flush();
    if (position < 0)
        throw TError(QStringLiteral("Cannot set the file position"));
    FPosition = position;
}

void TS3DownloadStream::SetSize(qint64 size) {
    Flush();
    FMd5.Cut(size, [&] { TFileStream::SetSize(size); });
}

void TS3DownloadStream::Flush() {
    if (!WriteGathered())
        throw TError(QStringLiteral("Cannot write file \"%1\". %2").arg(FileName(), SystemErrorText(errno)));
}

// Writes the gathered bytes, repeating short writes; what was written leaves the gathered bytes even
// when a later write fails.
bool TS3DownloadStream::WriteGathered() {
    qint64 done = 0;
    bool ok = true;
    while (done < FGathered.size()) {
        const qint64 written = WriteOnce(FPosition, FGathered.constData() + done, FGathered.size() - done);
        if (written <= 0) {
            ok = false;
            break;
        }
        FPosition += written;
        done += written;
    }
    if (done == FGathered.size())
        FGathered.resize(0); // keeps the capacity for the next blocks
    else
        FGathered.remove(0, done);
    return ok;
}

void TS3DownloadStream::WriteAt(qint64 offset, const char* data, qint64 count) {
    for (qint64 done = 0; done < count;) {
        const qint64 written = WriteOnce(offset + done, data + done, count - done);
        if (written <= 0)
            throw TError(
                QStringLiteral("Cannot write file \"%1\". %2").arg(FileName(), SystemErrorText(errno)));
        done += written;
    }
}

qint64 TS3DownloadStream::WriteOnce(qint64 offset, const char* data, qint64 count) {
    const qint64 written = TFileStream::WriteAt(offset, data, count);
    FMd5.Written(offset, written);
    return written;
}

void TS3DownloadStream::Adopt(const TByteExtents& extents) {
    for (const auto& [first, end] : extents)
        FMd5.Written(first, end - first);
}

QByteArray TS3DownloadStream::Md5() {
    Flush();
    if (FHashing) {
        const QByteArray hashed = FMd5.Result(Size());
        if (!hashed.isEmpty())
            return hashed;
    }
    // Read through the stream's own handle: on Windows nobody else may open the file meanwhile.
    QCryptographicHash md5(QCryptographicHash::Md5);
    QByteArray buffer(GatherSize, Qt::Uninitialized);
    for (qint64 offset = 0;;) {
        const qint64 read = ReadAt(offset, buffer.data(), buffer.size());
        if (read < 0)
            return {};
        if (read == 0)
            return md5.result();
        md5.addData(QByteArrayView(buffer.constData(), read));
        offset += read;
    }
}
