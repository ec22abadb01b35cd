#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <mutex>

// The log lines that background work writes, on their way to the window. Any thread pushes; the window's
// thread takes what has come since its last take, a batch at a time, so a program that writes millions
// of lines costs the window one short list per take instead of one event per line.
//
// Bounded so that memory stays flat whatever a program writes: between two takes the queue keeps the
// first headLines and the last tailLines lines (the tail in a ring), and counts the lines in between.
// The batch shows them as one line, "… 812,113 lines not shown", where they were.
class TLogQueue {
  public:
    // Neither bound may be negative.
    explicit TLogQueue(qsizetype headLines = 1000, qsizetype tailLines = 1000);
    TLogQueue(const TLogQueue&) = delete;
    TLogQueue& operator=(const TLogQueue&) = delete;

    // Any thread. Holds the lock only to store the line.
    void Push(const QString& line);
    // The lines pushed since the last take, in order, with the dropped ones counted in their place; the
    // queue is empty afterwards.
    QStringList TakeBatch();

  private:
    const qsizetype FHeadLimit;
    const qsizetype FTailLimit;
    // A standard mutex rather than QMutex: ThreadSanitizer sees it, and the threaded tests run under it.
    std::mutex FMutex;
    QStringList FHead;
    // Grows to FTailLimit, then each line overwrites the oldest, at FTailStart.
    QList<QString> FTail;
    qsizetype FTailStart = 0;
    qint64 FDropped = 0;
};
