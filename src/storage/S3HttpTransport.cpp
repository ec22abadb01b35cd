#include "storage/S3HttpTransport.h"

#include "core/Error.h"
#include "storage/S3CurlTransfer.h"
#include "storage/S3Redirects.h"

namespace {

constexpr int MaxRedirections = 5;

TS3CurlAnswer SendOnce(const TS3Request& request, const TS3RequestUrl& url, TS3BodySink* body,
                       const TS3TransportLimits& limits) {
    TS3CurlTransfer transfer(request, url, body, limits);
    return transfer.Finish(curl_easy_perform(transfer.Handle()));
}

} // namespace

TS3HttpResponse SendRequest(const TS3Request& request, TS3BodySink* body, const TS3TransportLimits& limits) {
    TS3RequestUrl url = request.Url;
    for (int redirections = 0;; ++redirections) {
        if (redirections > 0 && body)
            body->Restart();
        TS3CurlAnswer answer = SendOnce(request, url, body, limits);
        const std::optional<TS3RequestUrl> next =
            RedirectTarget(request.Method, url, answer.Response, answer.RedirectBody);
        if (!next)
            return answer.Response;
        if (redirections == MaxRedirections)
            throw TError(QStringLiteral("Maximum number of redirections (%1) exceeded").arg(MaxRedirections));
        url = *next;
    }
}
