#pragma once

#include "storage/S3HttpTransport.h"
#include "storage/S3Stream.h"

#include <QByteArray>
#include <QString>

// Collects a text answer (the listing) in memory.
class TS3TextSink : public TS3BodySink {
  public:
    void Append(const char* data, qint64 count) override { data_.append(data, count); }
    void Restart() override { data_.clear(); }
    // The answer decoded as UTF-8, or in the encoding a byte-order mark at its start names.
    QString Text() const;

  private:
    QByteArray data_;
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
    qint64 StartPosition() const { return startPosition_; }

  private:
    TS3Stream& stream_;
    qint64 startPosition_;
    qint64 startSize_;
};
