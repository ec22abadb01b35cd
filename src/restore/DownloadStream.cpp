#include "restore/DownloadStream.h"

#include "core/Error.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cerrno>

TS3DownloadStream::TS3DownloadStream(const QString& fileName)
    : TFileStream(fileName)
    , md5_([this](qint64 offset, char* data, qint64 count) { return ReadAt(offset, data, count); }) {}

TS3DownloadStream::~TS3DownloadStream() {
    // What is still gathered goes to the file; a destructor cannot report a failure, and the download
    // flushes and checks the size before it counts the file as whole.
    try {
        WriteGathered();
    } catch (const Error&) {
    }
}

qint64 TS3DownloadStream::Write(const void* Buffer, qint64 Count) {
    if (!WriteGathered())
        return -1;
    const qint64 written = WriteOnce(position_, static_cast<const char*>(Buffer), Count);
    if (written > 0)
        position_ += written;
    return written;
}

qint64 TS3DownloadStream::Write(std::span<const char> Buffer, qint64 Offset, qint64 Count) {
    qint64 accepted = -1;
    if (Offset >= 0 && Count >= 0 && Offset <= qint64(Buffer.size()) &&
        Count <= qint64(Buffer.size()) - Offset) {
        if (gathered_.capacity() < GatherSize)
            gathered_.reserve(GatherSize + 64 * 1024);
        gathered_.append(Buffer.data() + Offset, Count);
        accepted = gathered_.size() < GatherSize || WriteGathered() ? Count : -1;
    }
    if (OnProgress)
        OnProgress(Count);
    return accepted;
}

qint64 TS3DownloadStream::Position() const {
    return position_ + gathered_.size();
}

qint64 TS3DownloadStream::Size() const {
    return std::max(TFileStream::Size(), Position());
}

void TS3DownloadStream::SetPosition(qint64 position) {
    Flush();
    if (position < 0)
        throw Error(QStringLiteral("Cannot set the file position"));
    position_ = position;
}

void TS3DownloadStream::SetSize(qint64 size) {
    Flush();
    md5_.Cut(size, [&] { TFileStream::SetSize(size); });
}

void TS3DownloadStream::Flush() {
    if (!WriteGathered())
        throw Error(QStringLiteral("Cannot write file \"%1\". %2").arg(FileName(), SystemErrorText(errno)));
}

// Writes the gathered bytes, repeating short writes; what was written leaves the gathered bytes even
// when a later write fails.
bool TS3DownloadStream::WriteGathered() {
    qint64 done = 0;
    bool ok = true;
    while (done < gathered_.size()) {
        const qint64 written = WriteOnce(position_, gathered_.constData() + done, gathered_.size() - done);
        if (written <= 0) {
            ok = false;
            break;
        }
        position_ += written;
        done += written;
    }
    if (done == gathered_.size())
        gathered_.resize(0); // keeps the capacity for the next blocks
    else
        gathered_.remove(0, done);
    return ok;
}

void TS3DownloadStream::WriteAt(qint64 offset, const char* data, qint64 count) {
    for (qint64 done = 0; done < count;) {
        const qint64 written = WriteOnce(offset + done, data + done, count - done);
        if (written <= 0)
            throw Error(
                QStringLiteral("Cannot write file \"%1\". %2").arg(FileName(), SystemErrorText(errno)));
        done += written;
    }
}

qint64 TS3DownloadStream::WriteOnce(qint64 offset, const char* data, qint64 count) {
    const qint64 written = TFileStream::WriteAt(offset, data, count);
    if (hashing_)
        md5_.Written(offset, written);
    return written;
}

QByteArray TS3DownloadStream::Md5() {
    Flush();
    if (hashing_) {
        const QByteArray hashed = md5_.Result(Size());
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
