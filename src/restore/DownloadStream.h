#pragma once

#include "restore/FileStream.h"

#include <QCryptographicHash>

#include <functional>

// Called after each block written to a download file, with the number of bytes the block held.
using TS3ProgressEvent = std::function<void(qint64 ACount)>;

// The file a backup is downloaded into. The transport writes every received block through the
// byte-array write, which reports the block through OnProgress, so the window can move its progress bar
// and process pending events between blocks. The MD5 of the file is computed on the way, while the
// blocks are written.
class TS3DownloadStream : public TFileStream {
  public:
    using TFileStream::TFileStream;

    TS3ProgressEvent OnProgress;

    // Passes straight to the file; reports nothing.
    qint64 Write(const void* Buffer, qint64 Count) override;
    // Writes to the file, then reports Count, the size of the block asked for, through OnProgress.
    qint64 Write(std::span<const char> Buffer, qint64 Offset, qint64 Count) override;
    // Cutting the file back to nothing (a transfer that starts again) starts the MD5 again.
    void SetSize(qint64 size) override;

    // The MD5 of the file's content. It is the one computed while writing when every byte was written in
    // order from the start; otherwise the file is read once to compute it.
    QByteArray Md5();

  private:
    void Hash(const char* data, qint64 position, qint64 written);

    QCryptographicHash md5_{QCryptographicHash::Md5};
    qint64 hashed_ = 0;   // the bytes from the start that md5_ has seen
    bool inOrder_ = true; // false once a write landed elsewhere than right after them
};
