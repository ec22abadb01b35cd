// The listing reader on any bytes, with the error document it may hold. A key read must be exact UTF-8
// without NUL: other keys are skipped and counted.
#include "core/Error.h"
#include "storage/S3ListingReader.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

namespace {

void CheckKey(QByteArrayView key) {
    if (key.contains('\0') || QString::fromUtf8(key).toUtf8() != key)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        const TS3ListingPageAnswer answer = ReadListingPage(bytes);
        if (answer.Page) {
            for (const TS3ListedObject& object : answer.Page->Objects) {
                CheckKey(object.Key);
                volatile qsizetype touched = object.LastModified.count('Z');
                (void)touched;
            }
            // The views of the page's own fields lie in its bytes as well.
            volatile qsizetype touched = answer.Page->NextMarker.count('/') + answer.Page->LastKey.count('/');
            (void)touched;
        }
    } catch (const TError&) {
    }
    return 0;
}
