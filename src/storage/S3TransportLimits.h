#pragma once

#include "config/BuildSettings.h"

#include <chrono>
#include <stop_token>

// How long a request may wait, and the user's way to end it. The product keeps the default times; tests
// may shorten them.
struct TS3TransportLimits {
    std::chrono::milliseconds ConnectTimeout{60000};
    // Nothing sent or received for this long ends a request with an error that names the host.
    std::chrono::seconds StallTimeout{BuildSettings::NoProgressSeconds};
    // A stop asked for through this token ends a request within a second, throwing TOperationStopped.
    std::stop_token Stop;
};
