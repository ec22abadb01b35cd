#include "storage/S3BodySinks.h"
#include "storage/S3ListingReader.h"
#include "support/ErrorOf.h"

#include <QStringEncoder>
#include <QTest>

namespace {

QString Listing(const QString& children) {
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<ListBucketResult xmlns=\"http://doc.s3.amazonaws.com/2006-03-01/\">"
                          "<Name>backups</Name>%1</ListBucketResult>")
        .arg(children);
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
    void readsListingFields();
    void readsVersionListing();
    void rejectsBadSizes_data();
    void rejectsBadSizes();
    void decodesTextAnswers_data();
    void decodesTextAnswers();
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
    const TS3ListingAnswer answer = ReadListingAnswer(text);
    QCOMPARE(answer.Listing.has_value(), isListing);
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
    const TS3ListingAnswer answer = ReadListingAnswer(Listing(children));
    QVERIFY(answer.Listing);
    QStringList actualNames;
    QList<qint64> actualSizes;
    for (const TS3ObjectResult& object : answer.Listing->Objects) {
        actualNames.append(object.Name);
        actualSizes.append(object.Size);
    }
    QCOMPARE(actualNames, names);
    QCOMPARE(actualSizes, sizes);
}

void TestListingReader::readsListingFields() {
    const TS3ListingAnswer answer = ReadListingAnswer(Listing(
        "<Prefix>db/</Prefix><Marker>db/a</Marker><NextMarker>db/z</NextMarker><MaxKeys>1000</MaxKeys>"
        "<Delimiter>/</Delimiter><IsTruncated>TRUE</IsTruncated><VersionIdMarker>v</VersionIdMarker>"
        "<Contents><Key>db/a.backup</Key><LastModified>2023-11-18T03:00:00.000Z</LastModified>"
        "<ETag>&quot;e1&quot;</ETag><Size>5</Size><StorageClass>STANDARD</StorageClass>"
        "<Owner><ID>42</ID><displayname>ignored</displayname></Owner></Contents>"
        "<CommonPrefixes><Prefix>db/old/</Prefix><Prefix></Prefix></CommonPrefixes>"
        "<CommonPrefixes><prefix>db/new/</prefix></CommonPrefixes>"));
    QVERIFY(answer.Listing);
    const TS3BucketResult& result = *answer.Listing;
    QCOMPARE(result.Name, "backups");
    QCOMPARE(result.RequestPrefix, "db/");
    QCOMPARE(result.Marker, "db/a");
    QCOMPARE(result.NextMarker, "db/z");
    QCOMPARE(result.RequestMaxKeys, 1000);
    QCOMPARE(result.RequestDelimiter, "/");
    QVERIFY(result.IsTruncated);
    QCOMPARE(result.VersionIdMarker, "");
    QCOMPARE(result.Prefixes, QStringList({"db/old/", "db/new/"}));
    QCOMPARE(result.Objects.size(), 1);
    const TS3ObjectResult& object = result.Objects.first();
    QCOMPARE(object.LastModified, "2023-11-18T03:00:00.000Z");
    QCOMPARE(object.ETag, "\"e1\"");
    QCOMPARE(object.StorageClass, "STANDARD");
    QCOMPARE(object.OwnerID, "42");
    QCOMPARE(object.OwnerDisplayName, "");

    QVERIFY(!ReadListingAnswer(Listing("<IsTruncated>False</IsTruncated>")).Listing->IsTruncated);
    QVERIFY(!ReadListingAnswer(Listing({})).Listing->IsTruncated);
    QCOMPARE(ReadListingAnswer(Listing("<MaxKeys>many</MaxKeys>")).Listing->RequestMaxKeys, 0);
}

void TestListingReader::readsVersionListing() {
    const TS3ListingAnswer answer = ReadListingAnswer(
        "<ListVersionsResult><Name>b</Name><KeyMarker>db/a</KeyMarker><VersionIdMarker>v1</VersionIdMarker>"
        "<Version><Key>db/a</Key><VersionId>v2</VersionId><IsLatest>true</IsLatest><Size>3</Size></Version>"
        "<Version><Key>db/a</Key><VersionId>v1</VersionId><IsLatest>false</IsLatest><Size>2</Size></Version>"
        "</ListVersionsResult>");
    QVERIFY(answer.Listing);
    QCOMPARE(answer.Listing->Marker, "db/a");
    QCOMPARE(answer.Listing->VersionIdMarker, "v1");
    QCOMPARE(answer.Listing->Objects.size(), 2);
    QCOMPARE(answer.Listing->Objects[0].VersionId, "v2");
    QVERIFY(answer.Listing->Objects[0].IsLatest);
    QVERIFY(!answer.Listing->Objects[1].IsLatest);
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
    QCOMPARE(ErrorOf([&] { ReadListingAnswer(Listing(Contents("db/a", size))); }),
             QStringLiteral("'%1' is not a valid integer value").arg(size));
}

void TestListingReader::decodesTextAnswers_data() {
    QTest::addColumn<QByteArray>("bytes");
    const QString text = QStringLiteral("<Key>é</Key>");
    QTest::newRow("UTF-8 without mark") << text.toUtf8();
    QTest::newRow("UTF-8 with mark") << QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    QStringEncoder utf16(QStringConverter::Utf16LE, QStringEncoder::Flag::WriteBom);
    QTest::newRow("UTF-16 with mark") << QByteArray(utf16.encode(text));
}

void TestListingReader::decodesTextAnswers() {
    QFETCH(QByteArray, bytes);
    TS3TextSink sink;
    sink.Append(bytes.constData(), bytes.size() / 2);
    sink.Append(bytes.constData() + bytes.size() / 2, bytes.size() - bytes.size() / 2);
    QCOMPARE(sink.Text(), QStringLiteral("<Key>é</Key>"));
}

QTEST_GUILESS_MAIN(TestListingReader)
#include "TestListingReader.moc"
