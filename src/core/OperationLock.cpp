#include "core/OperationLock.h"

#include "core/Error.h"

TOperationGuard::TOperationGuard(TOperationLock& lock)
    : lock_(lock) {
    if (lock_.held_)
        throw Error(QStringLiteral("Another operation is still running"));
    lock_.held_ = true;
}

TOperationGuard::~TOperationGuard() {
    lock_.held_ = false;
}
