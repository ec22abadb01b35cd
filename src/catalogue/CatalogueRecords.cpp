#include "catalogue/CatalogueRecords.h"

#include "catalogue/CatalogueTimestamp.h"
#include "catalogue/NarrowText.h"

#include <cstring>

namespace {

// Large enough for many records, small enough that the last, partly filled block costs little.
constexpr qsizetype BlockSize = 256 * 1024;
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
    QByteArrayView lowerName;
    QByteArrayView path;     // when kept
    QByteArrayView timeText; // when kept
    qint64 sizeMb = 0;
    int offsetSeconds = 0;
};

TCatalogueRecords::TCatalogueRecords(qsizetype textWidth, qsizetype pathWidth)
    : textWidth_(textWidth)
    , pathWidth_(pathWidth) {
    Q_ASSERT(textWidth <= 255 && pathWidth <= 0xFFFF);
}

TCatalogueRecords::~TCatalogueRecords() = default;

void TCatalogueRecords::Append(const TNarrowRecord& record) {
    const QByteArrayView name = NarrowPrefix(record.Name, textWidth_);
    const QByteArrayView path = NarrowPrefix(record.Path, pathWidth_);
    const QByteArrayView timeText = NarrowPrefix(record.LastModified, textWidth_);
    TStored stored;
    stored.size = record.Size;
    stored.msecs = record.Time.Msecs;
    stored.timeKind = record.Time.Kind;
    stored.nameLength = quint8(name.size());
    qsizetype length = name.size();

    QByteArray lowerName;
    if (!IsLowerAscii(name)) {
        lowerName = LowerNarrow(name);
        if (lowerName != name) {
            stored.flags |= LowerKept;
            length += qsizetype(sizeof(quint16)) + lowerName.size();
        }
    }
    const int folder = FolderOf(path, name);
    if (folder < 0) {
        stored.flags |= PathKept;
        length += qsizetype(sizeof(quint16)) + path.size();
    } else {
        stored.folder = quint8(folder);
    }
    const auto canonical = record.Time.Kind == TRecordTime::TKind::Invalid
                               ? std::nullopt
                               : CanonicalTimestampText(record.Time.Msecs);
    if (!canonical || timeText != QByteArrayView(canonical->data(), qsizetype(canonical->size()))) {
        stored.flags |= TimeTextKept;
        length += qsizetype(sizeof(quint8)) + timeText.size();
    }
    if (record.Size_mb != record.Size / Mebibyte) {
        stored.flags |= SizeMbKept;
        length += qsizetype(sizeof(qint64));
    }
    if (record.Time.Kind == TRecordTime::TKind::Offset) {
        stored.flags |= OffsetKept;
        length += qsizetype(sizeof(qint32));
    }

    char* at = Reserve(length, &stored.textAt);
    PutText(at, name);
    if (stored.flags & LowerKept) {
        Put(at, quint16(lowerName.size()));
        PutText(at, lowerName);
    }
    if (stored.flags & PathKept) {
        Put(at, quint16(path.size()));
        PutText(at, path);
    }
    if (stored.flags & TimeTextKept) {
        Put(at, quint8(timeText.size()));
        PutText(at, timeText);
    }
    if (stored.flags & SizeMbKept)
        Put(at, qint64(record.Size_mb));
    if (stored.flags & OffsetKept)
        Put(at, qint32(record.Time.OffsetSeconds));
    records_.push_back(stored);
}

void TCatalogueRecords::Erase(qsizetype index) {
    // The record's bytes stay in their block until the records are cleared.
    records_.erase(records_.begin() + index);
}

void TCatalogueRecords::Clear() {
    records_ = std::vector<TStored>();
    blocks_.clear();
    blockUsed_ = 0;
    folders_.clear();
    lastFolder_ = -1;
}

QByteArrayView TCatalogueRecords::Name(qsizetype index) const {
    const TStored& record = records_[size_t(index)];
    return {TextAt(record.textAt), record.nameLength};
}

QByteArrayView TCatalogueRecords::LowerName(qsizetype index) const {
    const TStored& record = records_[size_t(index)];
    return record.flags & LowerKept ? ExtrasOf(record).lowerName : Name(index);
}

QByteArray TCatalogueRecords::LastModified(qsizetype index) const {
    const TStored& record = records_[size_t(index)];
    if (record.flags & TimeTextKept)
        return ExtrasOf(record).timeText.toByteArray();
    const auto text = CanonicalTimestampText(record.msecs);
    return QByteArray(text->data(), qsizetype(text->size()));
}

QByteArray TCatalogueRecords::Path(qsizetype index) const {
    const TStored& record = records_[size_t(index)];
    if (record.flags & PathKept)
        return ExtrasOf(record).path.toByteArray();
    QByteArray path = folders_[record.folder];
    path.append(Name(index));
    return path;
}

qint64 TCatalogueRecords::Size_mb(qsizetype index) const {
    const TStored& record = records_[size_t(index)];
    return record.flags & SizeMbKept ? ExtrasOf(record).sizeMb : record.size / Mebibyte;
}

TRecordTime TCatalogueRecords::Time(qsizetype index) const {
    const TStored& record = records_[size_t(index)];
    const int offset = record.flags & OffsetKept ? ExtrasOf(record).offsetSeconds : 0;
    return {record.timeKind, record.msecs, offset};
}

TCatalogueRecords::TExtras TCatalogueRecords::ExtrasOf(const TStored& record) const {
    TExtras extras;
    const char* at = TextAt(record.textAt);
    extras.lowerName = QByteArrayView(at, record.nameLength);
    at += record.nameLength;
    if (record.flags & LowerKept)
        extras.lowerName = TakeText<quint16>(at);
    if (record.flags & PathKept)
        extras.path = TakeText<quint16>(at);
    if (record.flags & TimeTextKept)
        extras.timeText = TakeText<quint8>(at);
    if (record.flags & SizeMbKept)
        extras.sizeMb = Take<qint64>(at);
    if (record.flags & OffsetKept)
        extras.offsetSeconds = Take<qint32>(at);
    return extras;
}

char* TCatalogueRecords::Reserve(qsizetype length, qint64* at) {
    Q_ASSERT(length <= BlockSize);
    if (blocks_.empty() || blockUsed_ + length > BlockSize) {
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(BlockSize));
        blockUsed_ = 0;
    }
    *at = qint64(blocks_.size() - 1) * BlockSize + blockUsed_;
    char* start = blocks_.back().get() + blockUsed_;
    blockUsed_ += length;
    return start;
}

const char* TCatalogueRecords::TextAt(qint64 at) const {
    return blocks_[size_t(at / BlockSize)].get() + at % BlockSize;
}

int TCatalogueRecords::FolderOf(QByteArrayView path, QByteArrayView name) {
    if (!path.endsWith(name))
        return -1;
    const QByteArrayView folder = path.first(path.size() - name.size());
    if (lastFolder_ >= 0 && folders_[size_t(lastFolder_)] == folder)
        return lastFolder_;
    for (std::size_t i = 0; i < folders_.size(); ++i) {
        if (folders_[i] == folder)
            return lastFolder_ = int(i);
    }
    if (folders_.size() >= FolderLimit)
        return -1;
    folders_.push_back(folder.toByteArray());
    return lastFolder_ = int(folders_.size() - 1);
}
