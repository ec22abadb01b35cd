#include "storage/S3CurlTransfer.h"

#include "core/Error.h"
#include "storage/S3Redirects.h"
#include "storage/S3ResponseHeaders.h"
#include "storage/S3TransferErrors.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <utility>

namespace {

// Receive buffer. It does not set the size of the blocks handed to a body: libcurl 7.88 hands a body
// over in blocks of 16 KiB whatever this size, so a stream that wants large file writes gathers the
// blocks itself (see TS3DownloadStream).
constexpr long ReceiveBufferSize = 512 * 1024;
constexpr char UserAgent[] = "User-Agent: Corvane-S3/1.0";

void Check(CURLcode code, const char* what) {
    if (code != CURLE_OK)
        throw CurlError(what, code);
}

using TClock = std::chrono::steady_clock;

// Why the progress callback ended a transfer.
enum class TInterruption { None, Stopped, Stalled, TooSlow };

// What the callbacks of one send share with it.
struct TTransfer {
    CURL* Handle = nullptr;
    TS3BodySink* Body = nullptr;
    int BodyStatus = 0; // when set, only an answer with this status hands its body over
    const TS3TransportLimits* Limits = nullptr;
    TInterruption Interruption = TInterruption::None;
    // Bytes of the answers' header lines: libcurl's progress counts leave them out, and a server that
    // drips its headers moves the transfer on only through them.
    curl_off_t HeaderBytes = 0;
    curl_off_t Moved = 0; // bytes sent and received, headers included, when the transfer last moved
    TClock::time_point LastMoved = TClock::now();
    // The rate window: it opens once the request has gone out (connecting has a timeout of its own).
    bool RequestSent = false;
    TClock::time_point WindowStart = TClock::now();
    curl_off_t WindowMoved = 0;
    double SlowRate = 0;           // bytes a second over the window that found the answer too slow
    QList<QByteArray> HeaderLines; // of the latest answer
    bool HeadersComplete = false;
    bool BodyBegun = false;       // the latest answer's body has begun
    int StatusCode = 0;           // of the latest answer, from its status line
    QByteArray RedirectBody;      // the start of a redirect answer's body, for RedirectTarget
    std::exception_ptr SinkError; // an exception of the sink, rethrown once libcurl has returned
};

size_t OnHeaderLine(char* data, size_t size, size_t count, void* userData) {
    auto& transfer = *static_cast<TTransfer*>(userData);
    transfer.HeaderBytes += curl_off_t(size * count);
    QByteArray line(data, qsizetype(size * count));
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.startsWith("HTTP/")) {
        // A new answer begins (for instance after "100 Continue"); only the last one counts.
        transfer.HeaderLines.clear();
        transfer.HeadersComplete = false;
        transfer.BodyBegun = false;
        transfer.StatusCode = line.split(' ').value(1).toInt();
    }
    if (line.isEmpty())
        transfer.HeadersComplete = true;
    else
        transfer.HeaderLines.append(line);
    return size * count;
}

size_t OnBodyBlock(char* data, size_t size, size_t count, void* userData) {
    auto& transfer = *static_cast<TTransfer*>(userData);
    const size_t length = size * count;
    if (length == 0)
        return 0;
    if (IsRedirectStatus(transfer.StatusCode)) {
        const qsizetype room = S3RedirectBodyLimit - transfer.RedirectBody.size();
        transfer.RedirectBody.append(data, std::min(qsizetype(length), room));
    }
    const bool begins = !std::exchange(transfer.BodyBegun, true);
    try {
        if (begins && !IsRedirectStatus(transfer.StatusCode))
            transfer.Body->Answered(transfer.StatusCode, ParseResponseHeaders(transfer.HeaderLines));
        if (transfer.BodyStatus != 0 && transfer.StatusCode != transfer.BodyStatus)
            return length;
        transfer.Body->Append(data, qint64(length));
    } catch (...) {
        transfer.SinkError = std::current_exception();
        return CURL_WRITEFUNC_ERROR;
    }
    return length;
}

// libcurl calls this many times a second while a transfer moves and at least once a second while it
// waits, connecting included: a stop asked for, a transfer that stopped moving and one that moves slower
// than the least rate end it here.
int OnTransferInfo(void* userData, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    auto& transfer = *static_cast<TTransfer*>(userData);
    const TS3TransportLimits& limits = *transfer.Limits;
    if (limits.Stop.stop_requested()) {
        transfer.Interruption = TInterruption::Stopped;
        return 1;
    }
    const TClock::time_point now = TClock::now();
    const curl_off_t moved = received + sent + transfer.HeaderBytes;
    if (moved != transfer.Moved) {
        transfer.Moved = moved;
        transfer.LastMoved = now;
    } else if (now - transfer.LastMoved >= limits.StallTimeout) {
        transfer.Interruption = TInterruption::Stalled;
        return 1;
    }
    if (!transfer.RequestSent) {
        long requestSize = 0;
        curl_easy_getinfo(transfer.Handle, CURLINFO_REQUEST_SIZE, &requestSize);
        transfer.RequestSent = requestSize > 0;
        transfer.WindowStart = now;
        transfer.WindowMoved = moved;
    } else if (now - transfer.WindowStart >= limits.RateWindow) {
        const double seconds = std::chrono::duration<double>(now - transfer.WindowStart).count();
        const double rate = double(moved - transfer.WindowMoved) / seconds;
        if (rate < double(limits.MinimumRate)) {
            transfer.SlowRate = rate;
            transfer.Interruption = TInterruption::TooSlow;
            return 1;
        }
        transfer.WindowStart = now;
        transfer.WindowMoved = moved;
    }
    return 0;
}

// The URL for libcurl, exactly as encoded here. libcurl must read the same host from it: a host that
// it cannot take, or that it would read differently (user information, say), gets no connection.
QByteArray CurlUrlText(const TS3RequestUrl& url) {
    const QByteArray text = url.ToString().toUtf8();
    TCurlUrl parsed(curl_url());
    char* host = nullptr;
    const bool ok =
        parsed &&
        curl_url_set(parsed.get(), CURLUPART_URL, text.constData(), CURLU_PATH_AS_IS) == CURLUE_OK &&
        curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        url.Host.compare(QString::fromUtf8(host), Qt::CaseInsensitive) == 0;
    curl_free(host);
    if (!ok)
        throw TError(QStringLiteral("Error connecting to server: %1").arg(url.Host));
    return text;
}

void FillHeaderList(TCurlHeaderList& list, const TS3NameValueList& headers) {
    auto append = [&list](const QByteArray& line) {
        if (!list.Append(line))
            throw CurlError("Error adding header", CURLE_OUT_OF_MEMORY);
    };
    for (const auto& [name, value] : headers.Entries())
        append(name.toLatin1() + ": " + value.toUtf8());
    append(UserAgent);
    // Headers libcurl would add on its own; the request carries none of them.
    append("Accept:");
}

// Tells where the request broke off: before it was sent, before the answer's header, or in the body;
// or that the host stopped answering or answered too slowly.
TError TransferError(CURL* curl, CURLcode code, const TTransfer& transfer, const QString& host) {
    const TS3TransportLimits& limits = *transfer.Limits;
    if (transfer.Interruption == TInterruption::Stalled)
        return StalledError(host, limits.StallTimeout, transfer.HeaderBytes > 0 && !transfer.HeadersComplete);
    if (transfer.Interruption == TInterruption::TooSlow)
        return TooSlowError(host, transfer.SlowRate, limits.RateWindow, limits.MinimumRate,
                            !transfer.HeadersComplete);
    long requestSize = 0;
    curl_easy_getinfo(curl, CURLINFO_REQUEST_SIZE, &requestSize);
    if (transfer.HeadersComplete)
        return CurlError("Error reading data", code);
    if (requestSize > 0)
        return UnansweredError(host, code);
    long osError = 0;
    curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError);
    return UnsentError(host, code, osError, limits.ConnectTimeout);
}

} // namespace

struct TS3CurlTransfer::TState {
    TCurlEasy Curl;
    QByteArray Url;
    TCurlHeaderList HeaderList;
    TTransfer Transfer;
    QString Host;
};

TS3CurlTransfer::TS3CurlTransfer(const TS3Request& request, const TS3RequestUrl& url, TS3BodySink* body,
                                 const TS3TransportLimits& limits, int bodyStatus)
    : FState(std::make_unique<TState>()) {
    FState->Curl.reset(curl_easy_init());
    if (!FState->Curl)
        throw TError(QStringLiteral("Error obtaining session handle"));
    FState->Url = CurlUrlText(url);
    FState->Host = url.Host;
    FillHeaderList(FState->HeaderList, request.Headers);
    TTransfer& transfer = FState->Transfer;
    transfer.Handle = FState->Curl.get();
    transfer.Body = body;
    transfer.BodyStatus = bodyStatus;
    transfer.Limits = &limits;

    CURL* handle = FState->Curl.get();
    const char* opening = "Error opening request";
    Check(curl_easy_setopt(handle, CURLOPT_URL, FState->Url.constData()), opening);
    Check(curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https"), opening);
    Check(curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1)), opening);
    // Keys are sent as they are named: no removal of "." and ".." segments.
    Check(curl_easy_setopt(handle, CURLOPT_PATH_AS_IS, 1L), opening);
    // Redirects are judged by our own code: libcurl would send the signed headers to any host.
    Check(curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L), opening);
    Check(curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L), opening);
    Check(curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, ReceiveBufferSize), opening);
    Check(UseUserNetworkSettings(handle, FState->Url), opening);
    if (body)
        Check(curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L), opening);
    else
        Check(curl_easy_setopt(handle, CURLOPT_NOBODY, 1L), opening);
    Check(curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, OnHeaderLine), opening);
    Check(curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer), opening);
    Check(curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, OnBodyBlock), opening);
    Check(curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer), opening);

    const char* timeouts = "Error setting timeout for the request";
    Check(curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, long(limits.ConnectTimeout.count())), timeouts);
    Check(curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, OnTransferInfo), timeouts);
    Check(curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer), timeouts);
    Check(curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L), timeouts);

    Check(curl_easy_setopt(handle, CURLOPT_HTTPHEADER, FState->HeaderList.List()), "Error adding header");
}

TS3CurlTransfer::~TS3CurlTransfer() = default;

CURL* TS3CurlTransfer::Handle() const {
    return FState->Curl.get();
}

TS3CurlAnswer TS3CurlTransfer::Finish(CURLcode result) {
    const TTransfer& transfer = FState->Transfer;
    CURL* handle = FState->Curl.get();
    if (transfer.SinkError)
        std::rethrow_exception(transfer.SinkError);
    if (transfer.Interruption == TInterruption::Stopped)
        throw TOperationStopped(QStringLiteral("Stopped"));
    if (result != CURLE_OK)
        throw TransferError(handle, result, transfer, FState->Host);

    long status = 0;
    Check(curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status), "Error querying headers");
    return {{int(status), ParseResponseHeaders(transfer.HeaderLines)}, transfer.RedirectBody};
}

bool TS3CurlTransfer::BrokeOff(CURLcode result) const {
    const TTransfer& transfer = FState->Transfer;
    return result != CURLE_OK && !transfer.SinkError && transfer.Interruption == TInterruption::None;
}
