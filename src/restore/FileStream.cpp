#include "restore/FileStream.h"

TFileStream::TFileStream(const QString& fileName, TExclusiveFile::TExisting existing)
    : FFileName(fileName)
    , FFile(fileName, existing) {}

TFileStream::~TFileStream() = default;

qint64 TFileStream::Write(const void* buffer, qint64 count) {
    return FFile.Write(static_cast<const char*>(buffer), count);
}

qint64 TFileStream::Write(std::span<const char> buffer, qint64 offset, qint64 count) {
    if (offset < 0 || count < 0 || offset > qint64(buffer.size()) || count > qint64(buffer.size()) - offset)
        return -1;
    return FFile.Write(buffer.data() + offset, count);
}

qint64 TFileStream::Position() const {
    return FFile.Position();
}

void TFileStream::SetPosition(qint64 position) {
    FFile.SetPosition(position);
}

qint64 TFileStream::Size() const {
    return FFile.Size();
}

void TFileStream::SetSize(qint64 size) {
    FFile.Resize(size);
}
