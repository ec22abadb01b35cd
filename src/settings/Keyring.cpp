#include "settings/Keyring.h"

#include <QEventLoop>
#include <QScopeGuard>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace {

// Starts the job and waits for its end or the timeout. A job that ended is deleted here; one that
// outlives the wait deletes itself when it ends at last, its answer going nowhere, as the loop it was
// connected through is gone.
TKeyringAnswer RunJob(QKeychain::Job* job, std::chrono::milliseconds timeout) {
    bool ended = false;
    const auto release = qScopeGuard([&] {
        if (ended)
            delete job;
        else
            job->setAutoDelete(true);
    });
    TKeyringAnswer answer;
    answer.Reason = QStringLiteral("no answer within %1 s").arg(timeout.count() / 1000.0);
    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job* finished) {
        ended = true;
        switch (finished->error()) {
        case QKeychain::NoError:
            answer.Outcome = TKeyringAnswer::TOutcome::Done;
            if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(finished))
                answer.Password = read->textData();
            answer.Reason.clear();
            break;
        case QKeychain::EntryNotFound:
            answer.Outcome = TKeyringAnswer::TOutcome::NotFound;
            answer.Reason.clear();
            break;
        default:
            answer.Outcome = TKeyringAnswer::TOutcome::NoAnswer;
            answer.Reason = finished->errorString();
            break;
        }
        loop.quit();
    });
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    // Never the plain-text store QtKeychain can fall back on: the caller decides where the password goes.
    job->setInsecureFallback(false);
    job->setAutoDelete(false);
    job->start();
    if (!ended)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return answer;
}

} // namespace

TKeyring::TKeyring(QString service, std::chrono::milliseconds timeout)
    : FService(std::move(service))
    , FTimeout(timeout) {}

TKeyringAnswer TKeyring::Read(const QString& key) const {
    auto* job = new QKeychain::ReadPasswordJob(FService);
    job->setKey(key);
    return RunJob(job, FTimeout);
}

TKeyringAnswer TKeyring::Write(const QString& key, const QString& password) const {
    auto* job = new QKeychain::WritePasswordJob(FService);
    job->setKey(key);
    job->setTextData(password);
    return RunJob(job, FTimeout);
}
