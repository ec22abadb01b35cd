#pragma once

// Marks that a long operation (restore, download, Connect) is running. The window keeps one for its
// whole life; the operations it starts hold a TOperationGuard on it.
class TOperationLock {
  public:
    bool IsHeld() const { return held_; }

  private:
    friend class TOperationGuard;
    bool held_ = false;
};

// Holds the lock for one operation. Because pending events are processed while a download or an outside
// program runs, the window's controls that stay live could start a second operation inside the first;
// the guard refuses it before it changes anything, with "Another operation is still running".
class TOperationGuard {
  public:
    explicit TOperationGuard(TOperationLock& lock);
    ~TOperationGuard();
    TOperationGuard(const TOperationGuard&) = delete;
    TOperationGuard& operator=(const TOperationGuard&) = delete;

  private:
    TOperationLock& lock_;
};
