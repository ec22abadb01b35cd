#include "storage/S3StorageService.h"

#include "config/BuildSettings.h"
#include "storage/S3Addressing.h"
#include "storage/S3BodySinks.h"
#include "storage/S3HttpTransport.h"
#include "storage/S3ListingReader.h"
#include "storage/S3RequestSigner.h"

class TS3StorageService::TImpl {
  public:
    TImpl(const TS3ConnectionInfo& info, TS3TransportLimits limits)
        : Info(info)
        , Signer(info)
        , Limits(limits)
        , Clock(&QDateTime::currentDateTimeUtc) {}

    TS3HttpResponse Send(const QByteArray& method, const QString& bucketName, const QString& url,
                         TS3BodySink* body) {
        const TS3Request request = MakeSignedRequest(Info, Signer, method, bucketName, url, Clock());
        const TS3HttpResponse response = SendRequest(request, body, Limits);
        LastStatusCode = response.StatusCode;
        return response;
    }

    const TS3ConnectionInfo Info;
    const TS3RequestSigner Signer;
    const TS3TransportLimits Limits;
    TS3Clock Clock;
    std::optional<TS3ErrorDocument> LastErrorDocument;
    int LastStatusCode = 0;
};

TS3StorageService::TS3StorageService(const TS3ConnectionInfo& info, TS3TransportLimits limits)
    : FImpl(std::make_unique<TImpl>(info, limits)) {}

TS3StorageService::~TS3StorageService() = default;

std::optional<TS3ListingPage> TS3StorageService::GetListingPage(const QString& bucketName,
                                                                const TS3QueryParams& optionalParams) {
    FImpl->LastErrorDocument.reset();
    TS3ListingSink body;
    FImpl->Send("GET", bucketName, ListingUrl(FImpl->Info, bucketName, optionalParams), &body);
    // The status is not looked at: the answer is judged by its content.
    TS3ListingPageAnswer answer = ReadListingPage(body.TakeBytes());
    FImpl->LastErrorDocument = answer.Error;
    return std::move(answer.Page);
}

const std::optional<TS3ErrorDocument>& TS3StorageService::LastErrorDocument() const {
    return FImpl->LastErrorDocument;
}

bool TS3StorageService::GetObjectProperties(const QString& bucketName, const QString& objectName,
                                            TS3NameValueList& properties, TS3NameValueList& metadata) {
    properties.Clear();
    metadata.Clear();
    if (bucketName.isEmpty() || objectName.isEmpty())
        return false;
    const TS3HttpResponse response =
        FImpl->Send("HEAD", bucketName, ObjectUrl(FImpl->Info, bucketName, objectName), nullptr);
    if (response.StatusCode != 200)
        return false;
    static const QString metadataPrefix = QStringLiteral("x-amz-meta-");
    for (const auto& [name, value] : response.Headers.Entries()) {
        if (value.isEmpty())
            continue;
        if (name.startsWith(metadataPrefix, Qt::CaseInsensitive))
            metadata.Add(name.mid(metadataPrefix.size()), value);
        else
            properties.Add(name, value);
    }
    return true;
}

bool TS3StorageService::GetObject(const QString& bucketName, const QString& objectName,
                                  TS3Stream& objectStream) {
    if (bucketName.isEmpty())
        return false;
    TS3StreamSink body(objectStream);
    int status = 0;
    try {
        status =
            FImpl->Send("GET", bucketName, ObjectUrl(FImpl->Info, bucketName, objectName), &body).StatusCode;
    } catch (...) {
        // What was written stays; the stream goes back to where the body began, as on success.
        objectStream.SetPosition(body.StartPosition());
        throw;
    }
    objectStream.SetPosition(body.StartPosition());
    return status == 200;
}

TS3Request TS3StorageService::RangeRequest(const QString& bucketName, const QString& objectName, qint64 first,
                                           qint64 last, const QString& etag) const {
    TS3NameValueList headers;
    if (!etag.isEmpty())
        headers.Add(QStringLiteral("if-match"), etag);
    headers.Add(QStringLiteral("range"), QStringLiteral("bytes=%1-%2").arg(first).arg(last));
    return MakeSignedRequest(FImpl->Info, FImpl->Signer, "GET", bucketName,
                             ObjectUrl(FImpl->Info, bucketName, objectName), FImpl->Clock(), headers);
}

const TS3TransportLimits& TS3StorageService::Limits() const {
    return FImpl->Limits;
}

int TS3StorageService::LastStatusCode() const {
    return FImpl->LastStatusCode;
}

void TS3StorageService::SetClock(TS3Clock clock) {
    FImpl->Clock = std::move(clock);
}

std::unique_ptr<TS3StorageService> CreateStorageService(TS3ConnectionInfo& info, const QString& bucketSetting,
                                                        TS3TransportLimits limits) {
    SplitBucketSetting(bucketSetting);
    info.AccountName = QString::fromUtf8(BuildSettings::S3AccessKeyId);
    info.AccountKey = QString::fromUtf8(BuildSettings::S3SecretAccessKey);
    return std::make_unique<TS3StorageService>(info, limits);
}
