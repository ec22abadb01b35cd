#include "support/MemoryStream.h"

#include <algorithm>

qint64 TS3MemoryStream::Write(const void* buffer, qint64 count) {
    const qint64 end = FPosition + count;
    if (end > FData.size())
        FData.resize(end);
    std::copy_n(static_cast<const char*>(buffer), count, FData.data() + FPosition);
    FPosition = end;
    return count;
}

qint64 TS3MemoryStream::Write(std::span<const char> buffer, qint64 offset, qint64 count) {
    FCalls.append({offset, count});
    if (FFailFromCall >= 0 && FCalls.size() > FFailFromCall)
        return FFailCount;
    const qint64 taken = FMaxBytesPerWrite > 0 ? std::min(count, FMaxBytesPerWrite) : count;
    return Write(buffer.data() + offset, taken);
}

void TS3MemoryStream::SetSize(qint64 size) {
    FData.resize(size);
    FPosition = std::min(FPosition, size);
}
