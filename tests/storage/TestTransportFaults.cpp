#include "storage/S3RequestSigner.h"
#include "storage/S3StorageService.h"
#include "support/ErrorOf.h"
#include "support/FixturePort.h"
#include "support/MemoryStream.h"
#include "support/TestKeys.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <span>

namespace {

// The fault server answers by the first segment of the key (see tools/s3-fault-server).
const QString Bucket = QStringLiteral("b");

// A loopback port on which nothing listens: bound once by the system, then released.
quint16 ClosedPort() {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(socket, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(socket);
    return ntohs(address.sin_port);
}

TS3ConnectionInfo Connection(quint16 port) {
    return TestConnection(QStringLiteral("s3.localhost:%1").arg(port));
}

// Short limits keep the stalled answers quick.
const TS3TransportLimits ShortLimits{std::chrono::milliseconds(2000), std::chrono::seconds(1), {}};
const QString StalledMessage =
    QStringLiteral("The server b.s3.localhost sent nothing for 1 s, so the request was ended");

// A token of its own for each use, so that no earlier run's requests count.
QString UniqueToken(const QString& stem) {
    static int counter = 0;
    return QStringLiteral("%1-%2-%3-%4")
        .arg(stem)
        .arg(QCoreApplication::applicationPid())
        .arg(QDateTime::currentMSecsSinceEpoch())
        .arg(++counter);
}

QByteArray Pattern(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(i % 256);
    return bytes;
}

// Asks the fault server for the next block of a paced answer each time the stream has received the
// whole of the current one.
class TReleasingStream : public TS3MemoryStream {
  public:
    TReleasingStream(const QList<qint64>& blocks, std::function<void()> release)
        : FRelease(std::move(release)) {
        qint64 end = 0;
        for (const qint64 size : blocks)
            FBlockEnds.append(end += size);
    }

    using TS3MemoryStream::Write;
    qint64 Write(std::span<const char> buffer, qint64 offset, qint64 count) override {
        const qint64 written = TS3MemoryStream::Write(buffer, offset, count);
        while (FReleased < FBlockEnds.size() - 1 && Size() >= FBlockEnds[FReleased]) {
            ++FReleased;
            FRelease();
        }
        return written;
    }

  private:
    std::function<void()> FRelease;
    QList<qint64> FBlockEnds;
    qsizetype FReleased = 0;
};

} // namespace

class TestTransportFaults : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { FInfo = Connection(FixturePort(QStringLiteral("s3_fault_server"))); }
    void sendsExactlyTheSignedRequest();
    void followsRedirectsOfGet_data();
    void followsRedirectsOfGet();
    void neverFollowsRedirectsOfHead();
    void witnessRecordsWhatReachesIt();
    void refusesRedirectsElsewhere_data();
    void refusesRedirectsElsewhere();
    void readsAnswerHeaders();
    void reportsBrokenTransfers_data();
    void reportsBrokenTransfers();
    void reportsRefusedConnections();
    void endsDrippingAnswers_data();
    void endsDrippingAnswers();
    void refusesHostsItCannotTakeApart_data();
    void refusesHostsItCannotTakeApart();
    void writesErrorAnswersIntoStream();
    void writesBlocksAsTheyArrive();
    void repeatsShortWrites();
    void reportsStreamWriteErrors_data();
    void reportsStreamWriteErrors();

  private:
    // What the fault server's second listener, the other host of the redirects, received with token in
    // its request line.
    QByteArray Witnessed(const QString& token);
    quint16 WitnessPort();

    TS3ConnectionInfo FInfo;
};

QByteArray TestTransportFaults::Witnessed(const QString& token) {
    TS3StorageService service(FInfo, ShortLimits);
    TS3MemoryStream stream;
    if (!service.GetObject(Bucket, "witnessed/" + token, stream))
        throw std::runtime_error("The fault server did not say what its witness received");
    return stream.Data();
}

quint16 TestTransportFaults::WitnessPort() {
    TS3StorageService service(FInfo, ShortLimits);
    TS3MemoryStream stream;
    if (!service.GetObject(Bucket, "witness-port", stream))
        throw std::runtime_error("The fault server did not name its witness's port");
    return quint16(stream.Data().toUInt());
}

void TestTransportFaults::sendsExactlyTheSignedRequest() {
    const QDateTime now = QDateTime::currentDateTimeUtc().addSecs(-3600);
    TS3StorageService service(FInfo, ShortLimits);
    service.SetClock([now] { return now; });
    const QString key = QStringLiteral("echo/db/my backup é.backup");
    TS3MemoryStream stream;
    QVERIFY(service.GetObject(Bucket, key, stream));

    const QList<QByteArray> lines = stream.Data().trimmed().split('\n');
    QCOMPARE(lines.first().trimmed(), "GET /echo/db/my%20backup%20%C3%A9.backup HTTP/1.1");
    QMap<QByteArray, QByteArray> headers;
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        headers.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
    }
    const TS3Request expected = MakeSignedRequest(FInfo, TS3RequestSigner(FInfo), "GET", Bucket,
                                                  FInfo.StorageURL(Bucket) + u'/' + key, now);
    QCOMPARE(headers.keys(),
             QByteArrayList({"authorization", "host", "user-agent", "x-amz-content-sha256", "x-amz-date"}));
    QCOMPARE(headers["host"], FInfo.VirtualHost(Bucket).toUtf8());
    QCOMPARE(headers["x-amz-date"], FormatAmzDate(now).toUtf8());
    QCOMPARE(headers["x-amz-content-sha256"], S3EmptyContentSha256);
    QCOMPARE(headers["authorization"], expected.Headers.Value("Authorization").toUtf8());
}

void TestTransportFaults::followsRedirectsOfGet_data() {
    QTest::addColumn<int>("redirects");
    QTest::addColumn<QString>("message");
    QTest::newRow("one") << 1 << "";
    QTest::newRow("five, with relative and absolute locations") << 5 << "";
    QTest::newRow("the sixth is not followed") << 6 << "Maximum number of redirections (5) exceeded";
}

// Only the final answer's body stays in the stream, after what it held before.
void TestTransportFaults::followsRedirectsOfGet() {
    QFETCH(int, redirects);
    QFETCH(QString, message);
    TS3StorageService service(FInfo, ShortLimits);
    TS3MemoryStream stream;
    stream.Write("KEEP", 4);
    bool obtained = false;
    QCOMPARE(ErrorOf([&] {
                 obtained = service.GetObject(
                     Bucket, QStringLiteral("redirect/%1/db/a.backup").arg(redirects), stream);
             }),
             message);
    QCOMPARE(stream.Position(), 4);
    if (message.isEmpty()) {
        QVERIFY(obtained);
        QCOMPARE(stream.Data(), "KEEPfinal");
        QCOMPARE(service.LastStatusCode(), 200);
    }
}

void TestTransportFaults::neverFollowsRedirectsOfHead() {
    TS3StorageService service(FInfo, ShortLimits);
    TS3NameValueList properties;
    TS3NameValueList metadata;
    QVERIFY(!service.GetObjectProperties(Bucket, "head-redirect/db/a.backup", properties, metadata));
    QCOMPARE(service.LastStatusCode(), 302);
}

// The check the redirect table relies on: a request that does reach the witness shows up there.
void TestTransportFaults::witnessRecordsWhatReachesIt() {
    const QString token = UniqueToken(QStringLiteral("control"));
    TS3StorageService direct(Connection(WitnessPort()), ShortLimits);
    TS3MemoryStream stream;
    QVERIFY(direct.GetObject(Bucket, token + "/db/a.backup", stream));
    QCOMPARE(stream.Data(), "witnessed");
    const QByteArray witnessed = Witnessed(token);
    QVERIFY(witnessed.startsWith(QByteArray("GET /" + token.toUtf8() + "/db/a.backup HTTP/1.1")));
    QVERIFY(witnessed.contains("Authorization: AWS4-HMAC-SHA256"));
}

// Redirects away from the server the request was signed for end with an error, and the other host
// receives nothing: no signature, no access key ID, no connection at all. In the messages, <witness> is
// the other host's port, <port> the fault server's and <token> the row's own token.
void TestTransportFaults::refusesRedirectsElsewhere_data() {
    QTest::addColumn<bool>("head");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    const QString refused = QStringLiteral("Redirect to \"%1/<token>/db/a.backup\" refused: a signed request "
                                           "is only sent again to the server it "
                                           "was made for");
    QTest::newRow("other host") << false << "other-host" << refused.arg("http://127.0.0.1:<witness>");
    QTest::newRow("other host, HEAD") << true << "other-host" << refused.arg("http://127.0.0.1:<witness>");
    QTest::newRow("same host name, other port")
        << false << "other-port" << refused.arg("http://b.s3.localhost:<witness>");
    QTest::newRow("scheme-relative") << false << "scheme-relative"
                                     << refused.arg("http://127.0.0.1:<witness>");
    QTest::newRow("our host as user information")
        << false << "user-info" << refused.arg("http://b.s3.localhost:<port>@127.0.0.1:<witness>");
    QTest::newRow("S3 region: 301 PermanentRedirect")
        << false << "permanent-region"
        << "The bucket is in another region: the service names the endpoint \"b.s3.eu-west-1.amazonaws.com\"";
    QTest::newRow("S3 region: 301 of a HEAD")
        << true << "permanent-region"
        << "The bucket is in another region: the service names the region \"eu-west-1\"";
    QTest::newRow("S3 region: 307 to a regional host")
        << false << "temporary-region"
        << "The bucket is in another region: the service names the endpoint "
           "\"b.s3-eu-west-1.localhost:<witness>\"";
    QTest::newRow("S3 region: 307 of a HEAD") << true << "temporary-region"
                                              << "The bucket is in another region: the service names the "
                                                 "endpoint \"b.s3-eu-west-1.localhost:<witness>\"";
}

void TestTransportFaults::refusesRedirectsElsewhere() {
    QFETCH(bool, head);
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const QString token = UniqueToken(kind);
    const QString key = QStringLiteral("away/%1/%2/db/a.backup").arg(kind, token);
    TS3StorageService service(FInfo, ShortLimits);
    QString error;
    if (head) {
        TS3NameValueList properties;
        TS3NameValueList metadata;
        error = ErrorOf([&] { service.GetObjectProperties(Bucket, key, properties, metadata); });
    } else {
        TS3MemoryStream stream;
        error = ErrorOf([&] { service.GetObject(Bucket, key, stream); });
    }
    QCOMPARE(Witnessed(token), QByteArray());
    QCOMPARE(error, QString(message)
                        .replace(QStringLiteral("<token>"), token)
                        .replace(QStringLiteral("<witness>"), QString::number(WitnessPort()))
                        .replace(QStringLiteral("<port>"),
                                 QString::number(FixturePort(QStringLiteral("s3_fault_server")))));
}

void TestTransportFaults::readsAnswerHeaders() {
    TS3StorageService service(FInfo, ShortLimits);
    TS3NameValueList properties;
    TS3NameValueList metadata;
    QVERIFY(service.GetObjectProperties(Bucket, "object/10/db/a.backup", properties, metadata));
    QCOMPARE(properties.Value("Content-Length"), "10");
    QCOMPARE(properties.Value("x-repeated"), "one, two");
    QVERIFY(!properties.Contains("Set-Cookie"));
    QVERIFY(!properties.Contains("X-Empty"));
    QVERIFY(!properties.Contains("x-amz-meta-origin"));
    QCOMPARE(metadata.Entries(), (QList<QPair<QString, QString>>{{"origin", "fault-server"}}));
}

void TestTransportFaults::reportsBrokenTransfers_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("bytesKept");
    QTest::newRow("body cut off") << "cut/1000/2000/x"
                                  << "Error reading data: (18) Transferred a partial file" << 1000;
    QTest::newRow("closed before the header")
        << "close/x"
        << "The storage service at b.s3.localhost did not answer the request: Error receiving data: (52) "
           "Server returned nothing (no headers, no data)"
        << 0;
    QTest::newRow("no header in time") << "stall-header/x" << StalledMessage << 0;
    QTest::newRow("body stalls") << "stall-body/1/x" << StalledMessage << 1;
}

void TestTransportFaults::reportsBrokenTransfers() {
    QFETCH(QString, key);
    QFETCH(QString, message);
    QFETCH(int, bytesKept);
    TS3StorageService service(FInfo, ShortLimits);
    TS3MemoryStream stream;
    stream.Write("KEEP", 4);
    QCOMPARE(ErrorOf([&] { service.GetObject(Bucket, key, stream); }), message);
    QCOMPARE(stream.Data(), "KEEP" + Pattern(bytesKept));
    QCOMPARE(stream.Position(), 4);
}

void TestTransportFaults::reportsRefusedConnections() {
    TS3StorageService service(Connection(ClosedPort()), ShortLimits);
    TS3NameValueList properties;
    TS3NameValueList metadata;
    QCOMPARE(ErrorOf([&] { service.GetObjectProperties(Bucket, "db/a.backup", properties, metadata); }),
             "Cannot reach the storage service at b.s3.localhost: connection refused");
    QCOMPARE(ErrorOf([&] {
                 service.GetListingPage(Bucket, {{"prefix", "db/"}});
             }),
             "Cannot reach the storage service at b.s3.localhost: connection refused");
}

// A server that sends a few bytes a second never stalls, yet would hold the request for hours: the
// rate over a window (shortened here) ends it, whether it drips the answer's headers or its body.
void TestTransportFaults::endsDrippingAnswers_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("what");
    QTest::newRow("headers") << "drip-header/x"
                             << "its answer's headers";
    QTest::newRow("body") << "drip-body/x"
                          << "its answer";
}

void TestTransportFaults::endsDrippingAnswers() {
    QFETCH(QString, key);
    QFETCH(QString, what);
    TS3TransportLimits limits{std::chrono::milliseconds(2000), std::chrono::seconds(20), {}};
    limits.RateWindow = std::chrono::milliseconds(1500);
    TS3StorageService service(FInfo, limits);
    TS3MemoryStream stream;
    const QString error = ErrorOf([&] { service.GetObject(Bucket, key, stream); });
    const QRegularExpression expected(
        QStringLiteral("^The server b\\.s3\\.localhost sent %1 too slowly: \\d+ bytes/s over 1\\.5 s, less "
                       "than the 1 KiB/s a transfer needs, so the request was ended$")
            .arg(QRegularExpression::escape(what)));
    QVERIFY2(expected.match(error).hasMatch(), qPrintable(error));
}

void TestTransportFaults::refusesHostsItCannotTakeApart_data() {
    QTest::addColumn<QString>("bucket");
    QTest::addColumn<QString>("message");
    QTest::newRow("colon without port")
        << "bucket:name"
        << "Invalid URL: \"http://bucket:name.s3.localhost:%1/?prefix=db%2F\"";
    QTest::newRow("blank in host") << "my bucket"
                                   << "Error connecting to server: my bucket.s3.localhost";
    QTest::newRow("user information") << "user@evil"
                                      << "Error connecting to server: user@evil.s3.localhost";
}

void TestTransportFaults::refusesHostsItCannotTakeApart() {
    QFETCH(QString, bucket);
    QFETCH(QString, message);
    TS3StorageService service(FInfo, ShortLimits);
    QCOMPARE(ErrorOf([&] {
                 service.GetListingPage(bucket, {{"prefix", "db/"}});
             }),
             message.arg(FixturePort(QStringLiteral("s3_fault_server"))));
    QCOMPARE(service.LastStatusCode(), 0);
}

void TestTransportFaults::writesErrorAnswersIntoStream() {
    TS3StorageService service(FInfo, ShortLimits);
    TS3MemoryStream stream;
    QVERIFY(!service.GetObject(Bucket, "forbidden/db/a.backup", stream));
    QCOMPARE(service.LastStatusCode(), 403);
    QVERIFY(stream.Data().contains("<Code>AccessDenied</Code>"));
}

// Each block goes to the stream as it arrives: the fault server sends the next block only once the
// stream holds the whole of the previous one, so a client that held blocks back would never finish.
void TestTransportFaults::writesBlocksAsTheyArrive() {
    const QList<qint64> blocks{1, 70000, 5, 4000};
    const QString token = UniqueToken(QStringLiteral("blocks"));
    TS3StorageService releaser(FInfo, ShortLimits);
    TReleasingStream stream(blocks, [&] {
        TS3NameValueList properties;
        TS3NameValueList metadata;
        QVERIFY(releaser.GetObjectProperties(Bucket, "release/" + token, properties, metadata));
    });
    TS3StorageService service(FInfo, ShortLimits);
    QStringList sizes;
    qint64 total = 0;
    for (const qint64 size : blocks) {
        sizes.append(QString::number(size));
        total += size;
    }
    QVERIFY(service.GetObject(Bucket, QStringLiteral("paced/%1/%2/x").arg(token, sizes.join(u',')), stream));
    QCOMPARE(stream.Data(), Pattern(total));
    QVERIFY(stream.Calls().size() >= blocks.size());
    for (const TS3MemoryStream::TWriteCall& call : stream.Calls()) {
        QCOMPARE(call.Offset, 0);
        QVERIFY(call.Count > 0);
    }
}

void TestTransportFaults::repeatsShortWrites() {
    TS3StorageService service(FInfo, ShortLimits);
    TS3MemoryStream stream;
    stream.SetMaxBytesPerWrite(1000);
    QVERIFY(service.GetObject(Bucket, "object/5000/x", stream));
    QCOMPARE(stream.Data(), Pattern(5000));
    // Within a block, each further call starts where the previous one stopped.
    qint64 expectedOffset = 0;
    for (const TS3MemoryStream::TWriteCall& call : stream.Calls()) {
        if (call.Offset != 0)
            QCOMPARE(call.Offset, expectedOffset);
        expectedOffset = call.Offset + std::min<qint64>(call.Count, 1000);
    }
    QVERIFY(std::any_of(stream.Calls().cbegin(), stream.Calls().cend(),
                        [](const TS3MemoryStream::TWriteCall& call) { return call.Offset == 1000; }));
}

void TestTransportFaults::reportsStreamWriteErrors_data() {
    QTest::addColumn<qint64>("maxBytesPerWrite");
    QTest::addColumn<int>("failFromCall");
    QTest::addColumn<qint64>("failCount");
    QTest::addColumn<int>("bytesKept");
    QTest::newRow("first call negative") << qint64(0) << 0 << qint64(-1) << 0;
    QTest::newRow("later call takes nothing") << qint64(10) << 1 << qint64(0) << 10;
    QTest::newRow("later call negative") << qint64(10) << 2 << qint64(-5) << 20;
}

void TestTransportFaults::reportsStreamWriteErrors() {
    QFETCH(qint64, maxBytesPerWrite);
    QFETCH(int, failFromCall);
    QFETCH(qint64, failCount);
    QFETCH(int, bytesKept);
    TS3StorageService service(FInfo, ShortLimits);
    TS3MemoryStream stream;
    stream.SetMaxBytesPerWrite(maxBytesPerWrite);
    stream.FailFromCall(failFromCall, failCount);
    QCOMPARE(ErrorOf([&] { service.GetObject(Bucket, "object/5000/x", stream); }), "Stream write error");
    QCOMPARE(stream.Data(), Pattern(bytesKept));
    QCOMPARE(stream.Calls().size(), failFromCall + 1);
}

QTEST_GUILESS_MAIN(TestTransportFaults)
#include "TestTransportFaults.moc"
