#pragma once

#include "storage/S3Stream.h"

#include <QByteArray>
#include <QList>

// A stream in memory for tests: records every byte-array write and can take fewer bytes than asked
// or refuse to write, to drive the storage client's write rule.
class TS3MemoryStream : public TS3Stream {
  public:
    struct WriteCall {
        qint64 Offset;
        qint64 Count;
    };

    // At most this many bytes per write call (0: no limit).
    void SetMaxBytesPerWrite(qint64 maxBytes) { maxBytesPerWrite_ = maxBytes; }
    // From the given write call on (counted from 0), every write returns failCount.
    void FailFromCall(int callIndex, qint64 failCount) {
        failFromCall_ = callIndex;
        failCount_ = failCount;
    }

    const QByteArray& Data() const { return data_; }
    const QList<WriteCall>& Calls() const { return calls_; }

    qint64 Write(const void* Buffer, qint64 Count) override;
    qint64 Write(std::span<const char> Buffer, qint64 Offset, qint64 Count) override;
    qint64 Position() const override { return position_; }
    void SetPosition(qint64 position) override { position_ = position; }
    qint64 Size() const override { return data_.size(); }
    void SetSize(qint64 size) override;

  private:
    QByteArray data_;
    qint64 position_ = 0;
    qint64 maxBytesPerWrite_ = 0;
    int failFromCall_ = -1;
    qint64 failCount_ = 0;
    QList<WriteCall> calls_;
};
