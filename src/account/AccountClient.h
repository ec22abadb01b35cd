#pragma once

#include <QString>

#include <chrono>
#include <memory>

// How long a sign-in attempt may take. The product uses the defaults; tests shorten them.
struct AccountClientLimits {
    std::chrono::milliseconds connect{30000};
    std::chrono::milliseconds attempt{60000};
};

// The sign-in HTTP client of one main window: each attempt is one GET of /my/account.json on the account
// service with HTTP Basic credentials sent at once. Between attempts of its life it keeps the open
// connection, the cookies the service set and the charset a Basic challenge named, in memory only.
// Always IPv4 and never through a proxy, whatever the environment says.
class AccountClient {
  public:
    // serviceUrl: scheme, host and optional port of the account service, e.g. https://support.example.com.
    explicit AccountClient(const QString& serviceUrl, AccountClientLimits limits = {});
    ~AccountClient();
    AccountClient(const AccountClient&) = delete;
    AccountClient& operator=(const AccountClient&) = delete;

    // One attempt, blocking until it has ended. True when the service answered with a status from 200
    // to 299 and a body that is not empty once read as text in the charset the answer names. Every other
    // outcome is false: a refusal, an empty or 204 answer, a redirect (not followed), a network or protocol
    // failure, a time-out. Raises nothing and shows nothing; the callers decide what false means.
    bool Authenticate(const QString& AUserName, const QString& APassword) noexcept;

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};
