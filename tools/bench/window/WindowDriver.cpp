#include "WindowDriver.h"

#include "app/ErrorBox.h"
#include "config/BuildSettings.h"
#include "core/Error.h"
#include "settings/SettingsStore.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

void UsePrivateSettings(const QString& workFolder) {
    const QString home = QDir(workFolder).absoluteFilePath(QStringLiteral("home"));
    QDir().mkpath(home);
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
}

void StoreWindowSettings(const QString& workingFolder) {
    const TSettingsStore store;
    store.WriteText(TSettingName::Username, QStringLiteral("demo"));
    store.WriteText(TSettingName::Password, QStringLiteral("demo"));
    store.WriteText(TSettingName::Bucket, BenchBucketSetting);
    store.WriteText(TSettingName::TempDir, workingFolder);
}

QString LoopbackStorage(quint16 port) {
    return QStringLiteral("s3.localhost:%1").arg(port);
}

TCorvaneEnvironment BenchEnvironment(quint16 accountPort, quint16 storagePort) {
    TCorvaneEnvironment environment;
    environment.AccountUrl = QStringLiteral("http://127.0.0.1:%1").arg(accountPort);
    environment.Storage.AccountName = QString::fromUtf8(BuildSettings::S3AccessKeyId);
    environment.Storage.AccountKey = QString::fromUtf8(BuildSettings::S3SecretAccessKey);
    environment.Storage.Protocol = QStringLiteral("http");
    environment.Storage.StorageEndpoint = LoopbackStorage(storagePort);
    // The sign-in dialog closed: the wait that is running reports the dialog.
    environment.EndTool = [] {};
    return environment;
}

TWindowWatch::TWindowWatch() {
    SetErrorBoxHandler([this](const QString& text) {
        if (FFailure.isEmpty())
            FFailure = QStringLiteral("an error box: ") + text;
    });
}

TWindowWatch::~TWindowWatch() {
    SetErrorBoxHandler({});
}

void TWindowWatch::WaitUntil(const std::function<bool()>& done, std::chrono::seconds timeout,
                             const QString& what) {
    if (done() && FFailure.isEmpty())
        return;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer look;
    look.setTimerType(Qt::PreciseTimer);
    look.setInterval(1);
    bool timedOut = false;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        // A dialog would wait for a user who is not there: it is turned away and counts as a failure.
        if (QWidget* modal = QApplication::activeModalWidget()) {
            if (FFailure.isEmpty())
                FFailure = QStringLiteral("a dialog: ") + modal->windowTitle();
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
        }
        timedOut = std::chrono::milliseconds(clock.elapsed()) > timeout;
        if (done() || !FFailure.isEmpty() || timedOut)
            loop.quit();
    });
    look.start();
    loop.exec();
    if (!FFailure.isEmpty())
        throw TError(QStringLiteral("waiting for %1, %2").arg(what, FFailure));
    if (timedOut && !done())
        throw TError(QStringLiteral("waiting for %1: more than %2 s").arg(what).arg(timeout.count()));
}
