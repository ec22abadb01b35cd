#pragma once

#include "core/Error.h"
#include "storage/S3HttpTransport.h"
#include "storage/S3Stream.h"

#include <QByteArray>

// Raised when a listing page is past what the client takes of one page: more bytes than the cap of its
// sink, or more markup than its reader parses.
class TS3ListingTooLarge : public TError {
  public:
    // reason: what is wrong with the page, as a phrase ("a listing page is larger than 64 MiB").
    explicit TS3ListingTooLarge(const QString& reason);
    // A page of more than cap bytes.
    static TS3ListingTooLarge OverCap(qint64 cap);
    const QString& Reason() const { return FReason; }

  private:
    QString FReason;
};

// Collects the bytes of a listing answer, which is parsed once it is whole. S3 sends at most 1,000
// keys a page, some 400 KiB; a page past the cap ends the request with TS3ListingTooLarge, so a
// hostile server cannot make the client hold an answer of any size.
class TS3ListingSink : public TS3BodySink {
  public:
    static constexpr qint64 DefaultCap = qint64(64) * 1024 * 1024;

    explicit TS3ListingSink(qint64 cap = DefaultCap)
        : FCap(cap) {}
    void Append(const char* data, qint64 count) override;
    void Restart() override { FData.clear(); }
    // The bytes received, handed over without a copy; the sink is empty afterwards.
    QByteArray TakeBytes() { return std::move(FData); }

  private:
    QByteArray FData;
    qint64 FCap;
};

// Writes each block of an object's body into the caller's stream through its byte-array write.
// A write that takes fewer bytes than asked is repeated for the rest; a negative count from the first
// call, or zero or less from a later call for the same block, throws "Stream write error".
class TS3StreamSink : public TS3BodySink {
  public:
    // Notes the stream's position and size: a redirect cuts the stream back to them.
    explicit TS3StreamSink(TS3Stream& stream);
    void Append(const char* data, qint64 count) override;
    void Restart() override;
    qint64 StartPosition() const { return FStartPosition; }

  private:
    TS3Stream& FStream;
    qint64 FStartPosition;
    qint64 FStartSize;
};
