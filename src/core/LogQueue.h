#pragma once

#include <QMutex>
#include <QStringList>

class TLogQueue {
  public:
    void Push(const QString& line) {
        QMutexLocker lock(&mutex_);
        lines_ << line;
    }
    QStringList TakeBatch() {
        QMutexLocker lock(&mutex_);
        return std::exchange(lines_, {});
    }

  private:
    QMutex mutex_;
    QStringList lines_;
};
