#include "storage/S3Addressing.h"
#include "storage/S3RequestSigner.h"
#include "storage/S3UrlEncoding.h"
#include "support/ErrorOf.h"
#include "support/TestKeys.h"

#include <QTest>

namespace {

QDateTime Utc(const char* text) {
    QDateTime moment = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    moment.setTimeSpec(Qt::UTC);
    return moment;
}

} // namespace

class TestRequestSigning : public QObject {
    Q_OBJECT

  private slots:
    void signsLikeBotocore_data();
    void signsLikeBotocore();
    void datesRequestsInUtc_data();
    void datesRequestsInUtc();
    void takesUrlsApart_data();
    void takesUrlsApart();
    void rejectsUrls_data();
    void rejectsUrls();
    void buildsListingQueries_data();
    void buildsListingQueries();
};

// Expected values from tests/storage/signature_table.py (Debian's python3-botocore).
void TestRequestSigning::signsLikeBotocore_data() {
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("bucket");
    QTest::addColumn<QString>("key"); // null for a listing
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QString>("authorization");
    QTest::newRow("listing with prefix")
        << QByteArray("GET") << "s3.amazonaws.com"
        << "backups" << QString() << "db/"
        << "" << Utc("2023-11-18T03:00:00.000") << QByteArray("/?prefix=db%2F")
        << "AWS4-HMAC-SHA256 "
           "Credential=AKIACORVANE0TEST0001/20231118/us-east-1/s3/"
           "aws4_request,SignedHeaders=host;x-amz-content-sha256;x-amz-date,Signature="
           "3329556ce6f562f003e890672eb404771c4d22af3866f2f596d0ead938f3160d";
    QTest::newRow("listing, endpoint with port")
        << QByteArray("GET") << "s3.localhost:4568"
        << "backups" << QString() << "db/"
        << "" << Utc("2024-02-29T12:34:56.000") << QByteArray("/?prefix=db%2F")
        << "AWS4-HMAC-SHA256 "
           "Credential=AKIACORVANE0TEST0001/20240229/us-east-1/s3/"
           "aws4_request,SignedHeaders=host;x-amz-content-sha256;x-amz-date,Signature="
           "a599959dada8bb006e3b79ced17984f5546af50542f8f42fd05ef13945231905";
    QTest::newRow("listing, empty bucket name")
        << QByteArray("GET") << "s3.amazonaws.com"
        << "" << QString() << "db/"
        << "" << Utc("2023-11-18T03:00:00.000") << QByteArray("/?prefix=db%2F")
        << "AWS4-HMAC-SHA256 "
           "Credential=AKIACORVANE0TEST0001/20231118/us-east-1/s3/"
           "aws4_request,SignedHeaders=host;x-amz-content-sha256;x-amz-date,Signature="
           "1623dcf3ef5a206b0bc335660a7cce60bd3c172a4a59a7ae75c766db017b5098";
    QTest::newRow("listing with marker and prefix")
        << QByteArray("GET") << "s3.amazonaws.com"
        << "backups" << QString() << "db/"
        << "db/a b.backup" << Utc("2023-11-18T03:00:00.000")
        << QByteArray("/?prefix=db%2F&marker=db%2Fa%20b.backup")
        << "AWS4-HMAC-SHA256 "
           "Credential=AKIACORVANE0TEST0001/20231118/us-east-1/s3/"
           "aws4_request,SignedHeaders=host;x-amz-content-sha256;x-amz-date,Signature="
           "fc1d690c9c34dfdcd4929f589747d2ec808aedc95d02c79d8869a53f7081b1ba";
    QTest::newRow("key with blank and non-ASCII")
        << QByteArray("GET") << "s3.amazonaws.com"
        << "backups" << QStringLiteral("db/my backup é.backup") << ""
        << "" << Utc("2023-11-18T03:00:00.000") << QByteArray("/db/my%20backup%20%C3%A9.backup")
        << "AWS4-HMAC-SHA256 "
           "Credential=AKIACORVANE0TEST0001/20231118/us-east-1/s3/"
           "aws4_request,SignedHeaders=host;x-amz-content-sha256;x-amz-date,Signature="
           "cca1c1d5555ff190e60759b8cf098b0cacef823ba6203b0a1b7f3c73b6ad03c0";
    QTest::newRow("properties of that key")
        << QByteArray("HEAD") << "s3.amazonaws.com"
        << "backups" << QStringLiteral("db/my backup é.backup") << ""
        << "" << Utc("2023-11-18T03:00:00.000") << QByteArray("/db/my%20backup%20%C3%A9.backup")
        << "AWS4-HMAC-SHA256 "
           "Credential=AKIACORVANE0TEST0001/20231118/us-east-1/s3/"
           "aws4_request,SignedHeaders=host;x-amz-content-sha256;x-amz-date,Signature="
           "f357ca93aea66e8735c780a767f092772cb6aa597b377a082addfeb220f9a805";
    QTest::newRow("just before midnight")
        << QByteArray("GET") << "s3.amazonaws.com"
        << "backups" << QStringLiteral("db/a.backup") << ""
        << "" << Utc("2023-12-31T23:59:59.999") << QByteArray("/db/a.backup")
        << "AWS4-HMAC-SHA256 "
           "Credential=AKIACORVANE0TEST0001/20231231/us-east-1/s3/"
           "aws4_request,SignedHeaders=host;x-amz-content-sha256;x-amz-date,Signature="
           "fc50b3faeb509bd97693bb7c37226a78d5c43c1209fb6f12d93072f0abc6aa07";
    QTest::newRow("key with percent, question mark and hash")
        << QByteArray("GET") << "s3.amazonaws.com"
        << "backups" << QStringLiteral("db/50% off?#1.backup") << ""
        << "" << Utc("2023-11-18T03:00:00.000") << QByteArray("/db/50%25%20off%3F%231.backup")
        << "AWS4-HMAC-SHA256 "
           "Credential=AKIACORVANE0TEST0001/20231118/us-east-1/s3/"
           "aws4_request,SignedHeaders=host;x-amz-content-sha256;x-amz-date,Signature="
           "931df8feedd4fd7a3794c11247b906dff4533e599d55070f30b741226df97ec4";
    QTest::newRow("key with empty segment and trailing slash")
        << QByteArray("GET") << "s3.amazonaws.com"
        << "backups" << QStringLiteral("db//old/") << ""
        << "" << Utc("2023-11-18T03:00:00.000") << QByteArray("/db//old/")
        << "AWS4-HMAC-SHA256 "
           "Credential=AKIACORVANE0TEST0001/20231118/us-east-1/s3/"
           "aws4_request,SignedHeaders=host;x-amz-content-sha256;x-amz-date,Signature="
           "556160a0cf728f98ac0a70bdf9b2b22912b98ffc8ce4b7a32d39ba1f5e499570";
}

void TestRequestSigning::signsLikeBotocore() {
    QFETCH(QByteArray, method);
    QFETCH(QString, endpoint);
    QFETCH(QString, bucket);
    QFETCH(QString, key);
    QFETCH(QString, prefix);
    QFETCH(QString, marker);
    QFETCH(QDateTime, now);
    QFETCH(QByteArray, target);
    QFETCH(QString, authorization);

    const TS3ConnectionInfo info = TestConnection(endpoint);
    TS3QueryParams params{{QStringLiteral("prefix"), prefix}};
    if (!marker.isEmpty())
        params.append({QStringLiteral("marker"), marker});
    const QString url = key.isNull() ? ListingUrl(info, bucket, params) : ObjectUrl(info, bucket, key);
    const TS3Request request = MakeSignedRequest(info, TS3RequestSigner(info), method, bucket, url, now);

    QCOMPARE(request.Url.Target(), target);
    const QList<QPair<QString, QString>> expectedHeaders{
        {QStringLiteral("Authorization"), authorization},
        {QStringLiteral("host"), info.VirtualHost(bucket)},
        {QStringLiteral("x-amz-content-sha256"), QLatin1StringView(S3EmptyContentSha256)},
        {QStringLiteral("x-amz-date"), FormatAmzDate(now)}};
    QCOMPARE(request.Headers.Entries(), expectedHeaders);
}

void TestRequestSigning::datesRequestsInUtc_data() {
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("amzDate");
    QTest::newRow("fraction dropped, not rounded") << Utc("2023-11-18T03:00:00.999") << "20231118T030000Z";
    QTest::newRow("just before midnight") << Utc("2023-12-31T23:59:59.999") << "20231231T235959Z";
    QTest::newRow("local time with an offset")
        << QDateTime(QDate(2023, 11, 18), QTime(0, 30), Qt::OffsetFromUTC, 2 * 3600) << "20231117T223000Z";
}

void TestRequestSigning::datesRequestsInUtc() {
    QFETCH(QDateTime, now);
    QFETCH(QString, amzDate);
    QCOMPARE(FormatAmzDate(now), amzDate);
}

void TestRequestSigning::takesUrlsApart_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("target");
    QTest::newRow("blank and accent")
        << "http://b.s3.amazonaws.com/db/my backup é.backup"
        << "b.s3.amazonaws.com" << 80 << QByteArray("/db/my%20backup%20%C3%A9.backup");
    QTest::newRow("percent sequences copied") << "http://b.s3.amazonaws.com/db/%41%zz%"
                                              << "b.s3.amazonaws.com" << 80 << QByteArray("/db/%41%zz%");
    QTest::newRow("twelve path characters") << "http://h/\"<>\\^`{|}x"
                                            << "h" << 80 << QByteArray("/%22%3C%3E%5C%5E%60%7B%7C%7Dx");
    QTest::newRow("query keeps slash, encodes apostrophe")
        << "http://h:4568/?prefix=a/b'c<d>\"e f"
        << "h" << 4568 << QByteArray("/?prefix=a/b%27c%3Cd%3E%22e%20f");
    QTest::newRow("fragment dropped") << "http://h/db/a#b?c"
                                      << "h" << 80 << QByteArray("/db/a");
    QTest::newRow("no path") << "http://h:8080"
                             << "h" << 8080 << QByteArray("/");
    QTest::newRow("host ends at question mark") << "http://h?x=1"
                                                << "h" << 80 << QByteArray("/?x=1");
    QTest::newRow("https default port") << "https://h/"
                                        << "h" << 443 << QByteArray("/");
}

void TestRequestSigning::takesUrlsApart() {
    QFETCH(QString, url);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QByteArray, target);
    const TS3RequestUrl parts = ParseRequestUrl(url);
    QCOMPARE(parts.Host, host);
    QCOMPARE(parts.Port, port);
    QCOMPARE(parts.Target(), target);
}

void TestRequestSigning::rejectsUrls_data() {
    QTest::addColumn<QString>("url");
    QTest::newRow("port that is no number") << "http://bucket:name.s3.amazonaws.com/";
    QTest::newRow("port out of range") << "http://h:70000/";
    QTest::newRow("empty host") << "http:///db";
    QTest::newRow("no scheme") << "s3.amazonaws.com/db";
    QTest::newRow("other scheme") << "ftp://h/db";
}

void TestRequestSigning::rejectsUrls() {
    QFETCH(QString, url);
    QCOMPARE(ErrorOf([&] { ParseRequestUrl(url); }), QStringLiteral("Invalid URL: \"%1\"").arg(url));
}

void TestRequestSigning::buildsListingQueries_data() {
    QTest::addColumn<TS3QueryParams>("params");
    QTest::addColumn<QByteArray>("target");
    const QString prefix = QStringLiteral("prefix");
    const QString marker = QStringLiteral("marker");
    QTest::newRow("folder prefix") << TS3QueryParams{{prefix, "db/"}} << QByteArray("/?prefix=db%2F");
    QTest::newRow("empty folder") << TS3QueryParams{{prefix, "/"}} << QByteArray("/?prefix=%2F");
    QTest::newRow("prefix trimmed") << TS3QueryParams{{prefix, "\t  my db/ "}}
                                    << QByteArray("/?prefix=my%20db%2F");
    QTest::newRow("nothing left after trimming") << TS3QueryParams{{prefix, "  "}} << QByteArray("/?prefix");
    QTest::newRow("marker sent as given") << TS3QueryParams{{prefix, "db/"}, {marker, " db/x~ "}}
                                          << QByteArray("/?prefix=db%2F&marker=%20db%2Fx~%20");
    QTest::newRow("no parameters") << TS3QueryParams{} << QByteArray("/");
}

void TestRequestSigning::buildsListingQueries() {
    QFETCH(TS3QueryParams, params);
    QFETCH(QByteArray, target);
    const TS3ConnectionInfo info = TestConnection(QStringLiteral("s3.amazonaws.com"));
    QCOMPARE(ParseRequestUrl(ListingUrl(info, QStringLiteral("b"), params)).Target(), target);
}

QTEST_GUILESS_MAIN(TestRequestSigning)
#include "TestRequestSigning.moc"
