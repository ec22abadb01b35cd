#pragma once

#include "storage/S3HttpTransport.h"
#include "storage/S3UrlEncoding.h"

#include <QByteArray>

#include <optional>

// How much of a redirect answer's body is kept for RedirectTarget: S3's error documents are far smaller.
inline constexpr qsizetype S3RedirectBodyLimit = 64 * 1024;

// True for the statuses that can send a request on: 301, 302, 303, 304 and 307.
bool IsRedirectStatus(int status);

// Where an answer sends the request next. A signature covers the host, so no other server can accept
// the request: sending it there would only hand over the access key ID and signature. Hence a GET is
// sent again only to the same scheme, host and port (never from https to http), and a HEAD never.
// Returns the URL to send the GET to again, or nothing when the answer goes back to the caller as it
// is: no redirect, one without Location, or a HEAD's redirect within the same server.
// Throws TError for a redirect anywhere else, without sending anything there:
// - S3's region redirect, which names where the bucket lives (the Endpoint of the error document in
//   body, or else the Location's host, or else the x-amz-bucket-region header):
//   "The bucket is in another region: the service names the endpoint "<endpoint>"" or
//   "The bucket is in another region: the service names the region "<region>"";
// - any other: "Redirect to "<target>" refused: a signed request is only sent again to the server it
//   was made for".
// body holds the start of the answer's body (up to S3RedirectBodyLimit bytes).
std::optional<TS3RequestUrl> RedirectTarget(const QByteArray& method, const TS3RequestUrl& from,
                                            const TS3HttpResponse& response, const QByteArray& body);
