#pragma once

// What both window measurements need: the window's settings kept in a folder of the benchmark's own,
// the window pointed at the loopback servers, and waits that watch the window with a fine clock and
// turn an error box or a dialog into a failure instead of a hang.

#include "app/CorvaneEnvironment.h"

#include <QString>

#include <chrono>
#include <functional>

// The bucket setting the window lists: the listing server's folder.
inline const QString BenchBucketSetting = QStringLiteral("bench/db");

// Points the per-user settings (HOME and XDG_CONFIG_HOME) into the work folder, so that the user's own
// settings are never read nor written. Called before the application is made.
void UsePrivateSettings(const QString& workFolder);

// Stores what the window reads at start-up: the account the account service accepts ("demo"/"demo"),
// the bucket setting and the working folder that downloads go to.
void StoreWindowSettings(const QString& workingFolder);

// "s3.localhost:<port>": a loopback storage server, each bucket a host of its own below it.
QString LoopbackStorage(quint16 port);

// The window's servers: the account service and the storage server, both on loopback, with the build's
// key pair and the product's transfer limits.
TCorvaneEnvironment BenchEnvironment(quint16 accountPort, quint16 storagePort);

// While it lives, an error box or a dialog of the window ends the wait in progress with a failure.
class TWindowWatch {
  public:
    TWindowWatch();
    ~TWindowWatch();
    TWindowWatch(const TWindowWatch&) = delete;
    TWindowWatch& operator=(const TWindowWatch&) = delete;

    // Processes events until done holds, looking every millisecond. Throws TError naming what was awaited
    // when an error box or a dialog showed up meanwhile, or when it took longer than timeout.
    void WaitUntil(const std::function<bool()>& done, std::chrono::seconds timeout, const QString& what);

  private:
    QString FFailure;
};
