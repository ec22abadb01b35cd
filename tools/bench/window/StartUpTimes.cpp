#include "StartUpTimes.h"

#include "ProcessUsage.h"
#include "WindowDriver.h"

#include "app/CorvaneForm.h"
#include "catalogue/CatalogueFill.h"
#include "catalogue/CatalogueTable.h"
#include "core/Error.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QTableView>
#include <QTimer>

#include <cstdio>
#include <optional>

using namespace std::chrono_literals;

namespace {

double Seconds(const QElapsedTimer& clock) {
    return double(clock.nsecsElapsed()) / 1e9;
}

// When a widget first painted itself after Arm(): the moment the paint event and the rest of that
// round of painting are over, which is when the frame reaches the screen.
class TPaintClock : public QObject {
  public:
    TPaintClock(QWidget& widget, const QElapsedTimer& clock)
        : FClock(clock) {
        widget.installEventFilter(this);
    }
    void Arm() { FArmed = true; }
    std::optional<double> PaintedAt() const { return FPaintedAt; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (FArmed && event->type() == QEvent::Paint) {
            FArmed = false;
            QTimer::singleShot(0, this, [this] { FPaintedAt = Seconds(FClock); });
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    const QElapsedTimer& FClock;
    bool FArmed = false;
    std::optional<double> FPaintedAt;
};

} // namespace

void StartUpTimes(quint16 accountPort, quint16 listingPort, int keys, const QString& workFolder,
                  double appSeconds) {
    StoreWindowSettings(workFolder);
    TWindowWatch watch;
    const TCorvaneEnvironment environment = BenchEnvironment(accountPort, listingPort);

    // The window's peak memory per backup: how far the process's peak resident size grows from here to
    // the full grid painted.
    const long peakBeforeKiB = PeakRssKiB();
    QElapsedTimer clock;
    clock.start();
    TCorvaneEditorForm form(environment);
    const double constructed = Seconds(clock);
    TCatalogueTable& grid = form.CdsObject();
    auto* gridView = form.findChild<QTableView*>(QStringLiteral("GridFiles"));
    if (gridView == nullptr)
        throw TError(QStringLiteral("the window has no grid GridFiles"));
    // The listing empties the grid when it starts and hands it every row when it ends.
    std::optional<double> listing;
    std::optional<double> full;
    TPaintClock windowPainted(form, clock);
    TPaintClock gridPainted(*gridView->viewport(), clock);
    QObject::connect(&grid, &QAbstractItemModel::modelReset, &gridPainted, [&] {
        if (!listing && grid.rowCount() == 0) {
            listing = Seconds(clock);
        } else if (listing && !full && grid.rowCount() == keys) {
            full = Seconds(clock);
            gridPainted.Arm();
        }
    });
    windowPainted.Arm();
    form.show();
    const double shown = Seconds(clock);
    watch.WaitUntil([&] { return windowPainted.PaintedAt().has_value(); }, 10s, QStringLiteral("the window"));
    watch.WaitUntil([&] { return !form.IsStartUpPending(); }, 10s, QStringLiteral("the start-up tick"));
    const double tick = Seconds(clock);
    watch.WaitUntil([&] { return full.has_value(); }, 600s, QStringLiteral("the full grid"));
    watch.WaitUntil([&] { return gridPainted.PaintedAt().has_value() && !form.IsOperationRunning(); }, 10s,
                    QStringLiteral("the full grid painted"));
    const double peakBytesPerKey = double(PeakRssKiB() - peakBeforeKiB) * 1024.0 / keys;

    QElapsedTimer fillClock;
    fillClock.start();
    TCatalogueTable headless;
    TS3ConnectionInfo info = environment.Storage;
    headless.TakeRecords(ListCatalogue(info, BenchBucketSetting));
    const double headlessFill = Seconds(fillClock);

    std::printf(
        "start-up keys=%d app_s=%.3f constructed_s=%.3f shown_s=%.3f visible_s=%.3f tick_s=%.3f "
        "listing_s=%.3f full_s=%.3f full_painted_s=%.3f headless_fill_s=%.3f peak_bytes_per_key=%.1f\n",
        keys, appSeconds, constructed, shown, *windowPainted.PaintedAt(), tick, listing.value_or(-1), *full,
        *gridPainted.PaintedAt(), headlessFill, peakBytesPerKey);
    std::fflush(stdout);
}
