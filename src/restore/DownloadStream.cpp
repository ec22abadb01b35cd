#include "restore/DownloadStream.h"

#include <QFile>

qint64 TS3DownloadStream::Write(const void* Buffer, qint64 Count) {
    const qint64 position = Position();
    const qint64 written = TFileStream::Write(Buffer, Count);
    Hash(static_cast<const char*>(Buffer), position, written);
    return written;
}

qint64 TS3DownloadStream::Write(std::span<const char> Buffer, qint64 Offset, qint64 Count) {
    const qint64 position = Position();
    const qint64 written = TFileStream::Write(Buffer, Offset, Count);
    if (written > 0)
        Hash(Buffer.data() + Offset, position, written);
    if (OnProgress)
        OnProgress(Count);
    return written;
}

void TS3DownloadStream::SetSize(qint64 size) {
    TFileStream::SetSize(size);
    if (size == 0) {
        md5_.reset();
        hashed_ = 0;
        inOrder_ = true;
    } else if (size < hashed_) {
        inOrder_ = false;
    }
}

void TS3DownloadStream::Hash(const char* data, qint64 position, qint64 written) {
    if (written <= 0)
        return;
    if (position != hashed_) {
        inOrder_ = false;
        return;
    }
    md5_.addData(QByteArrayView(data, written));
    hashed_ += written;
}

QByteArray TS3DownloadStream::Md5() {
    if (inOrder_ && hashed_ == Size())
        return md5_.result();
    QFile file(FileName());
    QCryptographicHash md5(QCryptographicHash::Md5);
    if (!file.open(QIODevice::ReadOnly) || !md5.addData(&file))
        return {};
    return md5.result();
}
