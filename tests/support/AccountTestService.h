#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The account service (tools/account-service) that the CTest fixture "account_service" runs for the
// whole test run, with the accounts of tests/support/service-accounts.txt:
//   demo / demo, account-test / s3cret, " padded " / " pass word ", Zoë / façade (Latin-1),
//   Jürgen / grüße€ (accepted only in UTF-8), dialog-test / Right Password.
// The user names answer-... pick scripted answers (see the service's usage text). Tests run in
// parallel against it, so each keeps to user names no other test uses when it reads LastRequest.
class TAccountTestService {
  public:
    // Reads the port the fixture left in the test state folder; throws when absent.
    static TAccountTestService FromFixture();

    quint16 Port() const { return FPort; }
    // "http://127.0.0.1:<port>", what the product gets as its account URL.
    QString BaseUrl() const;

    struct TRequest {
        QByteArray Bytes;   // exactly as received: request line, header lines, empty line
        int Connection = 0; // the TCP connection it came on, numbered by the service
        int Count = 0;      // how many requests this user name has made so far
    };
    // The last request whose Basic user name, as the service decoded it, was userName ("" for requests
    // without credentials); nothing when there was none. Throws std::runtime_error when the service
    // cannot be asked.
    std::optional<TRequest> LastRequest(const QString& userName) const;

  private:
    explicit TAccountTestService(quint16 port)
        : FPort(port) {}
    quint16 FPort;
};
