#include "catalogue/CatalogueFill.h"
#include "support/ErrorOf.h"
#include "support/FixturePort.h"
#include "support/MemoryFigures.h"
#include "support/MemoryStream.h"
#include "support/ShownNames.h"

#include <QRegularExpression>
#include <QTest>

namespace {

// The fault server answers the listing of any bucket with the pages of a scenario
// (tests/support/listings/<scenario>, or the page over the cap that it makes itself).
TS3ConnectionInfo FaultConnection(const QString& scenario) {
    TS3ConnectionInfo info;
    info.Protocol = QStringLiteral("http");
    info.StorageEndpoint =
        QStringLiteral("%1.localhost:%2").arg(scenario).arg(FixturePort(QStringLiteral("s3_fault_server")));
    return info;
}

} // namespace

class TestHostileListings : public QObject {
    Q_OBJECT

  private slots:
    void showsWhatCanBeNamed_data();
    void showsWhatCanBeNamed();
    void downloadsAKeyOfALatin1Listing();
    void refusesAnElementBomb();
    void refusesAnEndlessListing_data();
    void refusesAnEndlessListing();
    void endsADrippingListing();
};

void TestHostileListings::showsWhatCanBeNamed_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("logged");

    const QString skipped = QStringLiteral("Skipped 1 key of the listing that cannot be represented (a NUL "
                                           "character, bytes that are not text, or more than 2048 bytes)");
    QTest::newRow("key holding &#0;")
        << "key-with-nul" << QStringList{"a.backup", "c.backup"} << "" << QStringList{skipped};
    QTest::newRow("key longer than the path field")
        << "long-key" << QStringList{"a.backup"} << "" << QStringList{skipped};
    QTest::newRow("page over the cap")
        << "over-cap" << QStringList{} << "Cannot list bucket \"b\": a listing page is larger than 64 MiB"
        << QStringList{};
}

void TestHostileListings::showsWhatCanBeNamed() {
    QFETCH(QString, scenario);
    QFETCH(QStringList, shown);
    QFETCH(QString, error);
    QFETCH(QStringList, logged);
    TCatalogueTable table;
    TS3ConnectionInfo info = FaultConnection(scenario);
    QStringList log;
    TListingOptions options;
    options.Log = [&log](const QString& message) { log.append(message); };

    QCOMPARE(ErrorOf([&] { table.TakeRecords(ListCatalogue(info, QStringLiteral("b/db"), {}, options)); }),
             error);
    QCOMPARE(ShownNames(table), shown);
    QCOMPARE(log, logged);
}

void TestHostileListings::downloadsAKeyOfALatin1Listing() {
    // The page is declared ISO-8859-1 and holds "ó" as one byte; its folder "echo" makes the fault
    // server answer a download with the request it received.
    TCatalogueTable table;
    TS3ConnectionInfo info = FaultConnection(QStringLiteral("latin1"));
    table.TakeRecords(ListCatalogue(info, QStringLiteral("b/echo")));
    QCOMPARE(ShownNames(table), QStringList{QStringLiteral("relatório.backup")});
    const QString key = table.FieldAsText(TCatalogueField::Path);
    QCOMPARE(key, QStringLiteral("echo/relatório.backup"));

    // The key goes back as listed, its "ó" sent as UTF-8.
    TS3StorageService service(info);
    TS3MemoryStream stream;
    QVERIFY(service.GetObject(QStringLiteral("b"), key, stream));
    QVERIFY2(stream.Data().startsWith("GET /echo/relat%C3%B3rio.backup HTTP/1.1\r\n"),
             stream.Data().constData());
}

// 60 MiB of "<a/>", within the byte cap: parsed as a whole, it took some 1.7 GB.
void TestHostileListings::refusesAnElementBomb() {
    TS3ConnectionInfo info = FaultConnection(QStringLiteral("element-bomb"));
    QCOMPARE(ErrorOf([&] { ListCatalogue(info, QStringLiteral("b/db")); }),
             QStringLiteral("Cannot list bucket \"b\": a listing page holds more than 200,000 elements and "
                            "attributes"));
    // The page's bytes, gathered in an array that grows by doubling, and little else.
    if (MemoryFiguresHold)
        QVERIFY2(PeakResidentKiB() < 400 * 1024, qPrintable(QString::number(PeakResidentKiB())));
}

// Pages of 1,000 new keys that always name a next page: the listing ends at its limits, having told
// how far it got, and holds no more records than the limit.
void TestHostileListings::refusesAnEndlessListing_data() {
    QTest::addColumn<qint64>("maxKeys");
    QTest::addColumn<qint64>("maxPages");
    QTest::addColumn<qint64>("pagesRead");
    QTest::addColumn<QString>("error");
    QTest::newRow("keys") << qint64(150000) << MaxListingPages << qint64(151)
                          << "Cannot list bucket \"b\": the listing holds more than 150,000 keys, more than "
                             "Corvane lists";
    QTest::newRow("pages") << MaxListedKeys << qint64(5) << qint64(5)
                           << "Cannot list bucket \"b\": the listing goes on past 5 pages, more than Corvane "
                              "reads";
}

void TestHostileListings::refusesAnEndlessListing() {
    QFETCH(qint64, maxKeys);
    QFETCH(qint64, maxPages);
    QFETCH(qint64, pagesRead);
    QFETCH(QString, error);
    TS3ConnectionInfo info = FaultConnection(QStringLiteral("endless"));
    QList<qint64> keysSeen;
    QStringList log;
    TListingOptions options;
    options.MaxKeys = maxKeys;
    options.MaxPages = maxPages;
    options.Progress = [&](const TListingCount& count) {
        QCOMPARE(count.Pages, keysSeen.size() + 1);
        keysSeen.append(count.Keys);
    };
    options.Log = [&log](const QString& message) { log.append(message); };

    QCOMPARE(ErrorOf([&] { ListCatalogue(info, QStringLiteral("b/db"), {}, options); }), error);
    QCOMPARE(keysSeen.size(), pagesRead);
    QCOMPARE(keysSeen.last(), pagesRead * 1000);
    QStringList progressLines;
    for (qint64 pages = ListingLogPages; pages <= pagesRead; pages += ListingLogPages)
        progressLines << QStringLiteral("Listing \"b\": %1 keys on %2 pages so far")
                             .arg(QLocale(QLocale::English).toString(pages * 1000))
                             .arg(pages);
    QCOMPARE(log, progressLines);
    if (MemoryFiguresHold)
        QVERIFY2(PeakResidentKiB() < 400 * 1024, qPrintable(QString::number(PeakResidentKiB())));
}

// A page sent at 20 bytes a second never stalls; the rate over the window, shortened here, ends it.
void TestHostileListings::endsADrippingListing() {
    TS3ConnectionInfo info = FaultConnection(QStringLiteral("dripping"));
    TS3TransportLimits limits;
    limits.RateWindow = std::chrono::milliseconds(1500);
    const QString error = ErrorOf([&] { ListCatalogue(info, QStringLiteral("b/db"), limits); });
    QVERIFY2(
        QRegularExpression(QStringLiteral("^The server b\\.dripping\\.localhost sent its answer too slowly: "
                                          "\\d+ bytes/s over 1\\.5 s, less than the 1 KiB/s a transfer "
                                          "needs, so the request was ended$"))
            .match(error)
            .hasMatch(),
        qPrintable(error));
}

QTEST_GUILESS_MAIN(TestHostileListings)
#include "TestHostileListings.moc"
