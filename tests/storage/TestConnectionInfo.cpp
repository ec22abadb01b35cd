#include "config/BuildSettings.h"
#include "storage/S3ConnectionInfo.h"
#include "storage/S3StorageService.h"
#include "support/ErrorOf.h"

#include <QTest>

class TestConnectionInfo : public QObject {
    Q_OBJECT

  private slots:
    void splitsValidSettings_data();
    void splitsValidSettings();
    void rejectsMalformedSettings_data();
    void rejectsMalformedSettings();
    void addressesBuckets_data();
    void addressesBuckets();
    void createsServiceWithBuiltInCredentials();
};

void TestConnectionInfo::splitsValidSettings_data() {
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("bucket");
    QTest::addColumn<QString>("folder");
    QTest::newRow("bucket and folder") << "backups/db"
                                       << "backups"
                                       << "db";
    QTest::newRow("trailing slash adds nothing") << "backups/db/"
                                                 << "backups"
                                                 << "db";
    QTest::newRow("empty bucket name") << "/db"
                                       << ""
                                       << "db";
    QTest::newRow("empty folder") << "backups//"
                                  << "backups"
                                  << "";
    QTest::newRow("blanks stay") << "backups / db"
                                 << "backups "
                                 << " db";
}

void TestConnectionInfo::splitsValidSettings() {
    QFETCH(QString, setting);
    QFETCH(QString, bucket);
    QFETCH(QString, folder);
    QCOMPARE(SplitBucketSetting(setting), QStringList({bucket, folder}));
}

void TestConnectionInfo::rejectsMalformedSettings_data() {
    QTest::addColumn<QString>("setting");
    QTest::newRow("bucket only, with slash") << "backups/";
    QTest::newRow("empty middle piece") << "backups//db";
    QTest::newRow("folder with slash") << "backups/db/2023";
    QTest::newRow("bucket only") << "backups";
    QTest::newRow("empty text") << "";
    QTest::newRow("slash only") << "/";
}

void TestConnectionInfo::rejectsMalformedSettings() {
    QFETCH(QString, setting);
    QCOMPARE(ErrorOf([&] { SplitBucketSetting(setting); }), "Invalid bucket configuration");
    // The setting is checked before anything else: no credentials are set, no service is made.
    TS3ConnectionInfo info = TS3ConnectionInfo::FromBuild();
    QCOMPARE(ErrorOf([&] { CreateStorageService(info, setting); }), "Invalid bucket configuration");
    QVERIFY(info.AccountName.isEmpty());
}

// A dotted name goes path-style over https, where "<bucket>.<endpoint>" cannot match the endpoint's
// wildcard certificate; every other bucket keeps its own host.
void TestConnectionInfo::addressesBuckets_data() {
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<bool>("pathStyleAlways"); // TS3PathStyle::DottedAlways, as the tests over http use
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("bucket");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("url");
    QTest::newRow("global endpoint") << "http" << false << "s3.amazonaws.com"
                                     << "backups"
                                     << "backups.s3.amazonaws.com"
                                     << "http://backups.s3.amazonaws.com";
    QTest::newRow("empty bucket name") << "http" << false << "s3.amazonaws.com"
                                       << ""
                                       << "s3.amazonaws.com"
                                       << "http://s3.amazonaws.com";
    QTest::newRow("endpoint with port") << "http" << false << "s3.localhost:4568"
                                        << "backups"
                                        << "backups.s3.localhost:4568"
                                        << "http://backups.s3.localhost:4568";
    QTest::newRow("https, plain name") << "https" << false << "s3.amazonaws.com"
                                       << "my-backups"
                                       << "my-backups.s3.amazonaws.com"
                                       << "https://my-backups.s3.amazonaws.com";
    QTest::newRow("https, dotted name") << "https" << false << "s3.amazonaws.com"
                                        << "my.backups"
                                        << "s3.amazonaws.com"
                                        << "https://s3.amazonaws.com/my.backups";
    QTest::newRow("https in capitals, dotted name") << "HTTPS" << false << "s3.amazonaws.com"
                                                    << "my.backups"
                                                    << "s3.amazonaws.com"
                                                    << "HTTPS://s3.amazonaws.com/my.backups";
    QTest::newRow("https, dotted name, endpoint with port") << "https" << false << "s3.example.net:8443"
                                                            << "a.b.c"
                                                            << "s3.example.net:8443"
                                                            << "https://s3.example.net:8443/a.b.c";
    QTest::newRow("http, dotted name") << "http" << false << "s3.amazonaws.com"
                                       << "my.backups"
                                       << "my.backups.s3.amazonaws.com"
                                       << "http://my.backups.s3.amazonaws.com";
    QTest::newRow("http, dotted name, path-style chosen") << "http" << true << "s3.localhost:4568"
                                                          << "my.backups"
                                                          << "s3.localhost:4568"
                                                          << "http://s3.localhost:4568/my.backups";
    QTest::newRow("http, plain name, path-style chosen") << "http" << true << "s3.localhost:4568"
                                                         << "backups"
                                                         << "backups.s3.localhost:4568"
                                                         << "http://backups.s3.localhost:4568";
    QTest::newRow("path-style name is encoded") << "https" << false << "s3.amazonaws.com"
                                                << "a.b?c d"
                                                << "s3.amazonaws.com"
                                                << "https://s3.amazonaws.com/a.b%3Fc%20d";
}

void TestConnectionInfo::addressesBuckets() {
    QFETCH(QString, scheme);
    QFETCH(bool, pathStyleAlways);
    QFETCH(QString, endpoint);
    QFETCH(QString, bucket);
    QFETCH(QString, host);
    QFETCH(QString, url);
    TS3ConnectionInfo info;
    info.Protocol = scheme;
    info.StorageEndpoint = endpoint;
    if (pathStyleAlways)
        info.PathStyle = TS3PathStyle::DottedAlways;
    QCOMPARE(info.RequestHost(bucket), host);
    QCOMPARE(info.StorageURL(bucket), url);
    QCOMPARE(info.UsesPathStyle(bucket), host == endpoint && !bucket.isEmpty());
}

void TestConnectionInfo::createsServiceWithBuiltInCredentials() {
    TS3ConnectionInfo info = TS3ConnectionInfo::FromBuild();
    QCOMPARE(info.StorageEndpoint, QString::fromUtf8(BuildSettings::S3Endpoint));
    QCOMPARE(info.Protocol, QString::fromUtf8(BuildSettings::S3Scheme));
    QVERIFY(CreateStorageService(info, QStringLiteral("backups/db")));
    QCOMPARE(info.AccountName, QString::fromUtf8(BuildSettings::S3AccessKeyId));
    QCOMPARE(info.AccountKey, QString::fromUtf8(BuildSettings::S3SecretAccessKey));
}

QTEST_GUILESS_MAIN(TestConnectionInfo)
#include "TestConnectionInfo.moc"
