#include "storage/S3StorageService.h"
#include "support/ListedKeys.h"
#include "support/MemoryStream.h"
#include "support/S3TestServer.h"

#include <QTest>

namespace {

const QString Prefix = QStringLiteral("prefix");

} // namespace

// The storage client against s3rver, which the "s3rver" fixture runs on loopback.
class TestStorageService : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void listsFolder();
    void listsPageByPage();
    void listsNothingForRefusedListings_data();
    void listsNothingForRefusedListings();
    void readsProperties();
    void readsNoPropertiesOfMissingObjects_data();
    void readsNoPropertiesOfMissingObjects();
    void downloadsObjects_data();
    void downloadsObjects();
    void downloadsAtStreamPosition();
    void addressesDottedBucketsPathStyle();

  private:
    std::optional<TS3TestServer> FServer;
    QString FBucket;
};

void TestStorageService::initTestCase() {
    FServer = TS3TestServer::FromFixture();
    FBucket = TS3TestServer::UniqueBucketName(QStringLiteral("storage"));
    FServer->CreateBucket(FBucket);
    const QList<QPair<QString, QByteArray>> objects{
        {"db/a.backup", "alpha"},
        {"db/my backup é.backup", "blank and accent"},
        {"db/50% off?#1.backup", "percent, question mark, hash"},
        {"db/old/x.backup", "deeper"},
        {"db/", ""},
        {"db2/other.backup", "other folder"},
        {"pages/a", "1"},
        {"pages/b ", "2"},
        {"pages/c", "3"},
        {"pages/d", "4"},
        {"pages/e", "5"},
    };
    for (const auto& [key, data] : objects)
        FServer->PutObject(FBucket, key, data);
    FServer->PutObject(FBucket, "meta/origin.backup", "12345", {{"x-amz-meta-origin", "unit test"}});
    FServer->PutObject(FBucket, "meta/gone.backup", "x");
    FServer->DeleteObject(FBucket, "meta/gone.backup");
}

void TestStorageService::listsFolder() {
    TS3StorageService service(FServer->ConnectionInfo());
    const auto page = service.GetListingPage(FBucket, {{Prefix, "db/"}});
    QVERIFY(page);
    QVERIFY(!page->IsTruncated);
    QCOMPARE(ListedKeys(*page), QStringList({"db/", "db/50% off?#1.backup", "db/a.backup",
                                             "db/my backup é.backup", "db/old/x.backup"}));
    const TS3ListedObject& alpha = page->Objects[2];
    QCOMPARE(alpha.Size, 5);
    QVERIFY(alpha.LastModified.endsWith('Z'));

    const auto empty = service.GetListingPage(FBucket, {{Prefix, "nothing here/"}});
    QVERIFY(empty);
    QVERIFY(empty->Objects.empty());
}

// The marker goes out exactly as given: a key ending in a blank continues after itself.
void TestStorageService::listsPageByPage() {
    TS3StorageService service(FServer->ConnectionInfo());
    QStringList keys;
    QString marker;
    for (bool truncated = true; truncated;) {
        TS3QueryParams params{{Prefix, "pages/"}, {"max-keys", "1"}};
        if (!marker.isEmpty())
            params.append({"marker", marker});
        const auto page = service.GetListingPage(FBucket, params);
        QVERIFY(page);
        QCOMPARE(page->Objects.size(), size_t(1));
        keys += ListedKeys(*page);
        marker = QString::fromUtf8(page->LastKey);
        truncated = page->IsTruncated;
        QVERIFY(keys.size() <= 5);
    }
    QCOMPARE(keys, QStringList({"pages/a", "pages/b ", "pages/c", "pages/d", "pages/e"}));
}

void TestStorageService::listsNothingForRefusedListings_data() {
    QTest::addColumn<QString>("bucket");
    QTest::addColumn<QString>("errorCode");
    QTest::newRow("missing bucket") << TS3TestServer::UniqueBucketName("missing") << "NoSuchBucket";
    QTest::newRow("empty bucket name: the endpoint's bucket list") << ""
                                                                   << "";
}

void TestStorageService::listsNothingForRefusedListings() {
    QFETCH(QString, bucket);
    QFETCH(QString, errorCode);
    TS3StorageService service(FServer->ConnectionInfo());
    QVERIFY(!service.GetListingPage(bucket, {{Prefix, "db/"}}));
    QCOMPARE(service.LastErrorDocument().has_value(), !errorCode.isEmpty());
    if (service.LastErrorDocument()) {
        QCOMPARE(service.LastErrorDocument()->Code, errorCode);
        QVERIFY(!service.LastErrorDocument()->Message.isEmpty());
    }
    QVERIFY(service.GetListingPage(FBucket, {{Prefix, "db/"}}));
    QVERIFY(!service.LastErrorDocument());
}

void TestStorageService::readsProperties() {
    TS3StorageService service(FServer->ConnectionInfo());
    TS3NameValueList properties;
    TS3NameValueList metadata;
    QVERIFY(service.GetObjectProperties(FBucket, "meta/origin.backup", properties, metadata));
    QCOMPARE(properties.Value("content-length"), "5");
    QVERIFY(!properties.Value("ETag").isEmpty());
    QVERIFY(!properties.Contains("x-amz-meta-origin"));
    QCOMPARE(metadata.Entries(), (QList<QPair<QString, QString>>{{"origin", "unit test"}}));

    QVERIFY(service.GetObjectProperties(FBucket, "db/", properties, metadata));
    QCOMPARE(properties.Value("Content-Length"), "0");
    QVERIFY(metadata.IsEmpty());
}

void TestStorageService::readsNoPropertiesOfMissingObjects_data() {
    QTest::addColumn<QString>("bucket");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("status"); // 0: nothing was sent
    QTest::newRow("deleted after listing") << FBucket << "meta/gone.backup" << 404;
    QTest::newRow("missing bucket") << TS3TestServer::UniqueBucketName("missing") << "db/a.backup" << 404;
    QTest::newRow("empty key") << FBucket << "" << 0;
    QTest::newRow("empty bucket name") << ""
                                       << "db/a.backup" << 0;
}

void TestStorageService::readsNoPropertiesOfMissingObjects() {
    QFETCH(QString, bucket);
    QFETCH(QString, key);
    QFETCH(int, status);
    TS3StorageService service(FServer->ConnectionInfo());
    TS3NameValueList properties;
    TS3NameValueList metadata;
    properties.Add("stale", "entry");
    metadata.Add("stale", "entry");
    QVERIFY(!service.GetObjectProperties(bucket, key, properties, metadata));
    QVERIFY(properties.IsEmpty());
    QVERIFY(metadata.IsEmpty());
    QCOMPARE(service.LastStatusCode(), status);
}

void TestStorageService::downloadsObjects_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("plain key") << "db/a.backup" << QByteArray("alpha");
    QTest::newRow("blank and accent") << "db/my backup é.backup" << QByteArray("blank and accent");
    QTest::newRow("percent, question mark, hash")
        << "db/50% off?#1.backup" << QByteArray("percent, question mark, hash");
}

void TestStorageService::downloadsObjects() {
    QFETCH(QString, key);
    QFETCH(QByteArray, data);
    TS3StorageService service(FServer->ConnectionInfo());
    TS3MemoryStream stream;
    QVERIFY(service.GetObject(FBucket, key, stream));
    QCOMPARE(stream.Data(), data);
    QCOMPARE(stream.Position(), 0);
}

void TestStorageService::downloadsAtStreamPosition() {
    TS3StorageService service(FServer->ConnectionInfo());
    TS3MemoryStream stream;
    stream.Write("HEAD", 4);
    QVERIFY(service.GetObject(FBucket, "db/a.backup", stream));
    QCOMPARE(stream.Data(), "HEADalpha");
    QCOMPARE(stream.Position(), 4);

    TS3MemoryStream empty;
    QVERIFY(service.GetObject(FBucket, "db/", empty));
    QVERIFY(empty.Calls().isEmpty());

    // An error answer is written like object data.
    TS3MemoryStream refused;
    QVERIFY(!service.GetObject(FBucket, "db/missing.backup", refused));
    QCOMPARE(service.LastStatusCode(), 404);
    QVERIFY(refused.Data().contains("<Code>NoSuchKey</Code>"));

    QVERIFY(!service.GetObject(QString(), "db/a.backup", refused));
}

// A dotted bucket name goes path-style ("<endpoint>/<bucket>/<key>", signed over that host and path),
// as over https; s3rver checks each signature.
void TestStorageService::addressesDottedBucketsPathStyle() {
    const QString bucket = TS3TestServer::UniqueBucketName(QStringLiteral("dotted.storage"));
    FServer->CreateBucket(bucket);
    FServer->PutObject(bucket, "db/my backup é.backup", "path-style");
    TS3ConnectionInfo info = FServer->ConnectionInfo();
    info.PathStyle = TS3PathStyle::DottedAlways;
    TS3StorageService service(info);

    const auto listing = service.GetListingPage(bucket, {{Prefix, "db/"}});
    QVERIFY(listing);
    QCOMPARE(ListedKeys(*listing), QStringList({"db/my backup é.backup"}));

    TS3NameValueList properties;
    TS3NameValueList metadata;
    QVERIFY(service.GetObjectProperties(bucket, "db/my backup é.backup", properties, metadata));
    QCOMPARE(properties.Value("Content-Length"), "10");

    TS3MemoryStream stream;
    QVERIFY(service.GetObject(bucket, "db/my backup é.backup", stream));
    QCOMPARE(stream.Data(), "path-style");
}

QTEST_GUILESS_MAIN(TestStorageService)
#include "TestStorageService.moc"
