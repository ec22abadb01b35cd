#include "storage/S3Redirects.h"
#include "support/ErrorOf.h"

#include <QTest>

namespace {

const QString Refused = QStringLiteral(
    "Redirect to \"%1\" refused: a signed request is only sent again to the server it was made for");

QByteArray RegionDocument(const char* code, const char* endpoint) {
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>") + code +
           "</Code><Message>Use the endpoint.</Message><Endpoint>" + endpoint +
           "</Endpoint><Bucket>b</Bucket></Error>";
}

} // namespace

// Which redirect answers the transport follows, returns or refuses. The transport tests against the fault
// server show the same rule on the wire; https is only reachable here, since the test servers speak http.
class TestRedirects : public QObject {
    Q_OBJECT

  private slots:
    void judgesRedirects_data();
    void judgesRedirects();
};

void TestRedirects::judgesRedirects_data() {
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("from");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("region"); // x-amz-bucket-region
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("next"); // the URL sent to next; empty: the answer goes back as it is
    QTest::addColumn<QString>("message");

    const QString https = QStringLiteral("https://b.s3.amazonaws.com/db/a.backup");
    QTest::newRow("no redirect") << QByteArray("GET") << https << 200 << "https://elsewhere/"
                                 << "" << QByteArray() << ""
                                 << "";
    QTest::newRow("same server, path") << QByteArray("GET") << https << 307 << "/db/b.backup"
                                       << "" << QByteArray() << "https://b.s3.amazonaws.com/db/b.backup"
                                       << "";
    QTest::newRow("same server, full URL, host in capitals, default port written")
        << QByteArray("GET") << https << 301 << "HTTPS://B.S3.AMAZONAWS.COM:443/x?y=1"
        << "" << QByteArray() << "https://b.s3.amazonaws.com:443/x?y=1"
        << "";
    QTest::newRow("same server, HEAD is not followed") << QByteArray("HEAD") << https << 302 << "/db/b.backup"
                                                       << "" << QByteArray() << ""
                                                       << "";
    QTest::newRow("no Location") << QByteArray("GET") << https << 301 << ""
                                 << "" << QByteArray("<html/>") << ""
                                 << "";
    QTest::newRow("https to http, same host")
        << QByteArray("GET") << https << 302 << "http://b.s3.amazonaws.com/db/a.backup"
        << "" << QByteArray() << "" << Refused.arg("http://b.s3.amazonaws.com/db/a.backup");
    QTest::newRow("https to http, HEAD")
        << QByteArray("HEAD") << https << 301 << "http://b.s3.amazonaws.com/db/a.backup"
        << "" << QByteArray() << "" << Refused.arg("http://b.s3.amazonaws.com/db/a.backup");
    QTest::newRow("http to https") << QByteArray("GET") << "http://b.s3.amazonaws.com/db/a.backup" << 301
                                   << "https://b.s3.amazonaws.com/db/a.backup"
                                   << "" << QByteArray() << ""
                                   << Refused.arg("https://b.s3.amazonaws.com/db/a.backup");
    QTest::newRow("other port") << QByteArray("GET") << https << 307 << "https://b.s3.amazonaws.com:8443/x"
                                << "" << QByteArray() << ""
                                << Refused.arg("https://b.s3.amazonaws.com:8443/x");
    QTest::newRow("other host") << QByteArray("GET") << https << 302 << "https://evil.example/x"
                                << "" << QByteArray() << "" << Refused.arg("https://evil.example/x");
    QTest::newRow("other host, scheme-relative")
        << QByteArray("GET") << https << 303 << "//evil.example/x"
        << "" << QByteArray() << "" << Refused.arg("https://evil.example/x");
    QTest::newRow("other host behind user information")
        << QByteArray("GET") << https << 302 << "https://b.s3.amazonaws.com@evil.example/x"
        << "" << QByteArray() << "" << Refused.arg("https://b.s3.amazonaws.com@evil.example/x");
    QTest::newRow("other scheme") << QByteArray("GET") << https << 302 << "ftp://b.s3.amazonaws.com/x"
                                  << "" << QByteArray() << "" << Refused.arg("ftp://b.s3.amazonaws.com/x");
    QTest::newRow("S3 permanent region redirect")
        << QByteArray("GET") << "https://s3.amazonaws.com/my.backups/db/a.backup" << 301 << ""
        << "eu-west-1" << RegionDocument("PermanentRedirect", "my.backups.s3.eu-west-1.amazonaws.com") << ""
        << "The bucket is in another region: the service names the endpoint "
           "\"my.backups.s3.eu-west-1.amazonaws.com\"";
    QTest::newRow("S3 temporary redirect to a regional host")
        << QByteArray("GET") << https << 307 << "https://b.s3-eu-west-1.amazonaws.com/db/a.backup"
        << "eu-west-1" << RegionDocument("TemporaryRedirect", "b.s3-eu-west-1.amazonaws.com") << ""
        << "The bucket is in another region: the service names the endpoint \"b.s3-eu-west-1.amazonaws.com\"";
    QTest::newRow("S3 temporary redirect of a HEAD")
        << QByteArray("HEAD") << https << 307 << "https://b.s3-eu-west-1.amazonaws.com/db/a.backup"
        << "eu-west-1" << QByteArray() << ""
        << "The bucket is in another region: the service names the endpoint \"b.s3-eu-west-1.amazonaws.com\"";
    QTest::newRow("S3 permanent region redirect of a HEAD")
        << QByteArray("HEAD") << https << 301 << ""
        << "eu-west-1" << QByteArray() << ""
        << "The bucket is in another region: the service names the region \"eu-west-1\"";
}

void TestRedirects::judgesRedirects() {
    QFETCH(QByteArray, method);
    QFETCH(QString, from);
    QFETCH(int, status);
    QFETCH(QString, location);
    QFETCH(QString, region);
    QFETCH(QByteArray, body);
    QFETCH(QString, next);
    QFETCH(QString, message);
    TS3HttpResponse response{status, {}};
    if (!location.isEmpty())
        response.Headers.Add(QStringLiteral("Location"), location);
    if (!region.isEmpty())
        response.Headers.Add(QStringLiteral("x-amz-bucket-region"), region);
    std::optional<TS3RequestUrl> target;
    QCOMPARE(ErrorOf([&] { target = RedirectTarget(method, ParseRequestUrl(from), response, body); }),
             message);
    QCOMPARE(target ? target->ToString() : QString(), next);
}

QTEST_GUILESS_MAIN(TestRedirects)
#include "TestRedirects.moc"
