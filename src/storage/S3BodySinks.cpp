#include "storage/S3BodySinks.h"

#include "core/Error.h"

#include <QStringDecoder>

#include <span>

QString TS3TextSink::Text() const {
    const auto encoding = QStringConverter::encodingForData(data_);
    QStringDecoder decoder(encoding.value_or(QStringConverter::Utf8));
    return decoder.decode(data_);
}

TS3StreamSink::TS3StreamSink(TS3Stream& stream)
    : stream_(stream)
    , startPosition_(stream.Position())
    , startSize_(stream.Size()) {}

void TS3StreamSink::Append(const char* data, qint64 count) {
    const std::span<const char> block(data, size_t(count));
    qint64 written = stream_.Write(block, 0, count);
    if (written < 0)
        throw Error(QStringLiteral("Stream write error"));
    while (written < count) {
        const qint64 more = stream_.Write(block, written, count - written);
        if (more <= 0)
            throw Error(QStringLiteral("Stream write error"));
        written += more;
    }
}

void TS3StreamSink::Restart() {
    stream_.SetSize(startSize_);
    stream_.SetPosition(startPosition_);
}
