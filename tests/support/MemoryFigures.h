#pragma once

#include <QtGlobal>

#ifndef Q_OS_WIN
#include <sys/resource.h>
#endif

// Whether this build's memory figures mean anything. AddressSanitizer holds freed memory in quarantine
// and ThreadSanitizer adds shadow memory to every allocation, so there a process's peak grows with what it
// has used and freed: a test's bound on memory holds only in the plain builds (and not on Windows, where
// PeakResidentKiB has nothing to read).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(Q_OS_WIN)
inline constexpr bool MemoryFiguresHold = false;
#else
inline constexpr bool MemoryFiguresHold = true;
#endif

// The largest resident set size of the process so far, in KiB (0 on Windows).
inline qint64 PeakResidentKiB() {
#ifdef Q_OS_WIN
    return 0;
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
#endif
}
