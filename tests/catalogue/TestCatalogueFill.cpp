#include "catalogue/CatalogueFill.h"
#include "catalogue/CatalogueSearch.h"
#include "support/ErrorOf.h"
#include "support/FixturePort.h"
#include "support/S3TestServer.h"
#include "support/ShownNames.h"

#include <QSignalSpy>
#include <QTest>

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

// A scenario of fixed listing pages (tests/support/listings/<scenario>) that the fault server answers
// with for any bucket, here "fake": what s3rver never sends.
TS3ConnectionInfo FakeConnection(const QString& scenario) {
    TS3ConnectionInfo info = TS3TestServer::FromFixture().ConnectionInfo();
    info.StorageEndpoint =
        QStringLiteral("%1.localhost:%2").arg(scenario).arg(FixturePort(QStringLiteral("s3_fault_server")));
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
    void namesEveryKeyApart();
    void namesTheCauseOfARefusedListing_data();
    void namesTheCauseOfARefusedListing();
    void keepsOldRowsForABadBucketSetting_data();
    void keepsOldRowsForABadBucketSetting();
    void endsAtAnUnreadableTime();
    void continuesAtTheNextMarker();
    void laterPageFailureLeavesTheCatalogueEmpty();
    void stopsAListingThatDoesNotMoveOn_data();
    void stopsAListingThatDoesNotMoveOn();

  private:
    TS3TestServer FServer = TS3TestServer::FromFixture();
    QString FBucket;
};

void TestCatalogueFill::initTestCase() {
    FBucket = TS3TestServer::UniqueBucketName(QStringLiteral("catalogue"));
    FServer.CreateBucket(FBucket);
    for (const auto& [key, size] : FolderObjects)
        FServer.PutObject(FBucket, key, QByteArray(size, 'x'));
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
    TS3ConnectionInfo info = FServer.ConnectionInfo();

    TListingOptions options;
    options.PageSize = maxKeys;
    table.TakeRecords(ListCatalogue(info, FBucket + QStringLiteral("/db"), {}, options));

    QCOMPARE(ShownNames(table),
             (QStringList{"a.backup", "b.backup", "c.backup", "old/x.backup", "olddb/x.backup"}));
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
    constexpr int Count = 1001;
    const QString bucket = TS3TestServer::UniqueBucketName(QStringLiteral("long-folder"));
    FServer.CreateBucket(bucket);
    for (int i = 0; i < Count; ++i)
        FServer.PutObject(bucket, QStringLiteral("db/%1.backup").arg(i, 4, 10, QChar(u'0')), "x");
    TCatalogueTable table;
    TS3ConnectionInfo info = FServer.ConnectionInfo();

    table.TakeRecords(ListCatalogue(info, bucket + QStringLiteral("/db")));
    QCOMPARE(table.rowCount(), Count);
    QCOMPARE(table.RecordAt(Count - 1).Name, QStringLiteral("1000.backup"));
}

void TestCatalogueFill::keepsTheSearchThroughConnect() {
    TCatalogueTable table;
    SearchCatalogue(table, QStringLiteral("x"));
    TS3ConnectionInfo info = FServer.ConnectionInfo();
    table.TakeRecords(ListCatalogue(info, FBucket + QStringLiteral("/db")));
    QCOMPARE(ShownNames(table), (QStringList{"old/x.backup", "olddb/x.backup"}));
    QCOMPARE(table.RecordCount(), 5);
    QCOMPARE(table.CurrentRow(), 0);
    SearchCatalogue(table, QString());
    QCOMPARE(table.rowCount(), 5);
}

// Only the folder prefix at the start of a key goes, and a name cut to the grid's width keeps a hash of
// its key: two keys never share a name, nor through it a local file.
void TestCatalogueFill::namesEveryKeyApart() {
    const QString bucket = TS3TestServer::UniqueBucketName(QStringLiteral("names"));
    FServer.CreateBucket(bucket);
    const QString longStart = QString(200, u'n') + u'/' + QString(100, u'm');
    for (const QString& key : QStringList{QStringLiteral("db/") + longStart + QStringLiteral("1.backup"),
                                          QStringLiteral("db/") + longStart + QStringLiteral("2.backup"),
                                          QStringLiteral("db/xdb/a.backup")})
        FServer.PutObject(bucket, key, "x");
    TCatalogueTable table;
    TS3ConnectionInfo info = FServer.ConnectionInfo();

    table.TakeRecords(ListCatalogue(info, bucket + QStringLiteral("/db")));

    const QStringList names = ShownNames(table);
    QCOMPARE(names.size(), 3);
    QCOMPARE(names[2], QStringLiteral("xdb/a.backup"));
    QVERIFY(names[0] != names[1]);
    for (const QString& name : names.first(2)) {
        QVERIFY2(name.startsWith(longStart.left(100)) && name.endsWith(QStringLiteral(".backup")),
                 qPrintable(name));
        QCOMPARE(name.toUtf8().size(), TCatalogueTable::TextFieldWidth);
        QCOMPARE(name.at(name.size() - 16), u'~');
    }
}

void TestCatalogueFill::showsNothingForAnEmptyFolder() {
    const QString bucket = TS3TestServer::UniqueBucketName(QStringLiteral("empty-folder"));
    FServer.CreateBucket(bucket);
    FServer.PutObject(bucket, QStringLiteral("db/"), {});
    FServer.PutObject(bucket, QStringLiteral("elsewhere/a.backup"), "abc");
    TCatalogueTable table;
    table.Append({QStringLiteral("old row"), {}, 1, {}, 0, {}});
    TS3ConnectionInfo info = FServer.ConnectionInfo();

    table.TakeRecords(ListCatalogue(info, bucket + QStringLiteral("/db")));
    QCOMPARE(table.rowCount(), 0);
    QVERIFY(table.HasNoCurrentRecord());
}

void TestCatalogueFill::namesTheCauseOfARefusedListing_data() {
    QTest::addColumn<QString>("bucketSetting");
    QTest::addColumn<QString>("message");

    const QString missing = TS3TestServer::UniqueBucketName(QStringLiteral("missing"));
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
    TS3ConnectionInfo info = FServer.ConnectionInfo();

    QCOMPARE(ErrorOf([&] { table.TakeRecords(ListCatalogue(info, bucketSetting)); }), message);
    QCOMPARE(table.rowCount(), 1); // a listing that fails hands over nothing
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
    TS3ConnectionInfo info = FServer.ConnectionInfo();
    table.TakeRecords(ListCatalogue(info, FBucket + QStringLiteral("/db")));
    table.SetCurrentRow(2);
    QSignalSpy aboutToReset(&table, &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy reset(&table, &QAbstractItemModel::modelReset);

    QCOMPARE(ErrorOf([&] { table.TakeRecords(ListCatalogue(info, bucketSetting)); }),
             QStringLiteral("Invalid bucket configuration"));
    QCOMPARE(table.rowCount(), 5);
    QCOMPARE(table.CurrentRow(), 2);
    QCOMPARE(reset.count(), aboutToReset.count());

    // The view follows the table again afterwards.
    QSignalSpy removed(&table, &QAbstractItemModel::rowsRemoved);
    table.RemoveCurrentRecord();
    QCOMPARE(removed.count(), 1);
}

// The records before it alone, beside the error, would look like the whole folder.
void TestCatalogueFill::endsAtAnUnreadableTime() {
    // One page: db/a, db/b, db/c with the time "2023-11-20 01:30", db/d.
    TS3ConnectionInfo info = FakeConnection(QStringLiteral("unreadable-time"));
    QCOMPARE(ErrorOf([&] { ListCatalogue(info, QStringLiteral("fake/db")); }),
             QStringLiteral("Invalid date string: 2023-11-20 01:30"));
}

void TestCatalogueFill::continuesAtTheNextMarker() {
    // The service's NextMarker wins over the last key of the page: the first page lists db/a and db/b
    // and names db/b0, the only marker with a page after it (db/c).
    TCatalogueTable table;
    TS3ConnectionInfo info = FakeConnection(QStringLiteral("next-marker"));
    table.TakeRecords(ListCatalogue(info, QStringLiteral("fake/db")));
    QCOMPARE(ShownNames(table), (QStringList{"a", "b", "c"}));
}

void TestCatalogueFill::stopsAListingThatDoesNotMoveOn_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("message");
    // The page names no NextMarker, so the next one starts after its last key, which gives it again.
    QTest::newRow("same page again") << "no-progress"
                                     << "Cannot list bucket \"fake\": the service led the listing back to "
                                        "\"db/a\", where it had been before";
    // The markers go db/a, db/b, db/a: each page moves on, but the listing would go round for ever.
    QTest::newRow("markers in a cycle") << "cycling-markers"
                                        << "Cannot list bucket \"fake\": the service led the listing back to "
                                           "\"db/a\", where it had been before";
}

void TestCatalogueFill::stopsAListingThatDoesNotMoveOn() {
    QFETCH(QString, scenario);
    QFETCH(QString, message);
    TCatalogueTable table;
    TS3ConnectionInfo info = FakeConnection(scenario);
    QCOMPARE(ErrorOf([&] { table.TakeRecords(ListCatalogue(info, QStringLiteral("fake/db"))); }), message);
    QCOMPARE(ShownNames(table), QStringList());
}

void TestCatalogueFill::laterPageFailureLeavesTheCatalogueEmpty() {
    // The first page lists a backup; the second is refused (the scenario has no page after "db/a").
    TCatalogueTable table;
    TS3ConnectionInfo info = FakeConnection(QStringLiteral("later-page-refused"));

    QCOMPARE(ErrorOf([&] { table.TakeRecords(ListCatalogue(info, QStringLiteral("fake/db"))); }),
             QStringLiteral("Cannot list bucket \"fake\": the answer was not a bucket listing"));
    QCOMPARE(ShownNames(table), QStringList());
    QVERIFY(table.HasNoCurrentRecord());
}

QTEST_GUILESS_MAIN(TestCatalogueFill)
#include "TestCatalogueFill.moc"
