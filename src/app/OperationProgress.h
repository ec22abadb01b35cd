#pragma once

#include "restore/DownloadBackup.h"

#include <QString>

#include <atomic>
#include <chrono>

// What a running operation has done so far, written by the operation's thread as it goes and read by
// the window a few times a second: plain atomic counters, so that reporting costs the operation next to
// nothing whatever its block size.
class TOperationProgress {
  public:
    enum class TKind { None, Transfer, Items, Listing };

    // A transfer of total bytes begins (total may be 0).
    void StartTransfer(qint64 total);
    void AddBytes(qint64 count) { FDone.fetch_add(count, std::memory_order_relaxed); }
    // A count of items: done of total.
    void SetItems(qint64 done, qint64 total);
    // A listing of unknown length: keys listed on pages read so far.
    void SetListed(qint64 keys, qint64 pages);
    // Nothing to show.
    void Clear();

    struct TSnapshot {
        TKind Kind = TKind::None;
        qint64 Done = 0;
        qint64 Total = 0;
        std::chrono::steady_clock::duration Elapsed{}; // since the transfer began
    };
    TSnapshot Read() const;

  private:
    std::atomic<TKind> FKind{TKind::None};
    std::atomic<qint64> FDone{0};
    std::atomic<qint64> FTotal{0};
    std::atomic<std::chrono::steady_clock::rep> FStarted{0};
};

// A download's reports, feeding the counters.
TDownloadProgress TransferProgressOf(TOperationProgress& progress);

// The progress bar's text for a transfer: "42 % · 431 of 1,024 MiB · 96 MiB/s · 6 s left". The speed and
// the time left are left out until a quarter second has passed, and the time left once all is there.
QString TransferProgressText(qint64 done, qint64 total, std::chrono::steady_clock::duration elapsed);
// The bar's text for items: "42 % · 21 of 50 items".
QString ItemsProgressText(qint64 done, qint64 total);
// The bar's text for a listing: "Listing · 12,000 keys on 12 pages so far".
QString ListingProgressText(qint64 keys, qint64 pages);
// The part done in thousandths, within 0 and 1000.
int ProgressPermille(qint64 done, qint64 total);
