#pragma once

#include <QString>

// The same object downloaded, in turns, through the main window (its Download command, which runs
// beside the window while the progress bar follows the counters), by the headless DownloadBackup on the
// main thread and by the same call on a plain thread, from the same object server, after one headless
// download that is not counted. The window lists its grid from the listing server first. Prints one line
// a run:
//   download run=<n> headless_s=<s> headless_thread_s=<s> window_s=<s> bytes=<size>
// Throws TError when a download fails or its file has not the object's size.
void DownloadSideBySide(quint16 accountPort, quint16 listingPort, quint16 objectPort, qint64 objectSize,
                        const QString& workFolder, int runs);
