#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <memory>
#include <vector>

// A record's last-modified time without QDateTime's heap block: milliseconds since 1970 UTC and how
// the time is shown. The catalogue's own times are all shown at its fixed offset.
struct TRecordTime {
    enum class TKind : quint8 { Invalid, CatalogueZone, Offset, Utc, Local };
    TKind Kind = TKind::Invalid;
    qint64 Msecs = 0;
    int OffsetSeconds = 0; // for Offset

    static TRecordTime InCatalogueZone(qint64 msecs) { return {TKind::CatalogueZone, msecs, 0}; }
    static TRecordTime FromDateTime(const QDateTime& time);
    QDateTime ToDateTime() const;
};

// The fields of one record as the store takes them: text as UTF-8, cut by the store to the widths
// given to it at whole characters.
struct TNarrowRecord {
    QByteArrayView Name;
    QByteArrayView LastModified;
    qint64 Size = 0;
    QByteArrayView Path;
    qint64 Size_mb = 0;
    TRecordTime Time;
};

// The catalogue's records, kept lean for folders of a million backups: 32 bytes a record, and its
// name's bytes in shared blocks. What follows from other fields is not stored: the path when it
// is a known folder followed by the name, the size in MiB when it is the size divided down, the
// last-modified text when it is the time as S3 writes it, the lower-case name when it equals the
// name. Anything else is kept beside the name.
class TCatalogueRecords {
  public:
    TCatalogueRecords(qsizetype textWidth, qsizetype pathWidth);
    ~TCatalogueRecords();
    TCatalogueRecords(TCatalogueRecords&&) noexcept = default;
    TCatalogueRecords& operator=(TCatalogueRecords&&) noexcept = default;

    void Append(const TNarrowRecord& record);
    void Erase(qsizetype index);
    void Clear();
    qsizetype Count() const { return FCount; }

    QByteArrayView Name(qsizetype index) const;
    // The name as simple lower-casing gives it (see LowerNarrow), which the filter reads.
    QByteArrayView LowerName(qsizetype index) const;
    QByteArray LastModified(qsizetype index) const;
    qint64 Size(qsizetype index) const { return At(index).Size; }
    QByteArray Path(qsizetype index) const;
    qint64 Size_mb(qsizetype index) const;
    TRecordTime Time(qsizetype index) const;

  private:
    struct TStored {
        qint64 TextAt = 0; // where the name and what is kept beside it start
        qint64 Size = 0;
        qint64 Msecs = 0;
        quint8 NameLength = 0;
        quint8 Folder = 0; // the path's folder, when the path is not kept
        quint8 Flags = 0;
        TRecordTime::TKind TimeKind = TRecordTime::TKind::Invalid;
    };
    // The records lie in chunks of a fixed size, so the store grows a chunk at a time and never holds
    // a half-empty array twice the records' size, nor copies them all into one while it grows.
    static constexpr qsizetype ChunkRecords = 1024;
    const TStored& At(qsizetype index) const {
        return FChunks[size_t(index / ChunkRecords)][size_t(index % ChunkRecords)];
    }
    TStored& At(qsizetype index) {
        return FChunks[size_t(index / ChunkRecords)][size_t(index % ChunkRecords)];
    }
    struct TExtras;
    TExtras ExtrasOf(const TStored& record) const;
    // Room for length bytes that do not cross a block; returns where they start.
    char* Reserve(qsizetype length, qint64* at);
    const char* TextAt(qint64 at) const;
    int FolderOf(QByteArrayView path, QByteArrayView name);

    qsizetype FTextWidth;
    qsizetype FPathWidth;
    std::vector<std::unique_ptr<TStored[]>> FChunks;
    qsizetype FCount = 0;
    std::vector<std::unique_ptr<char[]>> FBlocks;
    qsizetype FBlockUsed = 0;
    std::vector<QByteArray> FFolders;
    int FLastFolder = -1;
};
