#pragma once

#include <QString>

#include <chrono>
#include <memory>
#include <stop_token>

// How long a sign-in attempt may take. The product uses the defaults; tests shorten them.
struct TAccountClientLimits {
    std::chrono::milliseconds Connect{30000};
    std::chrono::milliseconds Attempt{60000};
};

// How one sign-in attempt ended.
struct TSignInResult {
    enum class TOutcome {
        Accepted,    // a status from 200 to 299 with a body that is not empty once read as text
        Refused,     // 401 or 403, or a 2xx answer without text (204, an empty body)
        Unreachable, // no answer, a time-out, a broken answer or any other status
        Stopped      // the caller's stop ended the attempt
    };
    TOutcome Outcome = TOutcome::Unreachable;
    // Why the service could not be reached: libcurl's text for the failure, or "the service answered
    // with status N". Empty for the other outcomes.
    QString Reason;

    bool IsAccepted() const { return Outcome == TOutcome::Accepted; }
};

// The sign-in HTTP client of one main window: each attempt is one GET of /my/account.json on the account
// service with HTTP Basic credentials sent at once. Between attempts of its life it keeps the open
// connection, the cookies the service set and the charset a Basic challenge named, in memory only.
// Always IPv4 and never through a proxy, whatever the environment says.
class TAccountClient {
  public:
    // serviceUrl: scheme, host and optional port of the account service, e.g. https://support.example.com.
    explicit TAccountClient(const QString& serviceUrl, TAccountClientLimits limits = {});
    ~TAccountClient();
    TAccountClient(const TAccountClient&) = delete;
    TAccountClient& operator=(const TAccountClient&) = delete;

    // One attempt, blocking until it has ended; a stop asked for through the token ends it within a
    // fraction of a second. The body is read as text in the charset the answer names; a redirect is not
    // followed and counts as an answer with its status. Raises nothing and shows nothing; the callers
    // decide what to tell the user. One attempt at a time.
    TSignInResult Authenticate(const QString& AUserName, const QString& APassword,
                               std::stop_token stop = {}) noexcept;

  private:
    class TImpl;
    std::unique_ptr<TImpl> FImpl;
};
