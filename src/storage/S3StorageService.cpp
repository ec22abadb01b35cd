#include "storage/S3StorageService.h"

#include "config/BuildSettings.h"
#include "storage/S3Addressing.h"
#include "storage/S3BodySinks.h"
#include "storage/S3HttpTransport.h"
#include "storage/S3ListingReader.h"
#include "storage/S3RequestSigner.h"

class TS3StorageService::Impl {
  public:
    Impl(const TS3ConnectionInfo& info, TS3TransportLimits limits)
        : info(info)
        , signer(info)
        , limits(limits)
        , clock(&QDateTime::currentDateTimeUtc) {}

    TS3HttpResponse Send(const QByteArray& method, const QString& BucketName, const QString& url,
                         TS3BodySink* body) {
        const TS3Request request = MakeSignedRequest(info, signer, method, BucketName, url, clock());
        const TS3HttpResponse response = SendRequest(request, body, limits);
        lastStatusCode = response.StatusCode;
        return response;
    }

    const TS3ConnectionInfo info;
    const TS3RequestSigner signer;
    const TS3TransportLimits limits;
    TS3Clock clock;
    std::optional<TS3ErrorDocument> lastErrorDocument;
    int lastStatusCode = 0;
};

TS3StorageService::TS3StorageService(const TS3ConnectionInfo& info, TS3TransportLimits limits)
    : impl_(std::make_unique<Impl>(info, limits)) {}

TS3StorageService::~TS3StorageService() = default;

std::optional<TS3ListingPage> TS3StorageService::GetListingPage(const QString& BucketName,
                                                                const TS3QueryParams& OptionalParams) {
    impl_->lastErrorDocument.reset();
    TS3ListingSink body;
    impl_->Send("GET", BucketName, ListingUrl(impl_->info, BucketName, OptionalParams), &body);
    // The status is not looked at: the answer is judged by its content.
    TS3ListingPageAnswer answer = ReadListingPage(body.TakeBytes());
    impl_->lastErrorDocument = answer.Error;
    return std::move(answer.Page);
}

const std::optional<TS3ErrorDocument>& TS3StorageService::LastErrorDocument() const {
    return impl_->lastErrorDocument;
}

bool TS3StorageService::GetObjectProperties(const QString& BucketName, const QString& ObjectName,
                                            TS3NameValueList& Properties, TS3NameValueList& Metadata) {
    Properties.Clear();
    Metadata.Clear();
    if (BucketName.isEmpty() || ObjectName.isEmpty())
        return false;
    const TS3HttpResponse response =
        impl_->Send("HEAD", BucketName, ObjectUrl(impl_->info, BucketName, ObjectName), nullptr);
    if (response.StatusCode != 200)
        return false;
    static const QString metadataPrefix = QStringLiteral("x-amz-meta-");
    for (const auto& [name, value] : response.Headers.Entries()) {
        if (value.isEmpty())
            continue;
        if (name.startsWith(metadataPrefix, Qt::CaseInsensitive))
            Metadata.Add(name.mid(metadataPrefix.size()), value);
        else
            Properties.Add(name, value);
    }
    return true;
}

bool TS3StorageService::GetObject(const QString& BucketName, const QString& ObjectName,
                                  TS3Stream& ObjectStream) {
    if (BucketName.isEmpty())
        return false;
    TS3StreamSink body(ObjectStream);
    int status = 0;
    try {
        status =
            impl_->Send("GET", BucketName, ObjectUrl(impl_->info, BucketName, ObjectName), &body).StatusCode;
    } catch (...) {
        // What was written stays; the stream goes back to where the body began, as on success.
        ObjectStream.SetPosition(body.StartPosition());
        throw;
    }
    ObjectStream.SetPosition(body.StartPosition());
    return status == 200;
}

TS3Request TS3StorageService::RangeRequest(const QString& BucketName, const QString& ObjectName, qint64 first,
                                           qint64 last, const QString& etag) const {
    TS3NameValueList headers;
    if (!etag.isEmpty())
        headers.Add(QStringLiteral("if-match"), etag);
    headers.Add(QStringLiteral("range"), QStringLiteral("bytes=%1-%2").arg(first).arg(last));
    return MakeSignedRequest(impl_->info, impl_->signer, "GET", BucketName,
                             ObjectUrl(impl_->info, BucketName, ObjectName), impl_->clock(), headers);
}

const TS3TransportLimits& TS3StorageService::Limits() const {
    return impl_->limits;
}

int TS3StorageService::LastStatusCode() const {
    return impl_->lastStatusCode;
}

void TS3StorageService::SetClock(TS3Clock clock) {
    impl_->clock = std::move(clock);
}

std::unique_ptr<TS3StorageService> CreateStorageService(TS3ConnectionInfo& info, const QString& bucketSetting,
                                                        TS3TransportLimits limits) {
    SplitBucketSetting(bucketSetting);
    info.AccountName = QString::fromUtf8(BuildSettings::S3AccessKeyId);
    info.AccountKey = QString::fromUtf8(BuildSettings::S3SecretAccessKey);
    return std::make_unique<TS3StorageService>(info, limits);
}
