#pragma once

#include "config/BuildSettings.h"

#include <QtGlobal>

#include <chrono>
#include <stop_token>

// The slowest a transfer may go: fewer bytes than this a second, averaged over the window below, end it.
inline constexpr qint64 MinimumTransferRate = 1024;
inline constexpr std::chrono::seconds TransferRateWindow{60};

// How long a request may wait, and the user's way to end it. The product keeps the default times; tests
// may shorten them.
struct TS3TransportLimits {
    std::chrono::milliseconds ConnectTimeout{60000};
    // Nothing sent or received for this long ends a request with an error that names the host.
    std::chrono::seconds StallTimeout{BuildSettings::NoProgressSeconds};
    // A stop asked for through this token ends a request within a second, throwing TOperationStopped.
    std::stop_token Stop;
    // Once the request is sent, an answer (its headers included) that brings fewer than MinimumRate
    // bytes a second over a window of RateWindow ends with an error that names the host and the rate:
    // a server that drips its answer would otherwise hold the request for ever.
    qint64 MinimumRate = MinimumTransferRate;
    std::chrono::milliseconds RateWindow{TransferRateWindow};
};
