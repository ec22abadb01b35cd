#include "storage/S3BodySinks.h"
#include "storage/S3ListingReader.h"
#include "support/ErrorOf.h"
#include "support/ListedKeys.h"

#include <QStringEncoder>
#include <QTest>

namespace {

QString Listing(const QString& children) {
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<ListBucketResult xmlns=\"http://doc.s3.amazonaws.com/2006-03-01/\">"
                          "<Name>backups</Name>%1</ListBucketResult>")
        .arg(children);
}

// The reader takes the answer's bytes; the tables hold text, sent as UTF-8.
TS3ListingPageAnswer Read(const QString& text) {
    return ReadListingPage(text.toUtf8());
}

QString Contents(const QString& key, const QString& size = QStringLiteral("5")) {
    return QStringLiteral("<Contents><Key>%1</Key><LastModified>2023-11-18T03:00:00.000Z</LastModified>"
                          "<ETag>&quot;e1&quot;</ETag><Size>%2</Size><StorageClass>STANDARD</StorageClass>"
                          "</Contents>")
        .arg(key, size);
}

} // namespace

class TestListingReader : public QObject {
    Q_OBJECT

  private slots:
    void judgesAnswers_data();
    void judgesAnswers();
    void readsObjects_data();
    void readsObjects();
    void readsPageFields();
    void readsVersionListing();
    void rejectsBadSizes_data();
    void rejectsBadSizes();
    void decodesAnswers_data();
    void decodesAnswers();
    void refusesUnknownEncodings();
    void skipsKeysThatAreNotText_data();
    void skipsKeysThatAreNotText();
    void capsTheAnswer();
};

void TestListingReader::judgesAnswers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isListing");
    QTest::addColumn<QString>("errorCode");
    QTest::addColumn<QString>("errorMessage");
    QTest::newRow("listing") << Listing({}) << true << ""
                             << "";
    QTest::newRow("root name in other letter case")
        << "<listbucketresult><Name>b</Name></listbucketresult>" << true << ""
        << "";
    QTest::newRow("version listing") << "<ListVersionsResult><Name>b</Name></ListVersionsResult>" << true
                                     << ""
                                     << "";
    QTest::newRow("empty text") << "" << false << ""
                                << "";
    QTest::newRow("not well-formed") << "<ListBucketResult><Name>b</Name>" << false << ""
                                     << "";
    QTest::newRow("bucket list of the endpoint")
        << "<ListAllMyBucketsResult><Owner><ID>1</ID></Owner></ListAllMyBucketsResult>" << false << ""
        << "";
    QTest::newRow("no Name") << "<ListBucketResult><Prefix>db/</Prefix></ListBucketResult>" << false << ""
                             << "";
    QTest::newRow("Name in other letter case")
        << "<ListBucketResult><name>b</name></ListBucketResult>" << false << ""
        << "";
    QTest::newRow("empty Name") << "<ListBucketResult><Name></Name></ListBucketResult>" << false << ""
                                << "";
    QTest::newRow("error document")
        << "<?xml version=\"1.0\"?><Error><Code>NoSuchBucket</Code><Message>The specified bucket does not "
           "exist</Message><BucketName>b</BucketName></Error>"
        << false << "NoSuchBucket"
        << "The specified bucket does not exist";
}

void TestListingReader::judgesAnswers() {
    QFETCH(QString, text);
    QFETCH(bool, isListing);
    QFETCH(QString, errorCode);
    QFETCH(QString, errorMessage);
    const TS3ListingPageAnswer answer = Read(text);
    QCOMPARE(answer.Page.has_value(), isListing);
    QCOMPARE(answer.Error.has_value(), !errorCode.isEmpty());
    if (answer.Error) {
        QCOMPARE(answer.Error->Code, errorCode);
        QCOMPARE(answer.Error->Message, errorMessage);
    }
}

void TestListingReader::readsObjects_data() {
    QTest::addColumn<QString>("children");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<qint64>>("sizes");
    QTest::newRow("document order, deeper keys, folder marker")
        << Contents("db/b.backup", "7") + Contents("db/", "0") +
               Contents("db/old/a.backup", "9007199254740993")
        << QStringList{"db/b.backup", "db/", "db/old/a.backup"} << QList<qint64>{7, 0, 9007199254740993};
    QTest::newRow("references and CDATA resolved")
        << Contents("db/a&amp;b&lt;c&#233;.backup") + Contents("db/<![CDATA[x&y]]>.backup")
        << QStringList{QStringLiteral("db/a&b<cé.backup"), "db/x&y.backup"} << QList<qint64>{5, 5};
    QTest::newRow("key of blanks kept") << Contents("   ") << QStringList{"   "} << QList<qint64>{5};
    QTest::newRow("element names in any letter case")
        << "<CONTENTS><key>db/a</key><SIZE>3</SIZE></CONTENTS>" << QStringList{"db/a"} << QList<qint64>{3};
    QTest::newRow("contents without key or children left out")
        << "<Contents/><Contents><Size>4</Size></Contents>" + Contents("db/a") << QStringList{"db/a"}
        << QList<qint64>{5};
    QTest::newRow("negative size") << Contents("db/a", "-1") << QStringList{"db/a"} << QList<qint64>{-1};
}

void TestListingReader::readsObjects() {
    QFETCH(QString, children);
    QFETCH(QStringList, names);
    QFETCH(QList<qint64>, sizes);
    const TS3ListingPageAnswer answer = Read(Listing(children));
    QVERIFY(answer.Page);
    QList<qint64> actualSizes;
    for (const TS3ListedObject& object : answer.Page->Objects)
        actualSizes.append(object.Size);
    QCOMPARE(ListedKeys(*answer.Page), names);
    QCOMPARE(actualSizes, sizes);
    QCOMPARE(answer.Page->LastKey, names.last().toUtf8());
}

void TestListingReader::readsPageFields() {
    const QByteArray bytes =
        Listing("<IsTruncated>true</IsTruncated><NextMarker>db/a&amp;z</NextMarker>" + Contents("db/a") +
                "<Contents><Key>db/b</Key><LastModified>2023-11-19T04:00:00.000Z"
                "</LastModified><Size>7</Size></Contents>")
            .toUtf8();
    const TS3ListingPageAnswer answer = ReadListingPage(bytes);
    QVERIFY(answer.Page);
    const TS3ListingPage& page = *answer.Page;
    QVERIFY(page.IsTruncated);
    QCOMPARE(page.NextMarker, "db/a&z");
    QCOMPARE(page.Objects.size(), size_t(2));
    QCOMPARE(page.Objects[1].LastModified, "2023-11-19T04:00:00.000Z");
    QCOMPARE(page.Objects[1].Size, 7);
    QVERIFY(!Read(Listing("<IsTruncated>False</IsTruncated>")).Page->IsTruncated);
    QVERIFY(!Read(Listing({})).Page->IsTruncated);
}

// Each version of a version listing is an object of its own.
void TestListingReader::readsVersionListing() {
    const TS3ListingPageAnswer answer = Read(
        "<ListVersionsResult><Name>b</Name><KeyMarker>db/a</KeyMarker><VersionIdMarker>v1</VersionIdMarker>"
        "<Version><Key>db/a</Key><VersionId>v2</VersionId><IsLatest>true</IsLatest><Size>3</Size></Version>"
        "<Version><Key>db/a</Key><VersionId>v1</VersionId><IsLatest>false</IsLatest><Size>2</Size></Version>"
        "</ListVersionsResult>");
    QVERIFY(answer.Page);
    QCOMPARE(ListedKeys(*answer.Page), QStringList({"db/a", "db/a"}));
    QCOMPARE(answer.Page->Objects[0].Size, 3);
    QCOMPARE(answer.Page->Objects[1].Size, 2);
}

void TestListingReader::rejectsBadSizes_data() {
    QTest::addColumn<QString>("size");
    QTest::newRow("letters") << "12a";
    QTest::newRow("empty") << "";
    QTest::newRow("beyond 64 bits") << "9223372036854775808";
    QTest::newRow("fraction") << "1.5";
}

void TestListingReader::rejectsBadSizes() {
    QFETCH(QString, size);
    QCOMPARE(ErrorOf([&] { Read(Listing(Contents("db/a", size))); }),
             QStringLiteral("'%1' is not a valid integer value").arg(size));
}

void TestListingReader::decodesAnswers_data() {
    QTest::addColumn<QByteArray>("bytes");
    const QString text = Listing(Contents(QStringLiteral("db/é.backup")));
    QTest::newRow("UTF-8 without mark") << text.toUtf8();
    QTest::newRow("UTF-8 with mark") << QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    QStringEncoder utf16(QStringConverter::Utf16LE, QStringEncoder::Flag::WriteBom);
    QTest::newRow("UTF-16 with mark") << QByteArray(utf16.encode(text));
    QStringEncoder utf16be(QStringConverter::Utf16BE);
    QTest::newRow("UTF-16 big-endian without mark") << QByteArray(utf16be.encode(text));
    const QByteArray body = Listing(Contents(QStringLiteral("db/\u00e9.backup"))).toLatin1();
    const QByteArray latin1 = body.sliced(body.indexOf("?>"));
    QTest::newRow("Latin-1 declared") << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"" + latin1;
    QTest::newRow("latin1 declared, other letter case, single quotes")
        << "<?xml version='1.0' encoding = 'LATIN1'" + latin1;
}

void TestListingReader::decodesAnswers() {
    QFETCH(QByteArray, bytes);
    TS3ListingSink sink;
    sink.Append(bytes.constData(), bytes.size() / 2);
    sink.Append(bytes.constData() + bytes.size() / 2, bytes.size() - bytes.size() / 2);
    const QByteArray received = sink.TakeBytes();

    const TS3ListingPageAnswer answer = ReadListingPage(received);
    QVERIFY(answer.Page);
    QCOMPARE(ListedKeys(*answer.Page), QStringList({QStringLiteral("db/é.backup")}));
}

void TestListingReader::refusesUnknownEncodings() {
    const QByteArray bytes =
        "<?xml version=\"1.0\" encoding=\"windows-1252\"?>" + Listing(Contents("db/a")).sliced(38).toUtf8();
    QCOMPARE(ErrorOf([&] { ReadListingPage(bytes); }),
             QStringLiteral("The listing is in an encoding that cannot be read: windows-1252"));
}

void TestListingReader::skipsKeysThatAreNotText_data() {
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QString>("kept"); // the key as read, or empty when it is left out
    QTest::newRow("reference to NUL") << QByteArray("db/a&#0;b") << "";
    QTest::newRow("hexadecimal reference to NUL") << QByteArray("db/&#x000;") << "";
    QTest::newRow("reference wrapping to NUL") << QByteArray("db/&#4294967296;") << "";
    QTest::newRow("reference to a surrogate") << QByteArray("db/&#xD800;") << "";
    QTest::newRow("reference beyond Unicode") << QByteArray("db/&#x110000;") << "";
    QTest::newRow("byte that is not UTF-8") << QByteArray("db/\xFF") << "";
    QTest::newRow("overlong UTF-8") << QByteArray("db/\xC0\xAF") << "";
    QTest::newRow("encoded surrogate") << QByteArray("db/\xED\xA0\x80") << "";
    QTest::newRow("escaped reference text") << QByteArray("db/&amp;#0;") << "db/&#0;";
    QTest::newRow("reference text in CDATA") << QByteArray("db/<![CDATA[&#0;]]>") << "db/&#0;";
    QTest::newRow("reference beyond the BMP") << QByteArray("db/&#x1F600;") << "db/😀";
}

void TestListingReader::skipsKeysThatAreNotText() {
    QFETCH(QByteArray, key);
    QFETCH(QString, kept);
    const QByteArray bytes =
        Listing(Contents("db/0") + "%1" + Contents("db/9"))
            .toUtf8()
            .replace("%1", QByteArray("<Contents><Key>" + key + "</Key><Size>5</Size></Contents>"));
    QStringList expected{"db/0", "db/9"};
    if (!kept.isEmpty())
        expected.insert(1, kept);

    const TS3ListingPageAnswer answer = ReadListingPage(bytes);
    QVERIFY(answer.Page);
    QCOMPARE(ListedKeys(*answer.Page), expected);
    QCOMPARE(answer.Page->SkippedKeys, kept.isEmpty() ? 1 : 0);
}

void TestListingReader::capsTheAnswer() {
    TS3ListingSink sink(10);
    sink.Append("0123456", 7);
    sink.Append("789", 3);
    QVERIFY_THROWS_EXCEPTION(TS3ListingTooLarge, sink.Append("x", 1));
    sink.Restart();
    sink.Append("0123456789", 10);
    QCOMPARE(sink.TakeBytes(), "0123456789");
}

QTEST_GUILESS_MAIN(TestListingReader)
#include "TestListingReader.moc"
