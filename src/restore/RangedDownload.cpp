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
class RangeSink : public TS3BodySink {
  public:
    static constexpr qint64 GatherSize = 256 * 1024;

    RangeSink(TS3DownloadStream& stream, const TS3ProgressEvent& advance, const TRangedObject& object)
        : stream_(stream)
        , advance_(advance)
        , object_(object) {
        gathered_.reserve(GatherSize + 64 * 1024);
    }

    void Begin(qint64 first, qint64 end) {
        next_ = first;
        end_ = end;
        retries_ = 0;
    }

    void Append(const char* data, qint64 count) override {
        if (count > end_ - next_ - gathered_.size())
            throw Error(QStringLiteral("The download of \"%1\" sent more than the %2 bytes announced")
                            .arg(object_.Key, QString::number(object_.Size)));
        gathered_.append(data, count);
        if (gathered_.size() >= GatherSize)
            Flush();
        if (advance_)
            advance_(count);
    }

    // Ranges follow no redirect, so nothing is ever sent again into the same range.
    void Restart() override { gathered_.resize(0); }

    void Flush() {
        stream_.WriteAt(next_, gathered_.constData(), gathered_.size());
        next_ += gathered_.size();
        gathered_.resize(0);
    }

    qint64 Next() const { return next_; }
    qint64 End() const { return end_; }
    // Counts one more attempt from where the range stopped; false once the retries are spent.
    bool Retry(int retries) { return retries_++ < retries; }

  private:
    TS3DownloadStream& stream_;
    const TS3ProgressEvent& advance_;
    const TRangedObject& object_;
    QByteArray gathered_;
    qint64 next_ = 0;
    qint64 end_ = 0;
    int retries_ = 0;
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
    std::vector<std::unique_ptr<RangeSink>> sinks;
    TS3TransferGroup group(service.Limits());
    std::vector<qint64> askedFrom(connections);
    qint64 nextRange = 0;

    auto ask = [&](int slot) {
        RangeSink& sink = *sinks[slot];
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
        sinks.push_back(std::make_unique<RangeSink>(stream, advance, object));
        askNextRange(slot);
    }
    while (group.Running() > 0) {
        for (const TS3TransferGroup::Ended& ended : group.WaitForEnded()) {
            RangeSink& sink = *sinks[ended.Tag];
            sink.Flush();
            if (ended.Failure) {
                if (!ended.BrokeOff || !sink.Retry(ranges.Retries))
                    std::rethrow_exception(ended.Failure);
                ask(ended.Tag);
                continue;
            }
            const int status = ended.Response.StatusCode;
            if (status == 412)
                throw Error(QStringLiteral("The backup \"%1\" changed on the server during the download")
                                .arg(object.Key));
            if (status != 206 ||
                !HoldsRange(ended.Response, askedFrom[ended.Tag], sink.End() - 1, object.Size))
                throw Error(
                    QStringLiteral("The download of \"%1\" failed: the service answered with status %2")
                        .arg(object.Key, QString::number(status)));
            if (sink.Next() < sink.End()) {
                // The answer was whole but shorter than the range: the rest is asked for again.
                if (!sink.Retry(ranges.Retries))
                    throw Error(
                        QStringLiteral("The download of \"%1\" ended early at byte %2 of %3")
                            .arg(object.Key, QString::number(sink.Next()), QString::number(object.Size)));
                ask(ended.Tag);
                continue;
            }
            askNextRange(ended.Tag);
        }
    }
}
