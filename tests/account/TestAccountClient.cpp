#include "account/AccountClient.h"
#include "support/AccountTestService.h"

#include <QTest>
#include <QThread>

#include <thread>

#include <curl/curl.h>

using namespace std::chrono_literals;

namespace {

// An attempt's outcome as one text a data table can hold: "accepted", "refused" or "unreachable: " and
// the reason.
QString Described(const TSignInResult& result) {
    switch (result.Outcome) {
    case TSignInResult::TOutcome::Accepted:
        return QStringLiteral("accepted");
    case TSignInResult::TOutcome::Refused:
        return QStringLiteral("refused");
    case TSignInResult::TOutcome::Stopped:
        return QStringLiteral("stopped");
    case TSignInResult::TOutcome::Unreachable:
        break;
    }
    return QStringLiteral("unreachable: ") + result.Reason;
}

QString UnreachableBecause(CURLcode code) {
    return QStringLiteral("unreachable: ") + QString::fromUtf8(curl_easy_strerror(code));
}

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

    TAccountTestService FService = TAccountTestService::FromFixture();

    int RequestCount(const QString& userName) const {
        const auto request = FService.LastRequest(userName);
        return request ? request->Count : 0;
    }

    TAccountTestService::TRequest Last(const QString& userName) const {
        const auto request = FService.LastRequest(userName);
        return request ? *request : TAccountTestService::TRequest{};
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

        TAccountClient client(FService.BaseUrl());
        QCOMPARE(client.Authenticate(user, password).IsAccepted(), accepted);

        const TAccountTestService::TRequest request = Last(recordedAs);
        QCOMPARE(request.Bytes, SignInRequest(FService.Port(), credentials));
        QCOMPARE(request.Count, before + 1);
    }

    // Every answer leads to exactly one request: redirects are not followed and nothing is retried.
    // Only the service's refusal (401, 403, or a 2xx answer without text) is one; an answer that says
    // nothing about the credentials tells why the service could not be reached.
    void decidesByTheAnswer_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("outcome");
        const QString accepted = QStringLiteral("accepted");
        const QString refused = QStringLiteral("refused");
        QTest::newRow("right password")
            << QStringLiteral("account-test") << QStringLiteral("s3cret") << true << accepted;
        QTest::newRow("wrong password, 401 with a body")
            << QStringLiteral("account-test") << QStringLiteral("S3CRET") << false << refused;
        QTest::newRow("403") << QStringLiteral("answer-403") << QString() << false << refused;
        QTest::newRow("one blank") << QStringLiteral("answer-blank") << QString() << true << accepted;
        QTest::newRow("empty body") << QStringLiteral("answer-empty") << QString() << false << refused;
        QTest::newRow("204") << QStringLiteral("answer-204") << QString() << false << refused;
        QTest::newRow("302 to a login page")
            << QStringLiteral("answer-302") << QString() << false
            << QStringLiteral("unreachable: the service answered with status 302");
        QTest::newRow("500") << QStringLiteral("answer-500") << QString() << false
                             << QStringLiteral("unreachable: the service answered with status 500");
        QTest::newRow("chunked") << QStringLiteral("answer-chunked") << QString() << true << accepted;
        QTest::newRow("ended by closing")
            << QStringLiteral("answer-until-close") << QString() << true << accepted;
        QTest::newRow("after 100 Continue")
            << QStringLiteral("answer-continue") << QString() << true << accepted;
        QTest::newRow("Connection: close") << QStringLiteral("answer-close") << QString() << true << accepted;
        QTest::newRow("challenge") << QStringLiteral("answer-utf8-challenge") << QString() << false
                                   << refused;
        QTest::newRow("no answer") << QStringLiteral("answer-drop") << QString() << false
                                   << UnreachableBecause(CURLE_GOT_NOTHING);
        QTest::newRow("body cut short")
            << QStringLiteral("answer-cut") << QString() << false << UnreachableBecause(CURLE_PARTIAL_FILE);
        // libcurl takes a status line that is no HTTP for another protocol's answer.
        QTest::newRow("malformed") << QStringLiteral("answer-malformed") << QString() << false
                                   << UnreachableBecause(CURLE_UNSUPPORTED_PROTOCOL);
    }

    void decidesByTheAnswer() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, accepted);
        QFETCH(QString, outcome);
        const int before = RequestCount(user);
        TAccountClient client(FService.BaseUrl());
        const TSignInResult result = client.Authenticate(user, password);
        QCOMPARE(result.IsAccepted(), accepted);
        QCOMPARE(Described(result), outcome);
        QCOMPARE(RequestCount(user), before + 1);
    }

    void keepsTheConnectionBetweenAttempts() {
        TAccountClient client(FService.BaseUrl());
        QVERIFY(client.Authenticate(QStringLiteral("account-test"), QStringLiteral("s3cret")).IsAccepted());
        const int first = Last(QStringLiteral("account-test")).Connection;
        QVERIFY(!client.Authenticate(QStringLiteral("account-test"), QStringLiteral("wrong")).IsAccepted());
        QCOMPARE(Last(QStringLiteral("account-test")).Connection, first);
        QVERIFY(client.Authenticate(QStringLiteral("account-test"), QStringLiteral("s3cret")).IsAccepted());
        QCOMPARE(Last(QStringLiteral("account-test")).Connection, first);

        // After the service has closed the connection the next attempt opens a new one.
        QVERIFY(client.Authenticate(QStringLiteral("answer-close"), QString()).IsAccepted());
        QVERIFY(client.Authenticate(QStringLiteral("account-test"), QStringLiteral("s3cret")).IsAccepted());
        QVERIFY(Last(QStringLiteral("account-test")).Connection != first);
    }

    void keepsCookiesInMemoryForItsLife() {
        const QString user = QStringLiteral("cookie-test");
        TAccountClient client(FService.BaseUrl());
        QVERIFY(client.Authenticate(QStringLiteral("answer-cookie"), QString()).IsAccepted());
        QVERIFY(!client.Authenticate(user, QStringLiteral("x")).IsAccepted());
        // The cookie for another path stays behind; the session cookie comes last, after Authorization.
        QCOMPARE(Last(user).Bytes, SignInRequest(FService.Port(), "cookie-test:x", "session=s3cr3t"));

        TAccountClient another(FService.BaseUrl());
        QVERIFY(!another.Authenticate(user, QStringLiteral("x")).IsAccepted());
        QCOMPARE(Last(user).Bytes, SignInRequest(FService.Port(), "cookie-test:x"));
    }

    void encodesInTheCharsetOfABasicChallenge() {
        const QString user = QStringLiteral("Jürgen");
        const QString password = QStringLiteral("grüße€");
        TAccountClient client(FService.BaseUrl());
        QVERIFY(!client.Authenticate(user, password).IsAccepted());
        QCOMPARE(Last(user).Bytes, SignInRequest(FService.Port(), "J\xFCrgen:gr\xFC\xDF"
                                                                  "e?"));

        QVERIFY(!client.Authenticate(QStringLiteral("answer-utf8-challenge"), QString()).IsAccepted());
        QVERIFY(client.Authenticate(user, password).IsAccepted());
        QCOMPARE(Last(user).Bytes, SignInRequest(FService.Port(), QStringLiteral("Jürgen:grüße€").toUtf8()));
    }

    // The limit lies far below the slow answer's delay (the fixture's --slow-seconds) and far above what a
    // loopback answer takes on a busy machine, so neither outcome depends on the machine's load.
    void slowAnswerTimesOut() {
        TAccountClient client(FService.BaseUrl(), TAccountClientLimits{2000ms, 1500ms});
        const TSignInResult result = client.Authenticate(QStringLiteral("answer-slow"), QString());
        QVERIFY(!result.IsAccepted());
        QCOMPARE(Described(result), UnreachableBecause(CURLE_OPERATION_TIMEDOUT));
        QVERIFY(client.Authenticate(QStringLiteral("account-test"), QStringLiteral("s3cret")).IsAccepted());
    }

    // A stop ends an attempt that waits for the slow answer, and the client serves the next one.
    void stopEndsTheAttempt() {
        TAccountClient client(FService.BaseUrl());
        std::stop_source stop;
        std::thread stopper([&] {
            QThread::msleep(300);
            stop.request_stop();
        });
        const TSignInResult result =
            client.Authenticate(QStringLiteral("answer-slow"), QString(), stop.get_token());
        stopper.join();
        QCOMPARE(Described(result), QStringLiteral("stopped"));
        QCOMPARE(Described(client.Authenticate(QStringLiteral("answer-slow"), QString(), stop.get_token())),
                 QStringLiteral("stopped"));
        QVERIFY(client.Authenticate(QStringLiteral("account-test"), QStringLiteral("s3cret")).IsAccepted());
    }

    // Nothing listens on port 1 of the loopback: the service is down.
    void unreachableServiceSaysWhy_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("nothing listening")
            << QStringLiteral("http://127.0.0.1:1") << UnreachableBecause(CURLE_COULDNT_CONNECT);
        QTest::newRow("not a URL") << QStringLiteral("::") << UnreachableBecause(CURLE_URL_MALFORMAT);
        QTest::newRow("other protocol")
            << QStringLiteral("file:///etc") << UnreachableBecause(CURLE_UNSUPPORTED_PROTOCOL);
    }

    void unreachableServiceSaysWhy() {
        QFETCH(QString, url);
        QFETCH(QString, outcome);
        TAccountClient client(url, TAccountClientLimits{2000ms, 2000ms});
        const TSignInResult result = client.Authenticate(QStringLiteral("demo"), QStringLiteral("demo"));
        QVERIFY(!result.IsAccepted());
        QCOMPARE(Described(result), outcome);
    }
};

QTEST_GUILESS_MAIN(TestAccountClient)
#include "TestAccountClient.moc"
