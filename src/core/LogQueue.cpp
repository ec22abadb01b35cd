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
    : FHeadLimit(headLines)
    , FTailLimit(tailLines) {
    Q_ASSERT(headLines >= 0 && tailLines >= 0);
}

void TLogQueue::Push(const QString& line) {
    const std::lock_guard lock(FMutex);
    if (FHead.size() < FHeadLimit) {
        FHead.append(line);
    } else if (FTail.size() < FTailLimit) {
        FTail.append(line);
    } else {
        ++FDropped;
        if (FTailLimit > 0) {
            FTail[FTailStart] = line;
            FTailStart = (FTailStart + 1) % FTailLimit;
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
        const std::lock_guard lock(FMutex);
        batch.swap(FHead);
        tail.swap(FTail);
        tailStart = std::exchange(FTailStart, 0);
        dropped = std::exchange(FDropped, 0);
    }
    batch.reserve(batch.size() + tail.size() + 1);
    if (dropped > 0)
        batch.append(NotShownLine(dropped));
    for (qsizetype i = 0; i < tail.size(); ++i)
        batch.append(std::move(tail[(tailStart + i) % tail.size()]));
    return batch;
}
