#pragma once

#include "restore/BackgroundMd5.h"
#include "restore/FileStream.h"

#include <QByteArray>

#include <functional>

// Called after each block the transport hands over, with the number of bytes the block held.
using TS3ProgressEvent = std::function<void(qint64 ACount)>;

// The file a backup is downloaded into. The transport writes every received block through the
// byte-array write, which reports the block through OnProgress as it arrives, so the window can move
// its progress bar and process pending events between blocks. libcurl hands over blocks of 16 KiB, so
// the blocks are gathered and reach the file in writes of at least GatherSize bytes: a system call per
// 16 KiB costs a third of the download's time on a fast link. The MD5 of the file is computed on the
// way, on a thread of its own (TBackgroundMd5), from the bytes written from the start without a gap.
// The stream keeps its own position and writes at it, so that the hashing thread's reads can never move
// it; ranges fetched side by side go in through WriteAt.
class TS3DownloadStream : public TFileStream {
  public:
    static constexpr qint64 GatherSize = 1024 * 1024;

    explicit TS3DownloadStream(const QString& fileName,
                               TExclusiveFile::TExisting existing = TExclusiveFile::TExisting::Cut);
    // Writes what is still gathered; a failure is lost, as the file is then incomplete anyway.
    ~TS3DownloadStream() override;

    TS3ProgressEvent OnProgress;

    // Writes what is gathered, then passes straight to the file; reports nothing.
    qint64 Write(const void* buffer, qint64 count) override;
    // Gathers the block (writing the gathered bytes once they reach GatherSize), then reports count,
    // the size of the block asked for, through OnProgress. Returns count, or -1 when the bytes asked for
    // lie outside buffer or the gathered bytes cannot be written.
    qint64 Write(std::span<const char> buffer, qint64 offset, qint64 count) override;

    // Position and size count the gathered bytes as written.
    qint64 Position() const override;
    qint64 Size() const override;
    // Both write what is gathered first. Cutting the file back to nothing (a transfer that starts again)
    // starts the MD5 again.
    void SetPosition(qint64 position) override;
    void SetSize(qint64 size) override;

    // Whether the MD5 is computed while writing (the default). Off, Md5() reads the file instead; a
    // download whose checksum is not a plain MD5 turns it off and saves its cost. Set before writing.
    void SetHashing(bool on) {
        FHashing = on;
        FMd5.SetHashing(on);
    }

    // The ranges of the file written through this stream (or adopted), [first, end) in order.
    TByteExtents Extents() { return FMd5.Extents(); }
    // Counts ranges the file already held when it was opened (a download resumed) as written: the MD5
    // reads them back on its thread while the rest arrives.
    void Adopt(const TByteExtents& extents);

    // Writes what is gathered into the file. Throws "Cannot write file "<path>". <system message>".
    void Flush();
    // Writes all count bytes at offset, apart from the position and what is gathered; throws as Flush.
    void WriteAt(qint64 offset, const char* data, qint64 count);

    // The MD5 of the file's content, once what is gathered is written. It is the one computed while
    // writing when every byte was written once; otherwise the file is read once to compute it.
    QByteArray Md5();

  private:
    bool WriteGathered();
    qint64 WriteOnce(qint64 offset, const char* data, qint64 count);

    QByteArray FGathered; // received, not yet in the file; it goes right after FPosition
    qint64 FPosition = 0;
    bool FHashing = true;
    TBackgroundMd5 FMd5;
};
