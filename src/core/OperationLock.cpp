#include "core/OperationLock.h"

#include <stdexcept>

TOperationGuard::TOperationGuard(TOperationLock& lock)
    : lock_(lock) {
    if (lock_.held_)
        throw std::runtime_error("Another operation is still running");
    lock_.held_ = true;
}

TOperationGuard::~TOperationGuard() {
    lock_.held_ = false;
}
