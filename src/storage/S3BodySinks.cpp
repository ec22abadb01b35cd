#include "storage/S3BodySinks.h"

#include <span>
#include <stdexcept>

TS3ListingTooLarge::TS3ListingTooLarge(const QString& reason)
    : TError(reason.first(1).toUpper() + reason.sliced(1))
    , FReason(reason) {}

TS3ListingTooLarge TS3ListingTooLarge::OverCap(qint64 cap) {
    return TS3ListingTooLarge(
        QStringLiteral("a listing page is larger than %1 MiB").arg(cap / (1024 * 1024)));
}

void TS3ListingSink::Append(const char* data, qint64 count) {
    if (count > FCap - FData.size())
        throw TS3ListingTooLarge::OverCap(FCap);
    FData.append(data, count);
}

TS3StreamSink::TS3StreamSink(TS3Stream& stream)
    : FStream(stream)
    , FStartPosition(stream.Position())
    , FStartSize(stream.Size()) {}

void TS3StreamSink::Append(const char* data, qint64 count) {
    const std::span<const char> block(data, size_t(count));
    qint64 written = FStream.Write(block, 0, count);
    if (written < 0)
        throw std::runtime_error("Stream write error");
    while (written < count) {
        const qint64 more = FStream.Write(block, written, count - written);
        if (more <= 0)
            throw std::runtime_error("Stream write error");
        written += more;
    }
}

void TS3StreamSink::Restart() {
    FStream.SetSize(FStartSize);
    FStream.SetPosition(FStartPosition);
}
