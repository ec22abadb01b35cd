#pragma once

#include "core/Platform.h"
#include "storage/S3Stream.h"

#include <QString>

// A stream over a local file that it creates, or cuts to zero length when it exists (unless told to keep
// it), for reading and writing. The file is locked for this stream alone while it is open (an advisory lock
// that every other stream of this kind respects), so two downloads can never write into the same file. The
// file is closed when the stream goes; it is not inherited by programs started meanwhile.
class TFileStream : public TS3Stream {
  public:
    // Throws "Cannot create file "<path>". <system message>" when the file cannot be created, opened or
    // locked.
    explicit TFileStream(const QString& fileName,
                         TExclusiveFile::TExisting existing = TExclusiveFile::TExisting::Cut);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    const QString& FileName() const { return FFileName; }

    // Both writes return the number of bytes written, which may be fewer than asked, or -1 on failure.
    qint64 Write(const void* buffer, qint64 count) override;
    qint64 Write(std::span<const char> buffer, qint64 offset, qint64 count) override;

    qint64 Position() const override;
    void SetPosition(qint64 position) override;
    qint64 Size() const override;
    void SetSize(qint64 size) override;

  protected:
    // Write at offset or read from it, leaving the stream's position alone; as TExclusiveFile's.
    qint64 WriteAt(qint64 offset, const char* data, qint64 count) {
        return FFile.WriteAt(offset, data, count);
    }
    qint64 ReadAt(qint64 offset, char* data, qint64 count) const { return FFile.ReadAt(offset, data, count); }

  private:
    QString FFileName;
    TExclusiveFile FFile;
};
