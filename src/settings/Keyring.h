#pragma once

#include <QString>

#include <chrono>

// What the system keyring said to one request.
struct TKeyringAnswer {
    enum class TOutcome {
        Done,     // read or written
        NotFound, // a read found no entry
        NoAnswer, // no keyring, a refusal or an error: the caller keeps the password elsewhere
    };
    TOutcome Outcome = TOutcome::NoAnswer;
    QString Password; // what a read found
    QString Reason;   // NoAnswer: why
};

// The system keyring through QtKeychain: the Secret Service on Linux, the Credential Manager on Windows,
// one entry per key of the service. Each call runs its job to the end on the calling thread in a local
// event loop that takes no user input, so that a window stays painted and cannot be clicked into a
// second request meanwhile; a keyring that has not answered within the timeout counts as none. Needs a
// QCoreApplication.
class TKeyring {
  public:
    static constexpr std::chrono::milliseconds DefaultTimeout{5000};

    explicit TKeyring(QString service, std::chrono::milliseconds timeout = DefaultTimeout);

    TKeyringAnswer Read(const QString& key) const;
    TKeyringAnswer Write(const QString& key, const QString& password) const;

    const QString& Service() const { return FService; }

  private:
    QString FService;
    std::chrono::milliseconds FTimeout;
};
