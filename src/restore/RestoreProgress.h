#pragma once

#include <QString>

// Counts a pg_restore run's progress in the archive's items: the table of contents that
// "pg_restore --list" prints gives the total, and the lines "pg_restore --verbose" prints as it starts
// each item give the count done. The same lines appear once per item whatever the number of jobs.
class TRestoreProgress {
  public:
    // One line of the --list output. The table of contents is taken, not being for the log; pg_restore's
    // own messages are left for it.
    bool TakeListLine(const QString& line);
    // One line pg_restore --verbose wrote. Its progress lines are taken (counted or merely dropped);
    // warnings, errors and anything else are left for the log.
    bool TakeVerboseLine(const QString& line);

    int Total() const { return FTotal; }
    // Items started, never above the total.
    int Done() const { return FDone < FTotal ? FDone : FTotal; }

  private:
    int FTotal = 0;
    int FDone = 0;
};
