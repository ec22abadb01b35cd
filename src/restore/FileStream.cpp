#include "restore/FileStream.h"

TFileStream::TFileStream(const QString& fileName)
    : fileName_(fileName)
    , file_(fileName) {}

TFileStream::~TFileStream() = default;

qint64 TFileStream::Write(const void* Buffer, qint64 Count) {
    return file_.Write(static_cast<const char*>(Buffer), Count);
}

qint64 TFileStream::Write(std::span<const char> Buffer, qint64 Offset, qint64 Count) {
    if (Offset < 0 || Count < 0 || Offset > qint64(Buffer.size()) || Count > qint64(Buffer.size()) - Offset)
        return -1;
    return file_.Write(Buffer.data() + Offset, Count);
}

qint64 TFileStream::Position() const {
    return file_.Position();
}

void TFileStream::SetPosition(qint64 position) {
    file_.SetPosition(position);
}

qint64 TFileStream::Size() const {
    return file_.Size();
}

void TFileStream::SetSize(qint64 size) {
    file_.Resize(size);
}
