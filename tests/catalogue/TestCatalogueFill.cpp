#include "catalogue/CatalogueFill.h"
#include "catalogue/CatalogueSearch.h"
#include "ErrorOf.h"
#include "FakeListingServer.h"
#include "S3TestServer.h"
#include "ShownNames.h"

#include <QSignalSpy>
#include <QTest>

#include <stdexcept>

namespace {

// Keys of the shared folder "db", with their sizes, in the order a listing gives them.
const QList<QPair<QString, qint64>> FolderObjects{
    {"db/", 0},
    {"db/a.backup", 1048575},
    {"db/b.backup", 1048576},
    {"db/c.backup", 1572864},
    {"db/db/", 3}, // not empty, but nothing is left of its key once the prefix is removed
    {"db/empty.backup", 0},
    {"db/old/", 0},
    {"db/old/x.backup", 10},
    {"db/olddb/x.backup", 20},
    {"dbx/y.backup", 30},
    {"other/z.backup", 40},
};

QByteArray FakeListing(const QString& contents, bool truncated, const QString& nextMarker = {}) {
    const QString next =
        nextMarker.isEmpty() ? QString() : QStringLiteral("<NextMarker>%1</NextMarker>").arg(nextMarker);
    return QStringLiteral("<?xml version=\"1.0\"?><ListBucketResult><Name>fake</Name><Prefix>db/</Prefix>"
                          "<IsTruncated>%1</IsTruncated>%2%3</ListBucketResult>")
        .arg(truncated ? QStringLiteral("true") : QStringLiteral("false"), next, contents)
        .toUtf8();
}

QString FakeObject(const QString& key, const QString& lastModified) {
    return QStringLiteral("<Contents><Key>%1</Key><LastModified>%2</LastModified><Size>5</Size></Contents>")
        .arg(key, lastModified);
}

TS3ConnectionInfo FakeConnection(quint16 port) {
    TS3ConnectionInfo info = S3TestServer::FromFixture().ConnectionInfo();
    info.StorageEndpoint = QStringLiteral("s3.localhost:%1").arg(port);
    return info;
}

} // namespace

class TestCatalogueFill : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void fillsFromEveryPage_data();
    void fillsFromEveryPage();
    void listsPastTheServicesOwnPage();
    void keepsTheSearchThroughConnect();
    void showsNothingForAnEmptyFolder();
    void namesTheCauseOfARefusedListing_data();
    void namesTheCauseOfARefusedListing();
    void keepsOldRowsForABadBucketSetting_data();
    void keepsOldRowsForABadBucketSetting();
    void dropsTheRecordWithAnUnreadableTime();
    void continuesAtTheNextMarker();
    void laterPageFailureLeavesTheCatalogueEmpty();
    void stopsAListingThatDoesNotMoveOn();

  private:
    S3TestServer server_ = S3TestServer::FromFixture();
    QString bucket_;
};

void TestCatalogueFill::initTestCase() {
    bucket_ = S3TestServer::UniqueBucketName(QStringLiteral("catalogue"));
    server_.CreateBucket(bucket_);
    for (const auto& [key, size] : FolderObjects)
        server_.PutObject(bucket_, key, QByteArray(size, 'x'));
}

void TestCatalogueFill::fillsFromEveryPage_data() {
    QTest::addColumn<int>("maxKeys");
    QTest::newRow("one page") << 0;
    QTest::newRow("pages of one key") << 1;
    QTest::newRow("pages of three keys") << 3;
}

void TestCatalogueFill::fillsFromEveryPage() {
    QFETCH(int, maxKeys);
    TCatalogueTable table;
    table.Append({QStringLiteral("left over"), {}, 1, {}, 0, {}});
    QSignalSpy reset(&table, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&table, &QAbstractItemModel::rowsInserted);
    TS3ConnectionInfo info = server_.ConnectionInfo();

    FillCatalogue(table, info, bucket_ + QStringLiteral("/db"), {}, maxKeys);

    QCOMPARE(ShownNames(table),
             (QStringList{"a.backup", "b.backup", "c.backup", "old/x.backup", "oldx.backup"}));
    const QStringList paths{"db/a.backup", "db/b.backup", "db/c.backup", "db/old/x.backup",
                            "db/olddb/x.backup"};
    const QList<qint64> sizes{1048575, 1048576, 1572864, 10, 20};
    const QList<qint64> sizesMb{0, 1, 1, 0, 0};
    for (int row = 0; row < table.rowCount(); ++row) {
        const TCatalogueRecord record = table.RecordAt(row);
        QCOMPARE(record.Path, paths[row]);
        QCOMPARE(record.Size, sizes[row]);
        QCOMPARE(record.Size_mb, sizesMb[row]);
        const QDateTime sent = QDateTime::fromString(record.LastModified, Qt::ISODateWithMs);
        QVERIFY2(sent.isValid(), qPrintable(record.LastModified));
        QCOMPARE(record.LastModified_datatime, sent);
        QCOMPARE(record.LastModified_datatime.offsetFromUtc(), -3 * 3600);
    }
    QCOMPARE(table.CurrentRow(), 0);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(inserted.count(), 0);
}

void TestCatalogueFill::listsPastTheServicesOwnPage() {
    // The service pages 1,000 keys; the product asks for no page size, so this folder needs two pages.
    constexpr int count = 1001;
    const QString bucket = S3TestServer::UniqueBucketName(QStringLiteral("long-folder"));
    server_.CreateBucket(bucket);
    for (int i = 0; i < count; ++i)
        server_.PutObject(bucket, QStringLiteral("db/%1.backup").arg(i, 4, 10, QChar(u'0')), "x");
    TCatalogueTable table;
    TS3ConnectionInfo info = server_.ConnectionInfo();

    FillCatalogue(table, info, bucket + QStringLiteral("/db"));
    QCOMPARE(table.rowCount(), count);
    QCOMPARE(table.RecordAt(count - 1).Name, QStringLiteral("1000.backup"));
}

void TestCatalogueFill::keepsTheSearchThroughConnect() {
    TCatalogueTable table;
    SearchCatalogue(table, QStringLiteral("x"));
    TS3ConnectionInfo info = server_.ConnectionInfo();
    FillCatalogue(table, info, bucket_ + QStringLiteral("/db"));
    QCOMPARE(ShownNames(table), (QStringList{"old/x.backup", "oldx.backup"}));
    QCOMPARE(table.RecordCount(), 5);
    QCOMPARE(table.CurrentRow(), 0);
    SearchCatalogue(table, QString());
    QCOMPARE(table.rowCount(), 5);
}

void TestCatalogueFill::showsNothingForAnEmptyFolder() {
    const QString bucket = S3TestServer::UniqueBucketName(QStringLiteral("empty-folder"));
    server_.CreateBucket(bucket);
    server_.PutObject(bucket, QStringLiteral("db/"), {});
    server_.PutObject(bucket, QStringLiteral("elsewhere/a.backup"), "abc");
    TCatalogueTable table;
    table.Append({QStringLiteral("old row"), {}, 1, {}, 0, {}});
    TS3ConnectionInfo info = server_.ConnectionInfo();

    FillCatalogue(table, info, bucket + QStringLiteral("/db"));
    QCOMPARE(table.rowCount(), 0);
    QVERIFY(table.HasNoCurrentRecord());
}

void TestCatalogueFill::namesTheCauseOfARefusedListing_data() {
    QTest::addColumn<QString>("bucketSetting");
    QTest::addColumn<QString>("message");

    const QString missing = S3TestServer::UniqueBucketName(QStringLiteral("missing"));
    QTest::newRow("missing bucket")
        << missing + "/db"
        << QStringLiteral("Cannot list bucket \"%1\": NoSuchBucket: The specified bucket does not exist")
               .arg(missing);
    // Without a bucket name the request reaches the service itself, which answers with its bucket list.
    QTest::newRow("empty bucket name") << "/db"
                                       << "Cannot list bucket \"\": the answer was not a bucket listing";
}

void TestCatalogueFill::namesTheCauseOfARefusedListing() {
    QFETCH(QString, bucketSetting);
    QFETCH(QString, message);
    TCatalogueTable table;
    table.Append({QStringLiteral("old row"), {}, 1, {}, 0, {}});
    TS3ConnectionInfo info = server_.ConnectionInfo();

    QCOMPARE(ErrorOf([&] { FillCatalogue(table, info, bucketSetting); }), message);
    QCOMPARE(table.rowCount(), 0);
}

void TestCatalogueFill::keepsOldRowsForABadBucketSetting_data() {
    QTest::addColumn<QString>("bucketSetting");
    QTest::newRow("no folder") << "backups";
    QTest::newRow("slash at the end only") << "backups/";
    QTest::newRow("folder with a slash") << "backups/db/2023";
    QTest::newRow("empty") << "";
}

void TestCatalogueFill::keepsOldRowsForABadBucketSetting() {
    QFETCH(QString, bucketSetting);
    TCatalogueTable table;
    TS3ConnectionInfo info = server_.ConnectionInfo();
    FillCatalogue(table, info, bucket_ + QStringLiteral("/db"));
    table.SetCurrentRow(2);
    QSignalSpy aboutToReset(&table, &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy reset(&table, &QAbstractItemModel::modelReset);

    QCOMPARE(ErrorOf([&] { FillCatalogue(table, info, bucketSetting); }),
             QStringLiteral("Invalid bucket configuration"));
    QCOMPARE(table.rowCount(), 5);
    QCOMPARE(table.CurrentRow(), 2);
    QCOMPARE(reset.count(), aboutToReset.count());

    // The view follows the table again afterwards.
    QSignalSpy removed(&table, &QAbstractItemModel::rowsRemoved);
    table.RemoveCurrentRecord();
    QCOMPARE(removed.count(), 1);
}

void TestCatalogueFill::dropsTheRecordWithAnUnreadableTime() {
    const TFakeListingServer fake({{"", FakeListing(FakeObject("db/a", "2023-11-20T01:30:00.000Z") +
                                                        FakeObject("db/b", "2023-11-20T01:30:00.000Z") +
                                                        FakeObject("db/c", "2023-11-20 01:30") +
                                                        FakeObject("db/d", "2023-11-20T01:30:00.000Z"),
                                                    false)}});
    TCatalogueTable table;
    QSignalSpy moved(&table, &TCatalogueTable::CurrentRecordMoved);
    TS3ConnectionInfo info = FakeConnection(fake.Port());

    QCOMPARE(ErrorOf([&] { FillCatalogue(table, info, QStringLiteral("fake/db")); }),
             QStringLiteral("Invalid date string: 2023-11-20 01:30"));
    QCOMPARE(ShownNames(table), (QStringList{"a", "b"}));
    QCOMPARE(moved.count(), 1); // the view is told once, when it is refreshed
    QCOMPARE(moved.at(0).at(0).toInt(), 0);
}

void TestCatalogueFill::continuesAtTheNextMarker() {
    // The service's NextMarker wins over the last key of the page.
    const QString time = QStringLiteral("2023-11-20T01:30:00.000Z");
    const TFakeListingServer fake({{"", FakeListing(FakeObject("db/a", time) + FakeObject("db/b", time), true,
                                                    QStringLiteral("db/b0"))},
                                   {"db/b0", FakeListing(FakeObject("db/c", time), false)}});
    TCatalogueTable table;
    TS3ConnectionInfo info = FakeConnection(fake.Port());
    FillCatalogue(table, info, QStringLiteral("fake/db"));
    QCOMPARE(ShownNames(table), (QStringList{"a", "b", "c"}));
}

void TestCatalogueFill::stopsAListingThatDoesNotMoveOn() {
    // The page names no NextMarker, so the next one starts after its last key, which gives it again.
    const QByteArray page = FakeListing(FakeObject("db/a", "2023-11-20T01:30:00.000Z"), true);
    const TFakeListingServer fake({{"", page}, {"db/a", page}});
    TCatalogueTable table;
    TS3ConnectionInfo info = FakeConnection(fake.Port());

    QCOMPARE(ErrorOf([&] { FillCatalogue(table, info, QStringLiteral("fake/db")); }),
             QStringLiteral("Cannot list bucket \"fake\": the service reported more keys without moving on"));
    QCOMPARE(ShownNames(table), QStringList());
}

void TestCatalogueFill::laterPageFailureLeavesTheCatalogueEmpty() {
    // The first page lists a backup; the second is refused (the fake knows no page after "db/a").
    const TFakeListingServer fake({{"", FakeListing(FakeObject("db/a", "2023-11-20T01:30:00.000Z"), true)}});
    TCatalogueTable table;
    TS3ConnectionInfo info = FakeConnection(fake.Port());

    QCOMPARE(ErrorOf([&] { FillCatalogue(table, info, QStringLiteral("fake/db")); }),
             QStringLiteral("Cannot list bucket \"fake\": the answer was not a bucket listing"));
    QCOMPARE(ShownNames(table), QStringList());
    QVERIFY(table.HasNoCurrentRecord());
}

QTEST_GUILESS_MAIN(TestCatalogueFill)
#include "TestCatalogueFill.moc"
