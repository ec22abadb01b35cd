#include "account/CookieJar.h"
#include "account/HttpHeaderValues.h"

#include <QTest>

namespace {
constexpr std::time_t Now = 1'800'000'000;
}

class TestSignInParsers : public QObject {
    Q_OBJECT

  private slots:
    void basicChallengeCharset_data() {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QByteArray>("charset"); // "-" for none
        QTest::newRow("quoted") << QByteArray("Basic realm=\"Corvane\", charset=\"UTF-8\"")
                                << QByteArray("UTF-8");
        QTest::newRow("token, any case") << QByteArray("basic CHARSET=utf-8") << QByteArray("utf-8");
        QTest::newRow("no charset") << QByteArray("Basic realm=\"Corvane\"") << QByteArray("-");
        QTest::newRow("inside a quoted realm")
            << QByteArray("Basic realm=\"a, charset=latin1 \\\" charset=x\"") << QByteArray("-");
        QTest::newRow("of another scheme")
            << QByteArray("Digest realm=\"x\", charset=UTF-8, Basic realm=\"y\"") << QByteArray("-");
        QTest::newRow("after another scheme")
            << QByteArray("Digest realm=\"x\", nonce=\"n,n\", Basic realm=\"y\", charset=\"UTF-8\"")
            << QByteArray("UTF-8");
        QTest::newRow("after a token68")
            << QByteArray("Negotiate abc123, Basic charset=\"UTF-8\"") << QByteArray("UTF-8");
        QTest::newRow("empty") << QByteArray() << QByteArray("-");
        QTest::newRow("unterminated quote")
            << QByteArray("Basic realm=\"x, charset=UTF-8") << QByteArray("-");
    }

    void basicChallengeCharset() {
        QFETCH(QByteArray, header);
        QFETCH(QByteArray, charset);
        QCOMPARE(BasicChallengeCharset(header).value_or("-"), charset);
    }

    void contentTypeCharset_data() {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QByteArray>("charset");
        QTest::newRow("token") << QByteArray("application/json; charset=utf-8") << QByteArray("utf-8");
        QTest::newRow("quoted, no blank")
            << QByteArray("text/html;charset=\"ISO-8859-1\"") << QByteArray("ISO-8859-1");
        QTest::newRow("blanks, any case")
            << QByteArray("text/plain; Charset = koi8-r") << QByteArray("koi8-r");
        QTest::newRow("after a quoted parameter")
            << QByteArray("text/plain; format=\"a;charset=x\"; charset=UTF-16") << QByteArray("UTF-16");
        QTest::newRow("none") << QByteArray("application/json") << QByteArray();
    }

    void contentTypeCharset() {
        QFETCH(QByteArray, header);
        QFETCH(QByteArray, charset);
        QCOMPARE(ContentTypeCharset(header), charset);
    }

    // Cookies set by answers for setHost (request path /my/account.json), then asked for a request.
    void cookieJar_data() {
        QTest::addColumn<QByteArray>("setHost");
        QTest::addColumn<QByteArrayList>("setCookies");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("secure");
        QTest::addColumn<int>("secondsLater");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray site = "support.example.com";
        const QByteArray path = "/my/account.json";
        QTest::newRow("same host and path")
            << site << QByteArrayList{"a=1"} << site << path << false << 0 << QByteArray("a=1");
        QTest::newRow("host name in any case")
            << site << QByteArrayList{"a=1"} << QByteArray("Support.Example.COM") << path << false << 0
            << QByteArray("a=1");
        QTest::newRow("host only, not a subdomain")
            << site << QByteArrayList{"a=1"} << QByteArray("www.support.example.com") << path << false << 0
            << QByteArray();
        QTest::newRow("domain cookie")
            << site << QByteArrayList{"a=1; Domain=.Example.com"} << QByteArray("other.example.com") << path
            << false << 0 << QByteArray("a=1");
        QTest::newRow("foreign domain refused") << site << QByteArrayList{"a=1; Domain=evil.com", "b=2"}
                                                << site << path << false << 0 << QByteArray("b=2");
        QTest::newRow("no domain cookies for addresses")
            << QByteArray("127.0.0.1") << QByteArrayList{"a=1; Domain=0.0.1"} << QByteArray("127.0.0.1")
            << path << false << 0 << QByteArray();
        QTest::newRow("default path is the folder")
            << site << QByteArrayList{"a=1"} << site << QByteArray("/other") << false << 0 << QByteArray();
        QTest::newRow("path prefix ends at a slash")
            << site << QByteArrayList{"a=1; Path=/my/acc"} << site << path << false << 0 << QByteArray();
        QTest::newRow("longest path first") << site << QByteArrayList{"a=1; Path=/", "b=2; Path=/my", "c=3"}
                                            << site << path << false << 0 << QByteArray("b=2; c=3; a=1");
        QTest::newRow("replaced") << site << QByteArrayList{"a=1", "b=2", "a=3"} << site << path << false << 0
                                  << QByteArray("a=3; b=2");
        QTest::newRow("deleted") << site << QByteArrayList{"a=1", "a=; Max-Age=0"} << site << path << false
                                 << 0 << QByteArray();
        QTest::newRow("expired date") << site << QByteArrayList{"a=1; Expires=Wed, 21 Oct 2015 07:28:00 GMT"}
                                      << site << path << false << 0 << QByteArray();
        QTest::newRow("Max-Age before Expires")
            << site << QByteArrayList{"a=1; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Max-Age=60"} << site
            << path << false << 59 << QByteArray("a=1");
        QTest::newRow("Max-Age runs out") << site << QByteArrayList{"a=1; Max-Age=60", "b=2"} << site << path
                                          << false << 60 << QByteArray("b=2");
        QTest::newRow("secure only over TLS") << site << QByteArrayList{"a=1; Secure", "b=2"} << site << path
                                              << false << 0 << QByteArray("b=2");
        QTest::newRow("secure over TLS")
            << site << QByteArrayList{"a=1; Secure"} << site << path << true << 0 << QByteArray("a=1");
        QTest::newRow("unusable lines ignored") << site << QByteArrayList{"novalue", "=x", "c=3", "d=4\r5"}
                                                << site << path << false << 0 << QByteArray("c=3");
    }

    void cookieJar() {
        QFETCH(QByteArray, setHost);
        QFETCH(QByteArrayList, setCookies);
        QFETCH(QByteArray, host);
        QFETCH(QByteArray, path);
        QFETCH(bool, secure);
        QFETCH(int, secondsLater);
        QFETCH(QByteArray, expected);
        TCookieJar jar;
        for (const QByteArray& line : setCookies)
            jar.Store(line, setHost, "/my/account.json", Now);
        QCOMPARE(jar.CookieHeader(host, path, secure, Now + secondsLater), expected);
    }
};

QTEST_GUILESS_MAIN(TestSignInParsers)
#include "TestSignInParsers.moc"
