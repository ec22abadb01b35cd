#include "restore/DownloadStream.h"

qint64 TS3DownloadStream::Write(const void* Buffer, qint64 Count) {
    return TFileStream::Write(Buffer, Count);
}

qint64 TS3DownloadStream::Write(std::span<const char> Buffer, qint64 Offset, qint64 Count) {
    const qint64 written = TFileStream::Write(Buffer, Offset, Count);
    if (OnProgress)
        OnProgress(Count);
    return written;
}
