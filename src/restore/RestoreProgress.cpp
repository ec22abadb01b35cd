#include "restore/RestoreProgress.h"

#include <QRegularExpression>

bool TRestoreProgress::TakeListLine(const QString& line) {
    // pg_restore's own messages, such as why it cannot read the file, go to the log.
    if (line.startsWith(QStringLiteral("pg_restore: ")))
        return false;
    // Comments start with ";"; every other line that is not blank names one item.
    if (!line.startsWith(u';') && !line.trimmed().isEmpty())
        ++total_;
    return true;
}

bool TRestoreProgress::TakeVerboseLine(const QString& line) {
    // The starts of items, then pg_restore's other running commentary (the item numbers of a parallel
    // restore, its loop and connection notes); "pg_restore: warning:" and "pg_restore: error:" lines do
    // not match either.
    static const QRegularExpression started(
        QStringLiteral("^pg_restore: (creating |processing data for table |executing )"));
    static const QRegularExpression commentary(QStringLiteral(
        "^pg_restore: (processing item |processing missed item |launching item |finished item |entering |"
        "finished main parallel loop|connecting to database|implied data-only restore|setting owner and "
        "privileges for )"));
    if (line.contains(started)) {
        ++done_;
        return true;
    }
    return line.contains(commentary);
}
