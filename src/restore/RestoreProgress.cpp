#include "restore/RestoreProgress.h"

#include <algorithm>
#include <iterator>

bool TRestoreProgress::TakeListLine(const QString& line) {
    // pg_restore's own messages, such as why it cannot read the file, go to the log.
    if (line.startsWith(QStringLiteral("pg_restore: ")))
        return false;
    // Comments start with ";"; every other line that is not blank names one item.
    if (!line.startsWith(u';') && !line.trimmed().isEmpty())
        ++FTotal;
    return true;
}

bool TRestoreProgress::TakeVerboseLine(const QString& line) {
    // The starts of items, then pg_restore's other running commentary (the item numbers of a parallel
    // restore, its loop and connection notes); "pg_restore: warning:" and "pg_restore: error:" lines do
    // not match either.
    static constexpr QStringView ProgramPrefix = u"pg_restore: ";
    if (!line.startsWith(ProgramPrefix))
        return false;
    const QStringView message = QStringView(line).sliced(ProgramPrefix.size());
    static constexpr QStringView Started[] = {u"creating ", u"processing data for table ", u"executing "};
    static constexpr QStringView Commentary[] = {u"processing item ",
                                                 u"processing missed item ",
                                                 u"launching item ",
                                                 u"finished item ",
                                                 u"entering ",
                                                 u"finished main parallel loop",
                                                 u"connecting to database",
                                                 u"implied data-only restore",
                                                 u"setting owner and privileges for "};
    const auto startsMessage = [&](QStringView start) { return message.startsWith(start); };
    if (std::any_of(std::begin(Started), std::end(Started), startsMessage)) {
        ++FDone;
        return true;
    }
    return std::any_of(std::begin(Commentary), std::end(Commentary), startsMessage);
}
