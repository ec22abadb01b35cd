#pragma once

#include <QByteArray>
#include <QCryptographicHash>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// Ranges of a file, [first, end) each, in order and apart.
using TByteExtents = std::vector<std::pair<qint64, qint64>>;

// The MD5 of a file that a download is writing, computed on a thread of its own so that hashing never
// holds up the thread that receives. The writer tells which bytes reached the file; the thread reads
// them back (from the system's cache) and hashes the bytes from the start as far as they are written
// without a gap. Ranges written out of order therefore cost no memory: they are hashed once the gap
// before them is filled. With hashing off the thread hashes nothing, but the ranges written are still
// known (Extents), so that a stopped download can tell what it has.
class TBackgroundMd5 {
  public:
    // Reads count bytes at offset into data: the number read, 0 at the end, or -1. Called on the
    // hashing thread while the writer goes on writing elsewhere in the file.
    using TReadAt = std::function<qint64(qint64 offset, char* data, qint64 count)>;

    explicit TBackgroundMd5(TReadAt read);
    ~TBackgroundMd5();
    TBackgroundMd5(const TBackgroundMd5&) = delete;
    TBackgroundMd5& operator=(const TBackgroundMd5&) = delete;

    // The bytes from offset on, count of them, are now in the file. Bytes written a second time make the
    // hash unusable (Result gives nothing), since the thread may already have read the old ones.
    void Written(qint64 offset, qint64 count);
    // Cuts the file to size bytes through cutFile, while the thread reads nothing. Cut to nothing,
    // everything starts again; cut below what is hashed, the hash is unusable.
    void Cut(qint64 size, const std::function<void()>& cutFile);
    // Waits until everything written without a gap is hashed, then gives the MD5 when that is exactly the
    // first size bytes; otherwise (a gap, bytes written twice, a read that failed, hashing off) nothing.
    QByteArray Result(qint64 size);
    // Whether the thread hashes what is written (the default). Set before anything is written.
    void SetHashing(bool on);
    // The ranges written so far, [first, end) in order. Once bytes were written twice, the ranges
    // written after that are left out.
    TByteExtents Extents();

  private:
    void Run(std::stop_token stop);
    bool Idle() const { return !FBusy && (FBroken || !FHashing || FHashed == FPrefix); }

    static constexpr qint64 ReadSize = 1024 * 1024;

    const TReadAt FRead;
    std::mutex FMutex;
    std::condition_variable_any FChanged;
    std::map<qint64, qint64> FAhead; // written ranges past the gap after the prefix: start -> end
    qint64 FPrefix = 0;              // bytes from the start written without a gap
    qint64 FHashed = 0;              // of those, the ones FMd5 has seen
    bool FBusy = false;              // the thread reads and hashes outside the lock
    bool FBroken = false;
    bool FHashing = true;
    QCryptographicHash FMd5{QCryptographicHash::Md5};
    std::jthread FThread; // last: it starts once everything above is there
};
