#include "restore/DownloadRecord.h"

#include "core/Error.h"
#include "core/Platform.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

namespace {

constexpr qint64 RecordSizeLimit = 64 * 1024;
const QByteArray FirstLine = QByteArrayLiteral("corvane-download 1");

bool ReadNumber(const QByteArray& text, qint64& number) {
    bool ok = false;
    number = text.toLongLong(&ok);
    return ok && number >= 0 && !text.startsWith('+');
}

std::optional<TDownloadRecord> ParseRecord(const QByteArray& content) {
    const QList<QByteArray> lines = content.split('\n');
    if (lines.size() < 4 || lines[0] != FirstLine || !lines.last().isEmpty() ||
        !lines[1].startsWith("etag ") || !lines[2].startsWith("size "))
        return std::nullopt;
    TDownloadRecord record;
    record.ETag = QString::fromUtf8(lines[1].sliced(5));
    if (!ReadNumber(lines[2].sliced(5), record.Size))
        return std::nullopt;
    qint64 previousEnd = -1;
    for (qsizetype i = 3; i + 1 < lines.size(); ++i) {
        const QList<QByteArray> bounds =
            lines[i].startsWith("have ") ? lines[i].sliced(5).split('-') : QList<QByteArray>{};
        qint64 first = 0;
        qint64 end = 0;
        if (bounds.size() != 2 || !ReadNumber(bounds[0], first) || !ReadNumber(bounds[1], end) ||
            first <= previousEnd || first >= end || end > record.Size)
            return std::nullopt;
        record.Extents.emplace_back(first, end);
        previousEnd = end;
    }
    return record;
}

} // namespace

qint64 TDownloadRecord::Held() const {
    qint64 held = 0;
    for (const auto& [first, end] : Extents)
        held += end - first;
    return held;
}

TByteExtents TDownloadRecord::Missing() const {
    TByteExtents missing;
    qint64 at = 0;
    for (const auto& [first, end] : Extents) {
        if (first > at)
            missing.emplace_back(at, first);
        at = end;
    }
    if (at < Size)
        missing.emplace_back(at, Size);
    return missing;
}

std::optional<TDownloadRecord> ReadDownloadRecord(const QString& path) {
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile() || info.size() > RecordSizeLimit)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return ParseRecord(file.read(RecordSizeLimit));
}

void WriteDownloadRecord(const QString& path, const TDownloadRecord& record) {
    QByteArray content =
        FirstLine + "\netag " + record.ETag.toUtf8() + "\nsize " + QByteArray::number(record.Size) + '\n';
    for (const auto& [first, end] : record.Extents)
        content += "have " + QByteArray::number(first) + '-' + QByteArray::number(end) + '\n';
    TExclusiveFile file(path);
    for (qint64 done = 0; done < content.size();) {
        const qint64 written = file.WriteAt(done, content.constData() + done, content.size() - done);
        if (written <= 0)
            throw TError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, SystemErrorText(errno)));
        done += written;
    }
}
