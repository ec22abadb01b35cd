#pragma once

#include "restore/FileStream.h"

#include <functional>

// Called after each block written to a download file, with the number of bytes the block held.
using TS3ProgressEvent = std::function<void(qint64 ACount)>;

// The file a backup is downloaded into. The transport writes every received block through the
// byte-array write, which reports the block through OnProgress, so the window can move its progress bar
// and process pending events between blocks.
class TS3DownloadStream : public TFileStream {
  public:
    using TFileStream::TFileStream;

    TS3ProgressEvent OnProgress;

    // Passes straight to the file; reports nothing.
    qint64 Write(const void* Buffer, qint64 Count) override;
    // Writes to the file, then reports Count, the size of the block asked for, through OnProgress.
    qint64 Write(std::span<const char> Buffer, qint64 Offset, qint64 Count) override;
};
