#include "ErrorOf.h"
#include "MemoryStream.h"
#include "ShownNames.h"
#include "catalogue/CatalogueFill.h"

#include <QFile>
#include <QTest>

namespace {

// The fault server answers a bucket named listing-<kind> by its kind (see tools/s3-fault-server).
quint16 FaultServerPort() {
    QFile file(QStringLiteral(CORVANE_TEST_STATE_DIR "/s3-fault-server/port"));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("The s3_fault_server fixture is not running");
    return quint16(file.readAll().trimmed().toUInt());
}

TS3ConnectionInfo FaultConnection() {
    TS3ConnectionInfo info;
    info.Protocol = QStringLiteral("http");
    info.StorageEndpoint = QStringLiteral("s3.localhost:%1").arg(FaultServerPort());
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
    QTest::addColumn<QString>("bucket");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("logged");

    const QString skipped = QStringLiteral("Skipped 1 key of the listing that cannot be represented (a NUL "
                                           "character, bytes that are not text, or more than 2048 bytes)");
    // The key with the NUL ends a truncated page: the next page starts after it, so it is counted once.
    QTest::newRow("key holding &#0;")
        << "listing-nul" << QStringList{"a.backup", "c.backup"} << "" << QStringList{skipped};
    QTest::newRow("key longer than the path field")
        << "listing-long-key" << QStringList{"a.backup"} << "" << QStringList{skipped};
    QTest::newRow("document declared Latin-1")
        << "listing-latin1" << QStringList{QStringLiteral("relatório.backup")} << "" << QStringList{};
    QTest::newRow("page over the cap")
        << "listing-over-cap" << QStringList{}
        << "Cannot list bucket \"listing-over-cap\": a listing page is larger than 64 MiB" << QStringList{};
}

void TestHostileListings::showsWhatCanBeNamed() {
    QFETCH(QString, bucket);
    QFETCH(QStringList, shown);
    QFETCH(QString, error);
    QFETCH(QStringList, logged);
    TCatalogueTable table;
    table.Append({QStringLiteral("old row"), {}, 1, {}, 0, {}});
    TS3ConnectionInfo info = FaultConnection();
    QStringList log;

    QCOMPARE(ErrorOf([&] {
                 FillCatalogue(table, info, bucket + QStringLiteral("/db"), {}, ServicePageSize,
                               [&log](const QString& message) { log.append(message); });
             }),
             error);
    QCOMPARE(ShownNames(table), shown);
    QCOMPARE(log, logged);
}

void TestHostileListings::downloadsAKeyOfALatin1Listing() {
    TCatalogueTable table;
    TS3ConnectionInfo info = FaultConnection();
    FillCatalogue(table, info, QStringLiteral("listing-latin1/db"));
    const QString key = table.FieldAsText(TCatalogueField::Path);
    QCOMPARE(key, QStringLiteral("db/relatório.backup"));

    // The key goes back exactly as listed: the server answers only that key, sent as UTF-8.
    TS3StorageService service(info);
    TS3MemoryStream stream;
    QVERIFY(service.GetObject(QStringLiteral("listing-latin1"), key, stream));
    QCOMPARE(stream.Data(), "latin");
}

QTEST_GUILESS_MAIN(TestHostileListings)
#include "TestHostileListings.moc"
