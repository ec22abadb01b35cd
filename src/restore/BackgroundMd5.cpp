#include "restore/BackgroundMd5.h"

#include <algorithm>
#include <vector>

TBackgroundMd5::TBackgroundMd5(TReadAt read)
    : FRead(std::move(read))
    , FThread([this](std::stop_token stop) { Run(stop); }) {}

TBackgroundMd5::~TBackgroundMd5() {
    FThread.request_stop();
    FChanged.notify_all();
}

void TBackgroundMd5::Written(qint64 offset, qint64 count) {
    if (count <= 0)
        return;
    const std::lock_guard lock(FMutex);
    const qint64 end = offset + count;
    // A part that overlaps one already written is a second write of the same bytes.
    auto next = FAhead.lower_bound(offset);
    const bool overlapsNext = next != FAhead.end() && next->first < end;
    const bool overlapsPrevious = next != FAhead.begin() && std::prev(next)->second > offset;
    if (offset < FPrefix || overlapsNext || overlapsPrevious) {
        FBroken = true;
        FChanged.notify_all();
        return;
    }
    // Ranges that meet are kept as one, so that the list stays as short as the gaps are few.
    qint64 last = end;
    if (next != FAhead.end() && next->first == end) {
        last = next->second;
        next = FAhead.erase(next);
    }
    if (next != FAhead.begin() && std::prev(next)->second == offset)
        std::prev(next)->second = last;
    else
        FAhead.emplace(offset, last);
    while (!FAhead.empty() && FAhead.begin()->first == FPrefix) {
        FPrefix = FAhead.begin()->second;
        FAhead.erase(FAhead.begin());
    }
    FChanged.notify_all();
}

void TBackgroundMd5::Cut(qint64 size, const std::function<void()>& cutFile) {
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, [this] { return !FBusy; });
    cutFile();
    if (size == 0) {
        FAhead.clear();
        FPrefix = 0;
        FHashed = 0;
        FBroken = false;
        FMd5.reset();
        return;
    }
    if (size < FHashed)
        FBroken = true;
    FPrefix = std::min(FPrefix, size);
    FAhead.erase(FAhead.lower_bound(size), FAhead.end());
    if (!FAhead.empty() && FAhead.rbegin()->second > size)
        FAhead.rbegin()->second = size;
}

QByteArray TBackgroundMd5::Result(qint64 size) {
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, [this] { return Idle(); });
    if (FBroken || !FHashing || FHashed != size)
        return {};
    return FMd5.result();
}

void TBackgroundMd5::SetHashing(bool on) {
    const std::lock_guard lock(FMutex);
    FHashing = on;
    FChanged.notify_all();
}

TByteExtents TBackgroundMd5::Extents() {
    const std::lock_guard lock(FMutex);
    TByteExtents extents;
    if (FPrefix > 0)
        extents.emplace_back(0, FPrefix);
    extents.insert(extents.end(), FAhead.begin(), FAhead.end());
    return extents;
}

void TBackgroundMd5::Run(std::stop_token stop) {
    std::vector<char> buffer(ReadSize);
    std::unique_lock lock(FMutex);
    for (;;) {
        FChanged.wait(lock, stop, [this] { return FHashing && !FBroken && FHashed < FPrefix; });
        if (stop.stop_requested())
            return;
        const qint64 offset = FHashed;
        const qint64 count = std::min(FPrefix - FHashed, ReadSize);
        FBusy = true;
        lock.unlock();
        qint64 done = 0;
        while (done < count) {
            const qint64 read = FRead(offset + done, buffer.data() + done, count - done);
            if (read <= 0)
                break;
            done += read;
        }
        if (done == count)
            FMd5.addData(QByteArrayView(buffer.data(), count));
        lock.lock();
        FBusy = false;
        if (done == count)
            FHashed += count;
        else
            FBroken = true;
        FChanged.notify_all();
    }
}
