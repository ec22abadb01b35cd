#include "restore/RangedDownload.h"

#include "storage/S3TransferGroup.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

TObjectChanged Changed(const TRangedObject& object) {
    return TObjectChanged(
        QStringLiteral("The backup \"%1\" changed on the server during the download").arg(object.Name));
}

// The range one connection fetches: [first, end) of the object, of which the bytes before next are in
// the file. Blocks are gathered and written at their offset GatherSize bytes at a time: less than one
// stream gathers, since every connection holds its own buffer.
class TRangeSink : public TS3BodySink {
  public:
    static constexpr qint64 GatherSize = 256 * 1024;

    TRangeSink(TS3DownloadStream& stream, const TS3ProgressEvent& advance, const TRangedObject& object)
        : FStream(stream)
        , FAdvance(advance)
        , FObject(object) {
        FGathered.reserve(GatherSize + 64 * 1024);
    }

    void Begin(qint64 first, qint64 end) {
        FNext = first;
        FEnd = end;
        FRetries = 0;
    }
    // A request for the rest of the range goes out.
    void Asking() { FAskedFrom = FNext; }

    // Nothing reaches the file from an answer that is not the range asked for of the object pinned:
    // another ETag means another object, whatever If-Match was answered, and a 200 brings the whole
    // object, which may never end.
    void Answered(int status, const TS3NameValueList& headers) override {
        if (status == 412)
            throw Changed(FObject);
        if (status == 200)
            throw TError(QStringLiteral("The server sent the whole of \"%1\" where a part was asked for "
                                        "(status 200)")
                             .arg(FObject.Name));
        if (status != 206)
            return;
        if (!FObject.ETag.isEmpty() &&
            headers.Value(QStringLiteral("ETag")).trimmed() != FObject.ETag.trimmed())
            throw Changed(FObject);
        if (!HoldsRange(headers))
            throw Failed(status);
    }

    void Append(const char* data, qint64 count) override {
        if (count > FEnd - FNext - FGathered.size())
            throw TError(QStringLiteral("The download of \"%1\" sent more than the %2 bytes announced")
                             .arg(FObject.Name, QString::number(FObject.Size)));
        FGathered.append(data, count);
        if (FGathered.size() >= GatherSize)
            Flush();
        if (FAdvance)
            FAdvance(count);
    }

    // Ranges follow no redirect, so nothing is ever sent again into the same range.
    void Restart() override { FGathered.resize(0); }

    void Flush() {
        FStream.WriteAt(FNext, FGathered.constData(), FGathered.size());
        FNext += FGathered.size();
        FGathered.resize(0);
    }

    // Whether an answer holds the bytes asked for, by its Content-Range "bytes <first>-<last>/<size>".
    bool HoldsRange(const TS3NameValueList& headers) const {
        return headers.Value(QStringLiteral("Content-Range")).trimmed() ==
               QStringLiteral("bytes %1-%2/%3").arg(FAskedFrom).arg(FEnd - 1).arg(FObject.Size);
    }
    TError Failed(int status) const {
        return TError(QStringLiteral("The download of \"%1\" failed: the service answered with status %2")
                          .arg(FObject.Name, QString::number(status)));
    }

    qint64 Next() const { return FNext; }
    qint64 End() const { return FEnd; }
    // Counts one more attempt from where the range stopped; false once the retries are spent.
    bool Retry(int retries) { return FRetries++ < retries; }

  private:
    TS3DownloadStream& FStream;
    const TS3ProgressEvent& FAdvance;
    const TRangedObject& FObject;
    QByteArray FGathered;
    qint64 FNext = 0;
    qint64 FEnd = 0;
    qint64 FAskedFrom = 0;
    int FRetries = 0;
};

// The missing parts cut into ranges of at most rangeSize bytes.
TByteExtents RangesOf(const TByteExtents& missing, qint64 rangeSize) {
    TByteExtents pieces;
    for (const auto& [first, end] : missing) {
        for (qint64 at = first; at < end; at += rangeSize)
            pieces.emplace_back(at, std::min(at + rangeSize, end));
    }
    return pieces;
}

} // namespace

void FetchInRanges(TS3StorageService& service, const TRangedObject& object, const TDownloadRanges& ranges,
                   const TByteExtents& missing, TS3DownloadStream& stream, const TS3ProgressEvent& advance,
                   const std::function<void()>& rangeDone) {
    const TByteExtents pieces = RangesOf(missing, std::max<qint64>(ranges.RangeSize, 1));
    const int connections = int(std::min<qint64>(std::max(ranges.Connections, 1), qint64(pieces.size())));
    // The sinks outlive the group, whose transfers write into them.
    std::vector<std::unique_ptr<TRangeSink>> sinks;
    TS3TransferGroup group(service.Limits());
    size_t nextPiece = 0;

    auto ask = [&](int slot) {
        TRangeSink& sink = *sinks[slot];
        sink.Asking();
        group.Start(slot,
                    service.RangeRequest(object.Bucket, object.Key, sink.Next(), sink.End() - 1, object.ETag),
                    sink, 206);
    };
    auto askNextRange = [&](int slot) {
        if (nextPiece == pieces.size())
            return;
        const auto [first, end] = pieces[nextPiece++];
        sinks[slot]->Begin(first, end);
        ask(slot);
    };
    // What the connections gathered goes to the file whatever ends the download: it was checked on
    // arrival, and a download resumed later need not fetch it again.
    auto flushAll = [&] {
        for (const auto& sink : sinks)
            sink->Flush();
    };

    for (int slot = 0; slot < connections; ++slot) {
        sinks.push_back(std::make_unique<TRangeSink>(stream, advance, object));
        askNextRange(slot);
    }
    try {
        while (group.Running() > 0) {
            for (const TS3TransferGroup::TEnded& ended : group.WaitForEnded()) {
                TRangeSink& sink = *sinks[ended.Tag];
                sink.Flush();
                if (ended.Failure) {
                    if (!ended.BrokeOff || !sink.Retry(ranges.Retries))
                        std::rethrow_exception(ended.Failure);
                    ask(ended.Tag);
                    continue;
                }
                const int status = ended.Response.StatusCode;
                if (status == 412)
                    throw Changed(object);
                if (status != 206 || !sink.HoldsRange(ended.Response.Headers))
                    throw sink.Failed(status);
                if (sink.Next() < sink.End()) {
                    // The answer was whole but shorter than the range: the rest is asked for again.
                    if (!sink.Retry(ranges.Retries))
                        throw TError(QStringLiteral("The download of \"%1\" ended early at byte %2 of %3")
                                         .arg(object.Name, QString::number(sink.Next()),
                                              QString::number(object.Size)));
                    ask(ended.Tag);
                    continue;
                }
                if (rangeDone)
                    rangeDone();
                askNextRange(ended.Tag);
            }
        }
    } catch (...) {
        try {
            flushAll();
        } catch (const TError&) {
            // The file is short of these bytes then; the download's own error is the one to report.
        }
        throw;
    }
}
