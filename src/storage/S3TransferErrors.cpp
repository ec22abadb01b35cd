#include "storage/S3TransferErrors.h"

#include <cerrno>
#include <cmath>

namespace {

// The error numbers CURLINFO_OS_ERRNO gives for a refused and a timed-out connection: errno's on POSIX
// systems, Winsock's (WSAECONNREFUSED, WSAETIMEDOUT) on Windows.
#ifdef Q_OS_WIN
constexpr long ConnectionRefused = 10061;
constexpr long ConnectionTimedOut = 10060;
#else
constexpr long ConnectionRefused = ECONNREFUSED;
constexpr long ConnectionTimedOut = ETIMEDOUT;
#endif

QString Seconds(std::chrono::milliseconds duration) {
    return QString::number(double(duration.count()) / 1000.0, 'g', 4);
}

// "2 bytes/s", "512 bytes/s", "1 KiB/s", "37 KiB/s".
QString RateText(double bytesPerSecond) {
    if (bytesPerSecond < 1024.0)
        return QStringLiteral("%1 bytes/s").arg(qint64(std::floor(bytesPerSecond)));
    return QStringLiteral("%1 KiB/s").arg(qint64(std::floor(bytesPerSecond / 1024.0)));
}

} // namespace

TError CurlError(const char* what, CURLcode code) {
    return TError(QStringLiteral("%1: (%2) %3")
                      .arg(QLatin1StringView(what))
                      .arg(int(code))
                      .arg(QString::fromUtf8(curl_easy_strerror(code))));
}

TError UnsentError(const QString& host, CURLcode code, long osError,
                   std::chrono::milliseconds connectTimeout) {
    const QString cannotReach = QStringLiteral("Cannot reach the storage service at %1: %2");
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return TError(cannotReach.arg(host, QStringLiteral("the host name is not known")));
    case CURLE_OPERATION_TIMEDOUT:
        return TError(
            cannotReach.arg(host, QStringLiteral("no connection within %1 s").arg(Seconds(connectTimeout))));
    case CURLE_COULDNT_CONNECT:
        if (osError == ConnectionRefused)
            return TError(cannotReach.arg(host, QStringLiteral("connection refused")));
        if (osError == ConnectionTimedOut)
            return TError(cannotReach.arg(host, QStringLiteral("the connection timed out")));
        return TError(cannotReach.arg(host, CurlError("Error connecting", code).Message()));
    default:
        return TError(QStringLiteral("Cannot send the request to the storage service at %1: %2")
                          .arg(host, CurlError("Error sending data", code).Message()));
    }
}

TError UnansweredError(const QString& host, CURLcode code) {
    return TError(QStringLiteral("The storage service at %1 did not answer the request: %2")
                      .arg(host, CurlError("Error receiving data", code).Message()));
}

TError StalledError(const QString& host, std::chrono::seconds stallTimeout, bool headersBegun) {
    if (headersBegun)
        return TError(QStringLiteral("The server %1 sent its answer's headers too slowly: nothing more came "
                                     "for %2 s, so the request was ended")
                          .arg(host)
                          .arg(stallTimeout.count()));
    return TError(QStringLiteral("The server %1 sent nothing for %2 s, so the request was ended")
                      .arg(host)
                      .arg(stallTimeout.count()));
}

TError TooSlowError(const QString& host, double bytesPerSecond, std::chrono::milliseconds window,
                    qint64 minimumRate, bool inHeaders) {
    const QString what = inHeaders ? QStringLiteral("its answer's headers") : QStringLiteral("its answer");
    return TError(
        QStringLiteral("The server %1 sent %2 too slowly: %3 over %4 s, less than the %5 a transfer "
                       "needs, so the request was ended")
            .arg(host, what, RateText(bytesPerSecond), Seconds(window), RateText(double(minimumRate))));
}
