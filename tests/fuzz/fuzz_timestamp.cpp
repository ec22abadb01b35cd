// The timestamp reader on any text. Its direct path for S3's own form must agree with the general
// reader, and the text S3 sends for a time must read back as that time.
#include "catalogue/CatalogueTimestamp.h"
#include "core/Error.h"

#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

template <typename TRead> std::optional<qint64> Attempt(TRead read) {
    try {
        return read();
    } catch (const TError&) {
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView text(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<qint64> direct = Attempt([&] { return ReadIsoTimestampMsecs(text); });
    const std::optional<qint64> general =
        Attempt([&] { return ReadIsoTimestamp(QString::fromUtf8(text)).toMSecsSinceEpoch(); });
    if (direct != general)
        std::abort();
    if (direct) {
        if (const auto canonical = CanonicalTimestampText(*direct)) {
            const QByteArrayView again(canonical->data(), qsizetype(canonical->size()));
            if (Attempt([&] { return ReadIsoTimestampMsecs(again); }) != direct)
                std::abort();
        }
    }
    return 0;
}
