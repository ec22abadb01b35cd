#include "core/ProxyList.h"

#include <QTest>

// The proxy and bypass lists of Windows' Internet settings and of PAC scripts' answers, as read for a
// storage request.
class TestProxyList : public QObject {
    Q_OBJECT

  private slots:
    void proxyForScheme_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("proxy");

        QTest::newRow("one for every scheme") << "proxy.corp:8080"
                                              << "https"
                                              << "http://proxy.corp:8080";
        QTest::newRow("per scheme") << "http=a:80;https=b:443;ftp=c:21"
                                    << "https"
                                    << "http://b:443";
        QTest::newRow("scheme in other case") << "HTTPS=b:443"
                                              << "https"
                                              << "http://b:443";
        QTest::newRow("none for the scheme") << "http=a:80;ftp=c:21"
                                             << "https"
                                             << "";
        QTest::newRow("PAC list, first counts") << "p1:3128; p2:3128"
                                                << "http"
                                                << "http://p1:3128";
        QTest::newRow("SOCKS only") << "socks=s:1080"
                                    << "https"
                                    << "";
        QTest::newRow("with its own scheme") << "https=https://tls.proxy:443"
                                             << "https"
                                             << "https://tls.proxy:443";
        QTest::newRow("empty") << ""
                               << "https"
                               << "";
        QTest::newRow("empty entry") << "https=;a:1"
                                     << "https"
                                     << "http://a:1";
    }
    void proxyForScheme() {
        QFETCH(QString, list);
        QFETCH(QString, scheme);
        QFETCH(QString, proxy);
        QCOMPARE(ProxyForScheme(list, scheme), proxy);
    }

    void bypass_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("direct");

        QTest::newRow("<local>, a plain name") << "<local>"
                                               << "fileserver" << true;
        QTest::newRow("<local>, a dotted name") << "<local>"
                                                << "s3.amazonaws.com" << false;
        QTest::newRow("suffix pattern") << "*.corp.example;<local>"
                                        << "S3.Corp.Example" << true;
        QTest::newRow("suffix pattern, other host") << "*.corp.example"
                                                    << "corp.example.org" << false;
        QTest::newRow("address prefix") << "10.*; 192.168.*"
                                        << "192.168.4.7" << true;
        QTest::newRow("exact name") << "s3.localhost"
                                    << "s3.localhost" << true;
        QTest::newRow("empty") << ""
                               << "s3.amazonaws.com" << false;
    }
    void bypass() {
        QFETCH(QString, list);
        QFETCH(QString, host);
        QFETCH(bool, direct);
        QCOMPARE(BypassesProxy(list, host), direct);
    }
};

QTEST_GUILESS_MAIN(TestProxyList)
#include "TestProxyList.moc"
