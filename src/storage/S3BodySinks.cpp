#include "storage/S3BodySinks.h"

#include <span>
#include <stdexcept>

TS3ListingTooLarge::TS3ListingTooLarge(qint64 cap)
    : Error(QStringLiteral("The listing page is larger than %1 MiB").arg(cap / (1024 * 1024)))
    , cap_(cap) {}

void TS3ListingSink::Append(const char* data, qint64 count) {
    if (count > cap_ - data_.size())
        throw TS3ListingTooLarge(cap_);
    data_.append(data, count);
}

TS3StreamSink::TS3StreamSink(TS3Stream& stream)
    : stream_(stream)
    , startPosition_(stream.Position())
    , startSize_(stream.Size()) {}

void TS3StreamSink::Append(const char* data, qint64 count) {
    const std::span<const char> block(data, size_t(count));
    qint64 written = stream_.Write(block, 0, count);
    if (written < 0)
        throw std::runtime_error("Stream write error");
    while (written < count) {
        const qint64 more = stream_.Write(block, written, count - written);
        if (more <= 0)
            throw std::runtime_error("Stream write error");
        written += more;
    }
}

void TS3StreamSink::Restart() {
    stream_.SetSize(startSize_);
    stream_.SetPosition(startPosition_);
}
