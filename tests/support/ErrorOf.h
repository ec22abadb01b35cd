#pragma once

#include "core/Error.h"

#include <QString>

#include <functional>
#include <stdexcept>

// The message of the error an action raises, or an empty text when it raises none: lets a data table
// hold the expected message, or nothing for a success.
inline QString ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& error) {
        return MessageOf(error);
    }
    return {};
}
