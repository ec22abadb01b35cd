#include "storage/S3Redirects.h"

#include "core/Error.h"

#include <QUrl>

#include <pugixml.hpp>

namespace {

bool IsSameServer(const TS3RequestUrl& from, const TS3RequestUrl& to) {
    return from.Scheme == to.Scheme && from.Host.compare(to.Host, Qt::CaseInsensitive) == 0 &&
           from.Port == to.Port;
}

// The Endpoint of an S3 error document ("<Error>…<Endpoint>bucket.s3.eu-west-1.amazonaws.com</Endpoint>"),
// or nothing when the body is no such document.
QString ErrorDocumentEndpoint(const QByteArray& body) {
    pugi::xml_document document;
    if (!document.load_buffer(body.constData(), size_t(body.size())))
        return {};
    return QString::fromUtf8(document.child("Error").child("Endpoint").text().get()).trimmed();
}

[[noreturn]] void ThrowOtherRegion(const QString& what, const QString& name) {
    throw TError(
        QStringLiteral("The bucket is in another region: the service names the %1 \"%2\"").arg(what, name));
}

} // namespace

bool IsRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 304 || status == 307;
}

std::optional<TS3RequestUrl> RedirectTarget(const QByteArray& method, const TS3RequestUrl& from,
                                            const TS3HttpResponse& response, const QByteArray& body) {
    if (!IsRedirectStatus(response.StatusCode))
        return std::nullopt;
    const QString location = response.Headers.Value(QStringLiteral("Location"));
    const QString target = location.isEmpty()
                               ? QString()
                               : QUrl(from.ToString()).resolved(QUrl(location)).toString(QUrl::FullyEncoded);
    std::optional<TS3RequestUrl> targetUrl;
    try {
        if (!target.isEmpty())
            targetUrl = ParseRequestUrl(target);
    } catch (const TError&) {
        // A target that cannot be taken apart is no server of ours: refused below like any other.
    }
    if (targetUrl && IsSameServer(from, *targetUrl))
        return method == "GET" ? targetUrl : std::nullopt;

    const QString endpoint = ErrorDocumentEndpoint(body);
    if (!endpoint.isEmpty())
        ThrowOtherRegion(QStringLiteral("endpoint"), endpoint);
    const QString region = response.Headers.Value(QStringLiteral("x-amz-bucket-region"));
    if (!region.isEmpty() && targetUrl)
        ThrowOtherRegion(QStringLiteral("endpoint"), targetUrl->HostPart);
    if (!region.isEmpty())
        ThrowOtherRegion(QStringLiteral("region"), region);
    if (target.isEmpty())
        return std::nullopt;
    throw TError(
        QStringLiteral("Redirect to \"%1\" refused: a signed request is only sent again to the server it "
                       "was made for")
            .arg(target));
}
