#include "catalogue/CatalogueTimestamp.h"
#include "support/ErrorOf.h"

#include <QTest>

class TestCatalogueTimestamp : public QObject {
    Q_OBJECT

  private slots:
    void readsAndMoves_data();
    void readsAndMoves();
    void namesTheUnreadablePart_data();
    void namesTheUnreadablePart();
    void readsBytesAsText_data();
    void readsBytesAsText();
    void writesTheFormS3Sends_data();
    void writesTheFormS3Sends();
};

void TestCatalogueTimestamp::readsAndMoves_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // wall time at UTC-03:00

    QTest::newRow("early UTC moves back a day") << "2023-11-20T01:30:00.000Z"
                                                << "2023-11-19 22:30:00.000";
    QTest::newRow("03:00 UTC is midnight") << "2023-11-20T03:00:00.000Z"
                                           << "2023-11-20 00:00:00.000";
    QTest::newRow("positive offset removed") << "2023-11-20T12:00:00+02:00"
                                             << "2023-11-20 07:00:00.000";
    QTest::newRow("negative offset without colon") << "2023-11-20T12:00:00-0230"
                                                   << "2023-11-20 11:30:00.000";
    QTest::newRow("offset in hours only") << "2023-11-20T12:00:00+05"
                                          << "2023-11-20 04:00:00.000";
    QTest::newRow("offset moves into the next day") << "2023-11-20T23:30:00-05:00"
                                                    << "2023-11-21 01:30:00.000";
    QTest::newRow("no zone is UTC") << "2023-11-20T12:00:00"
                                    << "2023-11-20 09:00:00.000";
    QTest::newRow("no time is midnight UTC") << "2023-11-20"
                                             << "2023-11-19 21:00:00.000";
    QTest::newRow("short fraction") << "2023-11-20T12:00:00.5Z"
                                    << "2023-11-20 09:00:00.500";
    QTest::newRow("long fraction kept to the millisecond") << "2023-11-20T12:00:00.999999Z"
                                                           << "2023-11-20 09:00:00.999";
    QTest::newRow("fraction of more digits than a number holds")
        << "2023-11-20T12:00:00.12345678901234567890123Z"
        << "2023-11-20 09:00:00.123";
    QTest::newRow("leap day") << "2024-03-01T01:00:00Z"
                              << "2024-02-29 22:00:00.000";
    QTest::newRow("year boundary") << "2024-01-01T00:00:00.000Z"
                                   << "2023-12-31 21:00:00.000";
}

void TestCatalogueTimestamp::readsAndMoves() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const QDateTime moved = ToCatalogueZone(ReadIsoTimestamp(text));
    QCOMPARE(moved.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")), expected);
    QCOMPARE(moved.offsetFromUtc(), -3 * 3600);
}

void TestCatalogueTimestamp::namesTheUnreadablePart_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");

    QTest::newRow("empty") << ""
                           << "Invalid date string: ";
    QTest::newRow("date without dashes") << "20231120T120000Z"
                                         << "Invalid date string: 20231120";
    QTest::newRow("no such day") << "2023-02-30T00:00:00Z"
                                 << "Invalid date string: 2023-02-30";
    QTest::newRow("leading blank") << " 2023-11-20T00:00:00Z"
                                   << "Invalid date string:  2023-11-20";
    QTest::newRow("non-ASCII digits") << "２０２３-11-20"
                                      << "Invalid date string: ２０２３-11-20";
    QTest::newRow("hour out of range") << "2023-11-20T25:00:00Z"
                                       << "Invalid time string: 25:00:00";
    QTest::newRow("no seconds") << "2023-11-20T12:00Z"
                                << "Invalid time string: 12:00";
    QTest::newRow("dot without fraction") << "2023-11-20T12:00:00.Z"
                                          << "Invalid time string: 12:00:00.";
    QTest::newRow("nothing after T") << "2023-11-20T"
                                     << "Invalid time string: ";
    QTest::newRow("lower-case zone letter") << "2023-11-20T12:00:00z"
                                            << "Invalid time string: 12:00:00z";
    QTest::newRow("one-digit offset hour") << "2023-11-20T12:00:00+2:00"
                                           << "Invalid time Offset string: +2:00";
    QTest::newRow("offset minutes out of range") << "2023-11-20T12:00:00-02:60"
                                                 << "Invalid time Offset string: -02:60";
    QTest::newRow("bad time named before bad offset") << "2023-11-20T1x:00:00+zz"
                                                      << "Invalid time string: 1x:00:00";
}

void TestCatalogueTimestamp::namesTheUnreadablePart() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    QCOMPARE(ErrorOf([&] { ReadIsoTimestamp(text); }), message);
}

void TestCatalogueTimestamp::readsBytesAsText_data() {
    QTest::addColumn<QString>("text");
    for (const char* text :
         {"2023-11-20T01:30:00.000Z", "2024-02-29T23:59:59.999Z", "1969-12-31T23:59:59.999Z",
          "0001-01-01T00:00:00.000Z", "9999-12-31T23:59:59.999Z", "2023-11-20T12:00:00+02:00", "2023-11-20",
          "2023-02-29T00:00:00.000Z", "2100-02-29T00:00:00.000Z", "0000-01-01T00:00:00.000Z",
          "2023-11-20T24:00:00.000Z", "2023-11-20T12:60:00.000Z", "2023-11-20T12:00:60.000Z",
          "2023-13-01T00:00:00.000Z", "2023-11-20T12:00:00.000z", "2023-11-20T12:00:00.0a0Z",
          "２０２３-11-20"})
        QTest::newRow(qPrintable(text)) << text;
}

void TestCatalogueTimestamp::readsBytesAsText() {
    QFETCH(QString, text);
    qint64 expected = 0;
    QString expectedError;
    try {
        expected = ReadIsoTimestamp(text).toMSecsSinceEpoch();
    } catch (const std::runtime_error& error) {
        expectedError = QString::fromUtf8(error.what());
    }
    try {
        QCOMPARE(ReadIsoTimestampMsecs(text.toUtf8()), expected);
        QVERIFY2(expectedError.isEmpty(), qPrintable(expectedError));
    } catch (const std::runtime_error& error) {
        QCOMPARE(QString::fromUtf8(error.what()), expectedError);
    }
}

void TestCatalogueTimestamp::writesTheFormS3Sends_data() {
    QTest::addColumn<QString>("text");
    for (const char* text :
         {"2023-11-20T01:30:00.000Z", "2024-02-29T23:59:59.999Z", "1969-12-31T23:59:59.999Z",
          "0001-01-01T00:00:00.000Z", "9999-12-31T23:59:59.999Z", "1970-01-01T00:00:00.000Z"})
        QTest::newRow(qPrintable(text)) << text;
}

void TestCatalogueTimestamp::writesTheFormS3Sends() {
    QFETCH(QString, text);
    const auto written = CanonicalTimestampText(ReadIsoTimestampMsecs(text.toUtf8()));
    QVERIFY(written);
    QCOMPARE(QByteArray(written->data(), 24), text.toUtf8());
    QVERIFY(!CanonicalTimestampText(ReadIsoTimestampMsecs("0001-01-01T00:00:00.000Z") - 1));
    QVERIFY(!CanonicalTimestampText(ReadIsoTimestampMsecs("9999-12-31T23:59:59.999Z") + 1));
}

QTEST_GUILESS_MAIN(TestCatalogueTimestamp)
#include "TestCatalogueTimestamp.moc"
