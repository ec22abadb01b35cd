#pragma once

#include "storage/S3Stream.h"

#include <QByteArray>
#include <QList>

// A stream in memory for tests: records every byte-array write and can take fewer bytes than asked
// or refuse to write, to drive the storage client's write rule.
class TS3MemoryStream : public TS3Stream {
  public:
    struct TWriteCall {
        qint64 Offset;
        qint64 Count;
    };

    // At most this many bytes per write call (0: no limit).
    void SetMaxBytesPerWrite(qint64 maxBytes) { FMaxBytesPerWrite = maxBytes; }
    // From the given write call on (counted from 0), every write returns failCount.
    void FailFromCall(int callIndex, qint64 failCount) {
        FFailFromCall = callIndex;
        FFailCount = failCount;
    }

    const QByteArray& Data() const { return FData; }
    const QList<TWriteCall>& Calls() const { return FCalls; }

    qint64 Write(const void* buffer, qint64 count) override;
    qint64 Write(std::span<const char> buffer, qint64 offset, qint64 count) override;
    qint64 Position() const override { return FPosition; }
    void SetPosition(qint64 position) override { FPosition = position; }
    qint64 Size() const override { return FData.size(); }
    void SetSize(qint64 size) override;

  private:
    QByteArray FData;
    qint64 FPosition = 0;
    qint64 FMaxBytesPerWrite = 0;
    int FFailFromCall = -1;
    qint64 FFailCount = 0;
    QList<TWriteCall> FCalls;
};
