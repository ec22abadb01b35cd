// The command-line splitter on any text, and the round trip: the NUL-separated parts of the input,
// joined, split back into exactly those parts; any text split, joined and split again gives the same.
#include "restore/CommandLine.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList split = SplitCommandLine(text);
    if (SplitCommandLine(JoinCommandLine(split)) != split)
        std::abort();
    const QStringList arguments = text.split(QChar(0));
    if (SplitCommandLine(JoinCommandLine(arguments)) != arguments)
        std::abort();
    return 0;
}
