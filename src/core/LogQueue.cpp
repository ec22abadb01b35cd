#include "core/LogQueue.h"

#include <QLocale>

#include <utility>

namespace {

// The log is English text, so its counts are written one way everywhere: "812,113".
QString NotShownLine(qint64 count) {
    QLocale english = QLocale::c();
    english.setNumberOptions(QLocale::DefaultNumberOptions);
    return count == 1 ? QStringLiteral("\u2026 1 line not shown")
                      : QStringLiteral("\u2026 %1 lines not shown").arg(english.toString(count));
}

} // namespace

TLogQueue::TLogQueue(qsizetype headLines, qsizetype tailLines)
    : headLimit_(headLines)
    , tailLimit_(tailLines) {
    Q_ASSERT(headLines >= 0 && tailLines >= 0);
}

void TLogQueue::Push(const QString& line) {
    const std::lock_guard lock(mutex_);
    if (head_.size() < headLimit_) {
        head_.append(line);
    } else if (tail_.size() < tailLimit_) {
        tail_.append(line);
    } else {
        ++dropped_;
        if (tailLimit_ > 0) {
            tail_[tailStart_] = line;
            tailStart_ = (tailStart_ + 1) % tailLimit_;
        }
    }
}

QStringList TLogQueue::TakeBatch() {
    QStringList batch;
    QList<QString> tail;
    qsizetype tailStart = 0;
    qint64 dropped = 0;
    {
        // Only the lists change hands under the lock; the batch is put together after it, so that
        // pushing threads never wait for that.
        const std::lock_guard lock(mutex_);
        batch.swap(head_);
        tail.swap(tail_);
        tailStart = std::exchange(tailStart_, 0);
        dropped = std::exchange(dropped_, 0);
    }
    batch.reserve(batch.size() + tail.size() + 1);
    if (dropped > 0)
        batch.append(NotShownLine(dropped));
    for (qsizetype i = 0; i < tail.size(); ++i)
        batch.append(std::move(tail[(tailStart + i) % tail.size()]));
    return batch;
}
