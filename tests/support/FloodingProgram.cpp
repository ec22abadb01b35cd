// Stands in for a client program that writes far more than anyone reads: it writes <MiB> mebibytes of
// numbered text lines of 80 bytes each (rounded up to a whole line) to standard error, or to standard
// output when the second argument is "stdout", as fast as it can, then exits 0.
//   flooding_program <MiB> [stdout]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr long long LineBytes = 80;
// Lines are written in blocks of this many, each block with one call.
constexpr long long BlockLines = 4096;

// "flood line 0000000042 " and dots up to the line end, LineBytes in all.
void PutLine(char* at, long long number) {
    const int length = std::snprintf(at, LineBytes, "flood line %010lld ", number);
    std::memset(at + length, '.', std::size_t(LineBytes - 1 - length));
    at[LineBytes - 1] = '\n';
}

} // namespace

int main(int argc, char* argv[]) {
    char* end = nullptr;
    const long long mebibytes = argc >= 2 ? std::strtoll(argv[1], &end, 10) : -1;
    const bool toStandardOutput = argc == 3 && std::strcmp(argv[2], "stdout") == 0;
    if (argc < 2 || argc > 3 || *end != '\0' || mebibytes < 0 || (argc == 3 && !toStandardOutput)) {
        std::fputs("usage: flooding_program <MiB> [stdout]\n", stderr);
        return 2;
    }
    std::FILE* out = toStandardOutput ? stdout : stderr;
    const long long lines = (mebibytes * 1024 * 1024 + LineBytes - 1) / LineBytes;
    std::string block(std::size_t(BlockLines * LineBytes), '\0');
    for (long long first = 0; first < lines; first += BlockLines) {
        const long long count = std::min(BlockLines, lines - first);
        for (long long i = 0; i < count; ++i)
            PutLine(block.data() + i * LineBytes, first + i + 1);
        if (std::fwrite(block.data(), std::size_t(LineBytes), std::size_t(count), out) != std::size_t(count))
            return 1;
    }
    return std::fflush(out) == 0 ? 0 : 1;
}
