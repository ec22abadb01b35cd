// The filter parser on any expression, then its pattern on a text. The input is the expression, a NUL
// byte and the text; a parse fault must be a TFilterParseError within the expression.
#include "catalogue/FilterExpression.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype split = input.indexOf('\0');
    const QString expression = QString::fromUtf8(split < 0 ? input : input.first(split));
    const QByteArrayView text = split < 0 ? QByteArrayView() : input.sliced(split + 1);
    try {
        const TLikePattern pattern = ParseFilterExpression(expression);
        volatile bool matched = pattern.Matches(text);
        (void)matched;
    } catch (const TFilterParseError& error) {
        if (error.Offset() < 0 || error.Offset() > expression.size())
            std::abort();
    }
    return 0;
}
