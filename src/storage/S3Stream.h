#pragma once

#include <QtGlobal>
#include <span>

// The general stream the object download writes into. A body reaches it only through the
// byte-array write, once per received block, so a stream can report progress per block.
class TS3Stream {
  public:
    virtual ~TS3Stream() = default;

    // Untyped write: count bytes from buffer. Returns the number of bytes written.
    virtual qint64 Write(const void* buffer, qint64 count) = 0;
    // Byte-array write: count bytes of buffer starting at index offset. Returns the number written.
    virtual qint64 Write(std::span<const char> buffer, qint64 offset, qint64 count) = 0;

    virtual qint64 Position() const = 0;
    virtual void SetPosition(qint64 position) = 0;
    virtual qint64 Size() const = 0;
    // Cuts the stream back (or extends it) to size bytes.
    virtual void SetSize(qint64 size) = 0;
};
