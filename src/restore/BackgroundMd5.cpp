#include "restore/BackgroundMd5.h"

#include <algorithm>
#include <vector>

TBackgroundMd5::TBackgroundMd5(ReadAt read)
    : read_(std::move(read))
    , thread_([this](std::stop_token stop) { Run(stop); }) {}

TBackgroundMd5::~TBackgroundMd5() {
    thread_.request_stop();
    changed_.notify_all();
}

void TBackgroundMd5::Written(qint64 offset, qint64 count) {
    if (count <= 0)
        return;
    const std::lock_guard lock(mutex_);
    const qint64 end = offset + count;
    // A part that overlaps one already written is a second write of the same bytes.
    auto next = ahead_.lower_bound(offset);
    const bool overlapsNext = next != ahead_.end() && next->first < end;
    const bool overlapsPrevious = next != ahead_.begin() && std::prev(next)->second > offset;
    if (offset < prefix_ || overlapsNext || overlapsPrevious) {
        broken_ = true;
        changed_.notify_all();
        return;
    }
    ahead_.emplace(offset, end);
    while (!ahead_.empty() && ahead_.begin()->first == prefix_) {
        prefix_ = ahead_.begin()->second;
        ahead_.erase(ahead_.begin());
    }
    changed_.notify_all();
}

void TBackgroundMd5::Cut(qint64 size, const std::function<void()>& cutFile) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    cutFile();
    if (size == 0) {
        ahead_.clear();
        prefix_ = 0;
        hashed_ = 0;
        broken_ = false;
        md5_.reset();
        return;
    }
    if (size < hashed_)
        broken_ = true;
    prefix_ = std::min(prefix_, size);
    ahead_.erase(ahead_.lower_bound(size), ahead_.end());
    if (!ahead_.empty() && ahead_.rbegin()->second > size)
        ahead_.rbegin()->second = size;
}

QByteArray TBackgroundMd5::Result(qint64 size) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return Idle(); });
    if (broken_ || hashed_ != size)
        return {};
    return md5_.result();
}

void TBackgroundMd5::Run(std::stop_token stop) {
    std::vector<char> buffer(ReadSize);
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, stop, [this] { return !broken_ && hashed_ < prefix_; });
        if (stop.stop_requested())
            return;
        const qint64 offset = hashed_;
        const qint64 count = std::min(prefix_ - hashed_, ReadSize);
        busy_ = true;
        lock.unlock();
        qint64 done = 0;
        while (done < count) {
            const qint64 read = read_(offset + done, buffer.data() + done, count - done);
            if (read <= 0)
                break;
            done += read;
        }
        if (done == count)
            md5_.addData(QByteArrayView(buffer.data(), count));
        lock.lock();
        busy_ = false;
        if (done == count)
            hashed_ += count;
        else
            broken_ = true;
        changed_.notify_all();
    }
}
