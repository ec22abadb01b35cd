#pragma once

// Whether this build's memory figures mean anything. AddressSanitizer holds freed memory in quarantine
// and ThreadSanitizer adds shadow memory to every allocation, so there a process's peak grows with what it
// has used and freed: a test's bound on memory holds only in the plain builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool MemoryFiguresHold = false;
#else
inline constexpr bool MemoryFiguresHold = true;
#endif
