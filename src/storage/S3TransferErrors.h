#pragma once

#include "core/Curl.h"
#include "core/Error.h"

#include <chrono>

// The messages of a request that failed on the way. Each names the host and what was being done, so the
// user can tell a storage service that cannot be reached from one that answers badly.

// libcurl's own wording of a failure: "<what>: (<code>) <libcurl's text>".
TError CurlError(const char* what, CURLcode code);

// The request never went out: the host could not be reached (connection refused, no connection in
// time, a name that does not resolve) or the sending failed. osError is libcurl's CURLINFO_OS_ERRNO.
TError UnsentError(const QString& host, CURLcode code, long osError,
                   std::chrono::milliseconds connectTimeout);

// The request went out, but no answer's headers came before the connection failed.
TError UnansweredError(const QString& host, CURLcode code);

// Nothing at all came for the stall timeout; headersBegun: part of the answer's headers had come.
TError StalledError(const QString& host, std::chrono::seconds stallTimeout, bool headersBegun);

// The answer came slower than the least rate: bytesPerSecond over window. inHeaders: its headers were
// not complete yet.
TError TooSlowError(const QString& host, double bytesPerSecond, std::chrono::milliseconds window,
                    qint64 minimumRate, bool inHeaders);
