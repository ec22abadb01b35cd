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

void TestConnectionInfo::addressesBuckets_data() {
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("bucket");
    QTest::addColumn<QString>("virtualHost");
    QTest::addColumn<QString>("url");
    QTest::newRow("global endpoint") << "s3.amazonaws.com"
                                     << "backups"
                                     << "backups.s3.amazonaws.com"
                                     << "http://backups.s3.amazonaws.com";
    QTest::newRow("empty bucket name") << "s3.amazonaws.com"
                                       << ""
                                       << "s3.amazonaws.com"
                                       << "http://s3.amazonaws.com";
    QTest::newRow("endpoint with port") << "s3.localhost:4568"
                                        << "backups"
                                        << "backups.s3.localhost:4568"
                                        << "http://backups.s3.localhost:4568";
}

void TestConnectionInfo::addressesBuckets() {
    QFETCH(QString, endpoint);
    QFETCH(QString, bucket);
    QFETCH(QString, virtualHost);
    QFETCH(QString, url);
    TS3ConnectionInfo info;
    info.Protocol = QStringLiteral("http");
    info.StorageEndpoint = endpoint;
    QCOMPARE(info.VirtualHost(bucket), virtualHost);
    QCOMPARE(info.StorageURL(bucket), url);
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
