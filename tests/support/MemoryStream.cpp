#include "support/MemoryStream.h"

#include <algorithm>

qint64 TS3MemoryStream::Write(const void* Buffer, qint64 Count) {
    const qint64 end = position_ + Count;
    if (end > data_.size())
        data_.resize(end);
    std::copy_n(static_cast<const char*>(Buffer), Count, data_.data() + position_);
    position_ = end;
    return Count;
}

qint64 TS3MemoryStream::Write(std::span<const char> Buffer, qint64 Offset, qint64 Count) {
    calls_.append({Offset, Count});
    if (failFromCall_ >= 0 && calls_.size() > failFromCall_)
        return failCount_;
    const qint64 taken = maxBytesPerWrite_ > 0 ? std::min(Count, maxBytesPerWrite_) : Count;
    return Write(Buffer.data() + Offset, taken);
}

void TS3MemoryStream::SetSize(qint64 size) {
    data_.resize(size);
    position_ = std::min(position_, size);
}
