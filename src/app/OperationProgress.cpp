#include "app/OperationProgress.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

using TClock = std::chrono::steady_clock;

void TOperationProgress::StartTransfer(qint64 total) {
    FDone.store(0);
    FTotal.store(total);
    FStarted.store(TClock::now().time_since_epoch().count());
    FKind.store(TKind::Transfer);
}

void TOperationProgress::SetItems(qint64 done, qint64 total) {
    FDone.store(done);
    FTotal.store(total);
    FKind.store(TKind::Items);
}

void TOperationProgress::SetListed(qint64 keys, qint64 pages) {
    FDone.store(keys);
    FTotal.store(pages);
    FKind.store(TKind::Listing);
}

void TOperationProgress::Clear() {
    FKind.store(TKind::None);
}

TOperationProgress::TSnapshot TOperationProgress::Read() const {
    TSnapshot snapshot;
    snapshot.Kind = FKind.load();
    snapshot.Done = FDone.load(std::memory_order_relaxed);
    snapshot.Total = FTotal.load();
    if (snapshot.Kind == TKind::Transfer)
        snapshot.Elapsed = TClock::now() - TClock::time_point(TClock::duration(FStarted.load()));
    return snapshot;
}

int ProgressPermille(qint64 done, qint64 total) {
    if (total <= 0)
        return 0;
    return int(std::clamp<qint64>(qint64(double(done) / double(total) * 1000.0), 0, 1000));
}

namespace {

constexpr double Mebibyte = 1024.0 * 1024.0;

QString Percent(qint64 done, qint64 total) {
    return QStringLiteral("%1 %").arg(ProgressPermille(done, total) / 10);
}

// Seconds as "6 s", "2 min 5 s" or "1 h 3 min".
QString Duration(qint64 seconds) {
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

} // namespace

QString TransferProgressText(qint64 done, qint64 total, TClock::duration elapsed) {
    const QLocale locale;
    const QString separator = QStringLiteral(" · ");
    QString text = Percent(done, total) + separator +
                   QStringLiteral("%1 of %2 MiB")
                       .arg(locale.toString(qint64(double(done) / Mebibyte)),
                            locale.toString(qint64(std::ceil(double(total) / Mebibyte))));
    const double seconds = std::chrono::duration<double>(elapsed).count();
    if (seconds < 0.25 || done <= 0)
        return text;
    const double bytesPerSecond = double(done) / seconds;
    text +=
        separator + (bytesPerSecond >= Mebibyte
                         ? QStringLiteral("%1 MiB/s").arg(locale.toString(qint64(bytesPerSecond / Mebibyte)))
                         : QStringLiteral("%1 KiB/s").arg(locale.toString(qint64(bytesPerSecond / 1024))));
    if (done < total)
        text += separator + QStringLiteral("%1 left").arg(
                                Duration(qint64(std::ceil(double(total - done) / bytesPerSecond))));
    return text;
}

QString ItemsProgressText(qint64 done, qint64 total) {
    const QLocale locale;
    return Percent(done, total) +
           QStringLiteral(" · %1 of %2 items").arg(locale.toString(done), locale.toString(total));
}

QString ListingProgressText(qint64 keys, qint64 pages) {
    const QLocale locale;
    return QStringLiteral("Listing · %1 keys on %2 %3 so far")
        .arg(locale.toString(keys), locale.toString(pages),
             pages == 1 ? QStringLiteral("page") : QStringLiteral("pages"));
}

TDownloadProgress TransferProgressOf(TOperationProgress& progress) {
    TDownloadProgress feed;
    feed.Start = [&progress](qint64 totalBytes) { progress.StartTransfer(totalBytes); };
    feed.Advance = [&progress](qint64 ACount) { progress.AddBytes(ACount); };
    feed.Reset = [&progress] { progress.Clear(); };
    return feed;
}
