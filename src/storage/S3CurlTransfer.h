#pragma once

#include "core/Curl.h"
#include "storage/S3HttpTransport.h"

#include <memory>

// One answer: its status and headers, and the start of its body when it is a redirect.
struct TS3CurlAnswer {
    TS3HttpResponse Response;
    QByteArray RedirectBody;
};

// One exchange on a libcurl easy handle of its own: the options, the callbacks and the reading of the
// answer that SendRequest (one request, waited for) and TS3TransferGroup (several side by side) share.
// The handle is set up for exactly the request's headers and a User-Agent, HTTP/1.1, no redirect
// followed, and the limits' stop and no-progress checks.
class TS3CurlTransfer {
  public:
    // body receives a GET's body and is nullptr for a HEAD. With bodyStatus, only an answer with that
    // status hands its body to body; any other answer's body is dropped. Throws TError when the handle
    // cannot be set up or libcurl would read another host from the URL.
    TS3CurlTransfer(const TS3Request& request, const TS3RequestUrl& url, TS3BodySink* body,
                    const TS3TransportLimits& limits, int bodyStatus = 0);
    ~TS3CurlTransfer();
    TS3CurlTransfer(const TS3CurlTransfer&) = delete;
    TS3CurlTransfer& operator=(const TS3CurlTransfer&) = delete;

    CURL* Handle() const;

    // The answer, once libcurl ended the transfer with result. Rethrows what the body sink threw; throws
    // TOperationStopped for a stop, and TError that tells where the request broke off or that the host
    // stopped answering.
    TS3CurlAnswer Finish(CURLcode result);
    // Whether the transfer failed because the connection broke (neither a stop, nor a stall, nor the
    // body sink): such a transfer may be asked for again.
    bool BrokeOff(CURLcode result) const;

  private:
    struct TState;
    std::unique_ptr<TState> FState;
};
