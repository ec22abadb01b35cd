#include "catalogue/CatalogueRecords.h"

#include "catalogue/CatalogueTimestamp.h"
#include "catalogue/NarrowText.h"

#include <cstring>

namespace {

// Large enough for many records, small enough that the last, partly filled block costs little even in
// a catalogue of a few thousand records.
constexpr qsizetype BlockSize = 64 * 1024;
constexpr qint64 Mebibyte = 1024 * 1024;
constexpr std::size_t FolderLimit = 255;

// What a record keeps beside its name, in this order, when it cannot be derived.
enum TKept : quint8 { LowerKept = 1, PathKept = 2, TimeTextKept = 4, SizeMbKept = 8, OffsetKept = 16 };

template <typename T> void Put(char*& at, T value) {
    std::memcpy(at, &value, sizeof value);
    at += sizeof value;
}

template <typename T> T Take(const char*& at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    at += sizeof value;
    return value;
}

void PutText(char*& at, QByteArrayView text) {
    // An empty text may have no data at all, and memcpy from a null pointer is undefined even for no bytes.
    if (text.isEmpty())
        return;
    std::memcpy(at, text.data(), size_t(text.size()));
    at += text.size();
}

template <typename TLength> QByteArrayView TakeText(const char*& at) {
    const auto length = Take<TLength>(at);
    const QByteArrayView text(at, length);
    at += length;
    return text;
}

} // namespace

TRecordTime TRecordTime::FromDateTime(const QDateTime& time) {
    if (!time.isValid())
        return {};
    const qint64 msecs = time.toMSecsSinceEpoch();
    if (time.timeSpec() == Qt::UTC)
        return {TKind::Utc, msecs, 0};
    if (time.timeSpec() == Qt::LocalTime)
        return {TKind::Local, msecs, 0};
    const int offset = time.offsetFromUtc();
    return offset == CatalogueOffsetSeconds ? InCatalogueZone(msecs)
                                            : TRecordTime{TKind::Offset, msecs, offset};
}

QDateTime TRecordTime::ToDateTime() const {
    switch (Kind) {
    case TKind::Invalid:
        return {};
    case TKind::CatalogueZone:
        return QDateTime::fromMSecsSinceEpoch(Msecs, Qt::OffsetFromUTC, CatalogueOffsetSeconds);
    case TKind::Offset:
        return QDateTime::fromMSecsSinceEpoch(Msecs, Qt::OffsetFromUTC, OffsetSeconds);
    case TKind::Utc:
        return QDateTime::fromMSecsSinceEpoch(Msecs, Qt::UTC);
    case TKind::Local:
        return QDateTime::fromMSecsSinceEpoch(Msecs, Qt::LocalTime);
    }
    return {};
}

struct TCatalogueRecords::TExtras {
    QByteArrayView LowerName;
    QByteArrayView Path;     // when kept
    QByteArrayView TimeText; // when kept
    qint64 SizeMb = 0;
    int OffsetSeconds = 0;
};

TCatalogueRecords::TCatalogueRecords(qsizetype textWidth, qsizetype pathWidth)
    : FTextWidth(textWidth)
    , FPathWidth(pathWidth) {
    Q_ASSERT(textWidth <= 255 && pathWidth <= 0xFFFF);
}

TCatalogueRecords::~TCatalogueRecords() = default;

void TCatalogueRecords::Append(const TNarrowRecord& record) {
    const QByteArrayView name = NarrowPrefix(record.Name, FTextWidth);
    const QByteArrayView path = NarrowPrefix(record.Path, FPathWidth);
    const QByteArrayView timeText = NarrowPrefix(record.LastModified, FTextWidth);
    TStored stored;
    stored.Size = record.Size;
    stored.Msecs = record.Time.Msecs;
    stored.TimeKind = record.Time.Kind;
    stored.NameLength = quint8(name.size());
    qsizetype length = name.size();

    QByteArray lowerName;
    if (!IsLowerAscii(name)) {
        lowerName = LowerNarrow(name);
        if (lowerName != name) {
            stored.Flags |= LowerKept;
            length += qsizetype(sizeof(quint16)) + lowerName.size();
        }
    }
    const int folder = FolderOf(path, name);
    if (folder < 0) {
        stored.Flags |= PathKept;
        length += qsizetype(sizeof(quint16)) + path.size();
    } else {
        stored.Folder = quint8(folder);
    }
    const auto canonical = record.Time.Kind == TRecordTime::TKind::Invalid
                               ? std::nullopt
                               : CanonicalTimestampText(record.Time.Msecs);
    if (!canonical || timeText != QByteArrayView(canonical->data(), qsizetype(canonical->size()))) {
        stored.Flags |= TimeTextKept;
        length += qsizetype(sizeof(quint8)) + timeText.size();
    }
    if (record.Size_mb != record.Size / Mebibyte) {
        stored.Flags |= SizeMbKept;
        length += qsizetype(sizeof(qint64));
    }
    if (record.Time.Kind == TRecordTime::TKind::Offset) {
        stored.Flags |= OffsetKept;
        length += qsizetype(sizeof(qint32));
    }

    char* at = Reserve(length, &stored.TextAt);
    PutText(at, name);
    if (stored.Flags & LowerKept) {
        Put(at, quint16(lowerName.size()));
        PutText(at, lowerName);
    }
    if (stored.Flags & PathKept) {
        Put(at, quint16(path.size()));
        PutText(at, path);
    }
    if (stored.Flags & TimeTextKept) {
        Put(at, quint8(timeText.size()));
        PutText(at, timeText);
    }
    if (stored.Flags & SizeMbKept)
        Put(at, qint64(record.Size_mb));
    if (stored.Flags & OffsetKept)
        Put(at, qint32(record.Time.OffsetSeconds));
    if (FCount % ChunkRecords == 0)
        FChunks.push_back(std::make_unique<TStored[]>(size_t(ChunkRecords)));
    At(FCount++) = stored;
}

void TCatalogueRecords::Erase(qsizetype index) {
    // The record's bytes stay in their block until the records are cleared.
    for (qsizetype i = index; i + 1 < FCount; ++i)
        At(i) = At(i + 1);
    if (--FCount % ChunkRecords == 0)
        FChunks.pop_back();
}

void TCatalogueRecords::Clear() {
    FChunks = std::vector<std::unique_ptr<TStored[]>>();
    FCount = 0;
    FBlocks.clear();
    FBlockUsed = 0;
    FFolders.clear();
    FLastFolder = -1;
}

QByteArrayView TCatalogueRecords::Name(qsizetype index) const {
    const TStored& record = At(index);
    return {TextAt(record.TextAt), record.NameLength};
}

QByteArrayView TCatalogueRecords::LowerName(qsizetype index) const {
    const TStored& record = At(index);
    return record.Flags & LowerKept ? ExtrasOf(record).LowerName : Name(index);
}

QByteArray TCatalogueRecords::LastModified(qsizetype index) const {
    const TStored& record = At(index);
    if (record.Flags & TimeTextKept)
        return ExtrasOf(record).TimeText.toByteArray();
    const auto text = CanonicalTimestampText(record.Msecs);
    return QByteArray(text->data(), qsizetype(text->size()));
}

QByteArray TCatalogueRecords::Path(qsizetype index) const {
    const TStored& record = At(index);
    if (record.Flags & PathKept)
        return ExtrasOf(record).Path.toByteArray();
    QByteArray path = FFolders[record.Folder];
    path.append(Name(index));
    return path;
}

qint64 TCatalogueRecords::Size_mb(qsizetype index) const {
    const TStored& record = At(index);
    return record.Flags & SizeMbKept ? ExtrasOf(record).SizeMb : record.Size / Mebibyte;
}

TRecordTime TCatalogueRecords::Time(qsizetype index) const {
    const TStored& record = At(index);
    const int offset = record.Flags & OffsetKept ? ExtrasOf(record).OffsetSeconds : 0;
    return {record.TimeKind, record.Msecs, offset};
}

TCatalogueRecords::TExtras TCatalogueRecords::ExtrasOf(const TStored& record) const {
    TExtras extras;
    const char* at = TextAt(record.TextAt);
    extras.LowerName = QByteArrayView(at, record.NameLength);
    at += record.NameLength;
    if (record.Flags & LowerKept)
        extras.LowerName = TakeText<quint16>(at);
    if (record.Flags & PathKept)
        extras.Path = TakeText<quint16>(at);
    if (record.Flags & TimeTextKept)
        extras.TimeText = TakeText<quint8>(at);
    if (record.Flags & SizeMbKept)
        extras.SizeMb = Take<qint64>(at);
    if (record.Flags & OffsetKept)
        extras.OffsetSeconds = Take<qint32>(at);
    return extras;
}

char* TCatalogueRecords::Reserve(qsizetype length, qint64* at) {
    Q_ASSERT(length <= BlockSize);
    if (FBlocks.empty() || FBlockUsed + length > BlockSize) {
        FBlocks.push_back(std::make_unique_for_overwrite<char[]>(BlockSize));
        FBlockUsed = 0;
    }
    *at = qint64(FBlocks.size() - 1) * BlockSize + FBlockUsed;
    char* start = FBlocks.back().get() + FBlockUsed;
    FBlockUsed += length;
    return start;
}

const char* TCatalogueRecords::TextAt(qint64 at) const {
    return FBlocks[size_t(at / BlockSize)].get() + at % BlockSize;
}

int TCatalogueRecords::FolderOf(QByteArrayView path, QByteArrayView name) {
    if (!path.endsWith(name))
        return -1;
    const QByteArrayView folder = path.first(path.size() - name.size());
    if (FLastFolder >= 0 && FFolders[size_t(FLastFolder)] == folder)
        return FLastFolder;
    for (std::size_t i = 0; i < FFolders.size(); ++i) {
        if (FFolders[i] == folder)
            return FLastFolder = int(i);
    }
    if (FFolders.size() >= FolderLimit)
        return -1;
    FFolders.push_back(folder.toByteArray());
    return FLastFolder = int(FFolders.size() - 1);
}
