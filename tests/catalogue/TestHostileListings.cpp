#include "catalogue/CatalogueFill.h"
#include "support/ErrorOf.h"
#include "support/FixturePort.h"
#include "support/MemoryStream.h"
#include "support/ShownNames.h"

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

    QCOMPARE(ErrorOf([&] {
                 table.TakeRecords(ListCatalogue(info, QStringLiteral("b/db"), {}, ServicePageSize,
                                                 [&log](const QString& message) { log.append(message); }));
             }),
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

QTEST_GUILESS_MAIN(TestHostileListings)
#include "TestHostileListings.moc"
