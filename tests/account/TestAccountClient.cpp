#include "account/AccountClient.h"
#include "support/AccountTestService.h"

#include <QTest>

using namespace std::chrono_literals;

namespace {

// The request the service must receive, byte for byte.
QByteArray SignInRequest(quint16 port, const QByteArray& credentials, const QByteArray& cookie = {}) {
    QByteArray request = "GET /my/account.json HTTP/1.1\r\n"
                         "Host: 127.0.0.1:" +
                         QByteArray::number(port) +
                         "\r\n"
                         "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
                         "User-Agent: Mozilla/3.0 (compatible; Corvane)\r\n"
                         "Authorization: Basic " +
                         credentials.toBase64() + "\r\n";
    if (!cookie.isEmpty())
        request += "Cookie: " + cookie + "\r\n";
    return request + "\r\n";
}

} // namespace

class TestAccountClient : public QObject {
    Q_OBJECT

    AccountTestService service = AccountTestService::FromFixture();

    int RequestCount(const QString& userName) const {
        const auto request = service.LastRequest(userName);
        return request ? request->count : 0;
    }

    AccountTestService::Request Last(const QString& userName) const {
        const auto request = service.LastRequest(userName);
        return request ? *request : AccountTestService::Request{};
    }

  private slots:
    void initTestCase() {
        // Proxies named by the environment must not be used.
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "all_proxy", "ALL_PROXY"})
            qputenv(name, "http://127.0.0.1:9");
    }

    void sendsExactlyTheSignInRequest_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("recordedAs");
        QTest::addColumn<QByteArray>("credentials");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("account") << QStringLiteral("account-test") << QStringLiteral("s3cret")
                                 << QStringLiteral("account-test") << QByteArray("account-test:s3cret")
                                 << true;
        QTest::newRow("blanks kept") << QStringLiteral(" padded ") << QStringLiteral(" pass word ")
                                     << QStringLiteral(" padded ") << QByteArray(" padded : pass word ")
                                     << true;
        QTest::newRow("Latin-1") << QStringLiteral("Zoë") << QStringLiteral("façade") << QStringLiteral("Zoë")
                                 << QByteArray("Zo\xEB:fa\xE7"
                                               "ade")
                                 << true;
        QTest::newRow("beyond Latin-1")
            << QStringLiteral("€uro-test") << QStringLiteral("pass𝄞") << QStringLiteral("?uro-test")
            << QByteArray("?uro-test:pass?") << false;
        QTest::newRow("empty password")
            << QStringLiteral("no-password-test") << QString() << QStringLiteral("no-password-test")
            << QByteArray("no-password-test:") << false;
        QTest::newRow("empty user name") << QString() << QStringLiteral("only-password") << QString()
                                         << QByteArray(":only-password") << false;
    }

    void sendsExactlyTheSignInRequest() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, recordedAs);
        QFETCH(QByteArray, credentials);
        QFETCH(bool, accepted);
        const int before = RequestCount(recordedAs);

        AccountClient client(service.BaseUrl());
        QCOMPARE(client.Authenticate(user, password), accepted);

        const AccountTestService::Request request = Last(recordedAs);
        QCOMPARE(request.bytes, SignInRequest(service.Port(), credentials));
        QCOMPARE(request.count, before + 1);
    }

    // Every answer leads to exactly one request: redirects are not followed and nothing is retried.
    void decidesByTheAnswer_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("right password") << QStringLiteral("account-test") << QStringLiteral("s3cret") << true;
        QTest::newRow("wrong password, 401 with a body")
            << QStringLiteral("account-test") << QStringLiteral("S3CRET") << false;
        QTest::newRow("one blank") << QStringLiteral("answer-blank") << QString() << true;
        QTest::newRow("empty body") << QStringLiteral("answer-empty") << QString() << false;
        QTest::newRow("204") << QStringLiteral("answer-204") << QString() << false;
        QTest::newRow("302 to a login page") << QStringLiteral("answer-302") << QString() << false;
        QTest::newRow("chunked") << QStringLiteral("answer-chunked") << QString() << true;
        QTest::newRow("ended by closing") << QStringLiteral("answer-until-close") << QString() << true;
        QTest::newRow("after 100 Continue") << QStringLiteral("answer-continue") << QString() << true;
        QTest::newRow("Connection: close") << QStringLiteral("answer-close") << QString() << true;
        QTest::newRow("challenge") << QStringLiteral("answer-utf8-challenge") << QString() << false;
        QTest::newRow("no answer") << QStringLiteral("answer-drop") << QString() << false;
        QTest::newRow("body cut short") << QStringLiteral("answer-cut") << QString() << false;
        QTest::newRow("malformed") << QStringLiteral("answer-malformed") << QString() << false;
    }

    void decidesByTheAnswer() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, accepted);
        const int before = RequestCount(user);
        AccountClient client(service.BaseUrl());
        QCOMPARE(client.Authenticate(user, password), accepted);
        QCOMPARE(RequestCount(user), before + 1);
    }

    void keepsTheConnectionBetweenAttempts() {
        AccountClient client(service.BaseUrl());
        QVERIFY(client.Authenticate(QStringLiteral("account-test"), QStringLiteral("s3cret")));
        const int first = Last(QStringLiteral("account-test")).connection;
        QVERIFY(!client.Authenticate(QStringLiteral("account-test"), QStringLiteral("wrong")));
        QCOMPARE(Last(QStringLiteral("account-test")).connection, first);
        QVERIFY(client.Authenticate(QStringLiteral("account-test"), QStringLiteral("s3cret")));
        QCOMPARE(Last(QStringLiteral("account-test")).connection, first);

        // After the service has closed the connection the next attempt opens a new one.
        QVERIFY(client.Authenticate(QStringLiteral("answer-close"), QString()));
        QVERIFY(client.Authenticate(QStringLiteral("account-test"), QStringLiteral("s3cret")));
        QVERIFY(Last(QStringLiteral("account-test")).connection != first);
    }

    void keepsCookiesInMemoryForItsLife() {
        const QString user = QStringLiteral("cookie-test");
        AccountClient client(service.BaseUrl());
        QVERIFY(client.Authenticate(QStringLiteral("answer-cookie"), QString()));
        QVERIFY(!client.Authenticate(user, QStringLiteral("x")));
        // The cookie for another path stays behind; the session cookie comes last, after Authorization.
        QCOMPARE(Last(user).bytes, SignInRequest(service.Port(), "cookie-test:x", "session=s3cr3t"));

        AccountClient another(service.BaseUrl());
        QVERIFY(!another.Authenticate(user, QStringLiteral("x")));
        QCOMPARE(Last(user).bytes, SignInRequest(service.Port(), "cookie-test:x"));
    }

    void encodesInTheCharsetOfABasicChallenge() {
        const QString user = QStringLiteral("Jürgen");
        const QString password = QStringLiteral("grüße€");
        AccountClient client(service.BaseUrl());
        QVERIFY(!client.Authenticate(user, password));
        QCOMPARE(Last(user).bytes, SignInRequest(service.Port(), "J\xFCrgen:gr\xFC\xDF"
                                                                 "e?"));

        QVERIFY(!client.Authenticate(QStringLiteral("answer-utf8-challenge"), QString()));
        QVERIFY(client.Authenticate(user, password));
        QCOMPARE(Last(user).bytes, SignInRequest(service.Port(), QStringLiteral("Jürgen:grüße€").toUtf8()));
    }

    // The limit lies far below the slow answer's delay (the fixture's --slow-seconds) and far above what a
    // loopback answer takes on a busy machine, so neither outcome depends on the machine's load.
    void slowAnswerTimesOut() {
        AccountClient client(service.BaseUrl(), AccountClientLimits{2000ms, 1500ms});
        QVERIFY(!client.Authenticate(QStringLiteral("answer-slow"), QString()));
        QVERIFY(client.Authenticate(QStringLiteral("account-test"), QStringLiteral("s3cret")));
    }

    void unreachableServiceIsARefusal_data() {
        QTest::addColumn<QString>("url");
        QTest::newRow("nothing listening") << QStringLiteral("http://127.0.0.1:1");
        QTest::newRow("not a URL") << QStringLiteral("::");
        QTest::newRow("other protocol") << QStringLiteral("file:///etc");
    }

    void unreachableServiceIsARefusal() {
        QFETCH(QString, url);
        AccountClient client(url, AccountClientLimits{2000ms, 2000ms});
        QVERIFY(!client.Authenticate(QStringLiteral("demo"), QStringLiteral("demo")));
    }
};

QTEST_GUILESS_MAIN(TestAccountClient)
#include "TestAccountClient.moc"
