// The readers of the sign-in answer's header values on any text; they never fail.
#include "account/HttpHeaderValues.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView value(reinterpret_cast<const char*>(data), qsizetype(size));
    volatile bool named = BasicChallengeCharset(value).has_value();
    volatile qsizetype length = ContentTypeCharset(value).size();
    (void)named;
    (void)length;
    return 0;
}
