#pragma once

#include "storage/S3RequestSigner.h"
#include "storage/S3Results.h"
#include "storage/S3TransportLimits.h"

// Receives the body of a GET block by block, as libcurl hands the blocks over.
class TS3BodySink {
  public:
    virtual ~TS3BodySink() = default;
    virtual void Append(const char* data, qint64 count) = 0;
    // Called before the request is sent again after a redirect: drops what the last answer left.
    virtual void Restart() = 0;
    // Called with the status and headers of an answer that is not a redirect, before the first block of
    // its body (whether or not the body is handed over): a sink that throws here ends the transfer at
    // once, so a body it would refuse is never read, however long.
    virtual void Answered(int status, const TS3NameValueList& headers) {
        Q_UNUSED(status);
        Q_UNUSED(headers);
    }
};

struct TS3HttpResponse {
    int StatusCode = 0;
    TS3NameValueList Headers;
};

// Sends a signed request over HTTP/1.1, one new libcurl handle per send, with exactly the request's
// headers and a User-Agent. A GET answered with 301, 302, 303, 304 or 307 to the same scheme, host and
// port is sent again, with the same headers, to its Location, at most 5 times; a HEAD is never
// followed, and a redirect anywhere else throws without sending anything there (see RedirectTarget).
// body receives a GET's body and is nullptr for a HEAD. A request that cannot be carried out throws
// Error.
TS3HttpResponse SendRequest(const TS3Request& request, TS3BodySink* body, const TS3TransportLimits& limits);
