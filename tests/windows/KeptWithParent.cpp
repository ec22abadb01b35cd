// Stands in for Corvane in TestWindowsRestore::clientProgramsEndWithCorvane: runs the program named by
// its one argument as the restore runs a client program, and waits for it to end, which it never does
// before the test kills this process.
#include "restore/RunAndWait.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const TProgramOutcome outcome =
        RunAndWait(QCoreApplication::arguments().value(1), {}, [](const QString&) {});
    return outcome.Succeeded() ? 0 : 1;
}
