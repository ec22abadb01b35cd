#include "restore/DownloadStream.h"

#include "core/Error.h"

#include <algorithm>
#include <cerrno>

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
    const qint64 position = TFileStream::Position();
    const qint64 written = TFileStream::Write(Buffer, Count);
    Hash(static_cast<const char*>(Buffer), position, written);
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
    return TFileStream::Position() + gathered_.size();
}

qint64 TS3DownloadStream::Size() const {
    return std::max(TFileStream::Size(), Position());
}

void TS3DownloadStream::SetPosition(qint64 position) {
    Flush();
    TFileStream::SetPosition(position);
}

void TS3DownloadStream::SetSize(qint64 size) {
    Flush();
    TFileStream::SetSize(size);
    if (size == 0) {
        md5_.reset();
        hashed_ = 0;
        inOrder_ = true;
    } else if (size < hashed_) {
        inOrder_ = false;
    }
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
        const qint64 position = TFileStream::Position();
        const qint64 written = TFileStream::Write(gathered_.constData() + done, gathered_.size() - done);
        if (written <= 0) {
            ok = false;
            break;
        }
        Hash(gathered_.constData() + done, position, written);
        done += written;
    }
    if (done == gathered_.size())
        gathered_.resize(0); // keeps the capacity for the next blocks
    else
        gathered_.remove(0, done);
    return ok;
}

void TS3DownloadStream::Hash(const char* data, qint64 position, qint64 written) {
    if (!hashing_ || written <= 0)
        return;
    if (position != hashed_) {
        inOrder_ = false;
        return;
    }
    md5_.addData(QByteArrayView(data, written));
    hashed_ += written;
}

QByteArray TS3DownloadStream::Md5() {
    Flush();
    const qint64 size = Size();
    if (inOrder_ && hashed_ == size)
        return md5_.result();
    // Read through the stream's own handle: on Windows the file may not be opened again while it is open.
    QCryptographicHash md5(QCryptographicHash::Md5);
    QByteArray block(qsizetype(GatherSize), Qt::Uninitialized);
    for (qint64 position = 0; position < size;) {
        const qint64 read = ReadAt(position, block.data(), block.size());
        if (read <= 0)
            return {};
        md5.addData(QByteArrayView(block.constData(), read));
        position += read;
    }
    return md5.result();
}
