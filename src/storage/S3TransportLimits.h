#pragma once

#include <chrono>

// Time limits of the transport. The product always uses the defaults; tests may shorten them.
struct TS3TransportLimits {
    std::chrono::milliseconds connectTimeout{60000};
    std::chrono::seconds stallTimeout{60}; // under one byte a second received for this long ends it
};
