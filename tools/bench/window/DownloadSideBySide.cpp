#include "DownloadSideBySide.h"

#include "WindowDriver.h"

#include "app/CorvaneForm.h"
#include "catalogue/CatalogueTable.h"
#include "core/Error.h"
#include "restore/DownloadBackup.h"
#include "restore/TargetPath.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <atomic>
#include <cstdio>
#include <exception>
#include <functional>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Seconds that download took; the file it made is checked and removed.
double TimedDownload(const std::function<void()>& download, const QString& target, qint64 objectSize) {
    QElapsedTimer clock;
    clock.start();
    download();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const qint64 size = QFileInfo(target).size();
    QFile::remove(target);
    if (size != objectSize)
        throw TError(
            QStringLiteral("%1 holds %2 bytes, the object %3").arg(target).arg(size).arg(objectSize));
    return seconds;
}

} // namespace

void DownloadSideBySide(quint16 accountPort, quint16 listingPort, quint16 objectPort, qint64 objectSize,
                        const QString& workFolder, int runs) {
    const QString downloadFolder = QDir(workFolder).absoluteFilePath(QStringLiteral("downloads"));
    QDir().mkpath(downloadFolder);
    StoreWindowSettings(downloadFolder);
    TWindowWatch watch;
    TCorvaneEditorForm form(BenchEnvironment(accountPort, listingPort));
    form.show();
    TCatalogueTable& grid = form.CdsObject();
    watch.WaitUntil(
        [&] { return !form.IsStartUpPending() && !form.IsOperationRunning() && grid.rowCount() > 0; }, 60s,
        QStringLiteral("the listed grid"));

    // The listing server cannot serve objects, and the object server answers every key with the one
    // object: once the grid is listed, the window's storage is the object server, as the headless
    // download's is.
    form.StorageInfo.StorageEndpoint = LoopbackStorage(objectPort);
    const QString target = TargetPath(downloadFolder, grid.FieldAsText(TCatalogueField::Name));
    const TDownloadRequest request{
        form.StorageInfo, BenchBucketSetting, grid.FieldAsText(TCatalogueField::Path), target, {}};
    auto* downloadCommand = form.findChild<QAction*>(QStringLiteral("mniDownload"));
    if (downloadCommand == nullptr || !downloadCommand->isEnabled())
        throw TError(QStringLiteral("the window's Download command is missing or disabled"));

    const auto headless = [&] { DownloadBackup(request, [](const QString&) {}, {}); };
    // The window runs its download on a thread of its own; the same call on a plain thread tells what
    // the thread alone changes. Its end is awaited as the window's is, by the watch looking every
    // millisecond while the main thread processes events, so that both pay the same for the waiting.
    const auto headlessOnThread = [&] {
        std::exception_ptr error;
        std::atomic<bool> finished = false;
        std::jthread thread([&] {
            try {
                headless();
            } catch (...) {
                error = std::current_exception();
            }
            finished = true;
        });
        watch.WaitUntil([&] { return finished.load(); }, 600s, QStringLiteral("the download on a thread"));
        thread.join();
        if (error)
            std::rethrow_exception(error);
    };
    const auto window = [&] {
        downloadCommand->trigger();
        watch.WaitUntil([&] { return !form.IsOperationRunning(); }, 600s, QStringLiteral("the download"));
    };
    const std::array<std::function<void()>, 3> downloads{headless, headlessOnThread, window};

    // A first download, not counted, warms the caches all of them then find alike.
    TimedDownload(headless, target, objectSize);
    for (int run = 1; run <= runs; ++run) {
        // In turns, so that none always follows the same one's writes to the disk.
        std::array<double, 3> seconds{};
        for (size_t turn = 0; turn < downloads.size(); ++turn) {
            const size_t which = (turn + size_t(run)) % downloads.size();
            seconds[which] = TimedDownload(downloads[which], target, objectSize);
        }
        std::printf("download run=%d headless_s=%.3f headless_thread_s=%.3f window_s=%.3f bytes=%lld\n", run,
                    seconds[0], seconds[1], seconds[2], objectSize);
        std::fflush(stdout);
    }
}
