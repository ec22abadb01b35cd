#include "restore/RangedDownload.h"

#include "core/Error.h"
#include "storage/S3TransferGroup.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

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

    void Append(const char* data, qint64 count) override {
        if (count > FEnd - FNext - FGathered.size())
            throw TError(QStringLiteral("The download of \"%1\" sent more than the %2 bytes announced")
                             .arg(FObject.Key, QString::number(FObject.Size)));
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
    int FRetries = 0;
};

// Whether a 206 answer holds the bytes asked for, by its Content-Range "bytes <first>-<last>/<size>".
bool HoldsRange(const TS3HttpResponse& response, qint64 first, qint64 last, qint64 size) {
    return response.Headers.Value(QStringLiteral("Content-Range")).trimmed() ==
           QStringLiteral("bytes %1-%2/%3").arg(first).arg(last).arg(size);
}

} // namespace

void FetchInRanges(TS3StorageService& service, const TRangedObject& object, const TDownloadRanges& ranges,
                   TS3DownloadStream& stream, const TS3ProgressEvent& advance) {
    const qint64 rangeCount = (object.Size + ranges.RangeSize - 1) / ranges.RangeSize;
    const int connections = int(std::min<qint64>(ranges.Connections, rangeCount));
    // The sinks outlive the group, whose transfers write into them.
    std::vector<std::unique_ptr<TRangeSink>> sinks;
    TS3TransferGroup group(service.Limits());
    std::vector<qint64> askedFrom(connections);
    qint64 nextRange = 0;

    auto ask = [&](int slot) {
        TRangeSink& sink = *sinks[slot];
        askedFrom[slot] = sink.Next();
        group.Start(slot,
                    service.RangeRequest(object.Bucket, object.Key, sink.Next(), sink.End() - 1, object.ETag),
                    sink, 206);
    };
    auto askNextRange = [&](int slot) {
        if (nextRange == rangeCount)
            return;
        const qint64 first = nextRange++ * ranges.RangeSize;
        sinks[slot]->Begin(first, std::min(first + ranges.RangeSize, object.Size));
        ask(slot);
    };

    for (int slot = 0; slot < connections; ++slot) {
        sinks.push_back(std::make_unique<TRangeSink>(stream, advance, object));
        askNextRange(slot);
    }
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
                throw TError(QStringLiteral("The backup \"%1\" changed on the server during the download")
                                 .arg(object.Key));
            if (status != 206 ||
                !HoldsRange(ended.Response, askedFrom[ended.Tag], sink.End() - 1, object.Size))
                throw TError(
                    QStringLiteral("The download of \"%1\" failed: the service answered with status %2")
                        .arg(object.Key, QString::number(status)));
            if (sink.Next() < sink.End()) {
                // The answer was whole but shorter than the range: the rest is asked for again.
                if (!sink.Retry(ranges.Retries))
                    throw TError(
                        QStringLiteral("The download of \"%1\" ended early at byte %2 of %3")
                            .arg(object.Key, QString::number(sink.Next()), QString::number(object.Size)));
                ask(ended.Tag);
                continue;
            }
            askNextRange(ended.Tag);
        }
    }
}
