#include "restore/ExistingBackup.h"

#include "core/Error.h"
#include "restore/DownloadBackup.h"
#include "restore/DownloadRecord.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

bool IsHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

} // namespace

QByteArray PlainMd5Of(const QString& etag) {
    QStringView digits = QStringView(etag).trimmed();
    if (digits.startsWith(u'"'))
        digits = digits.sliced(1);
    if (digits.endsWith(u'"'))
        digits.chop(1);
    if (digits.size() != 32 || !std::all_of(digits.begin(), digits.end(), IsHexDigit))
        return {};
    return digits.toLatin1().toLower();
}

QByteArray FileMd5(const QString& path, std::stop_token stop) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash md5(QCryptographicHash::Md5);
    QByteArray buffer(4 * 1024 * 1024, Qt::Uninitialized);
    for (;;) {
        if (stop.stop_requested())
            throw TOperationStopped(QStringLiteral("Stopped"));
        const qint64 read = file.read(buffer.data(), buffer.size());
        if (read < 0)
            return {};
        if (read == 0)
            return md5.result().toHex();
        md5.addData(QByteArrayView(buffer.constData(), read));
    }
}

TExistingBackup CheckExistingBackup(const QString& targetPath, qint64 size, const QString& etag,
                                    std::stop_token stop) {
    const QFileInfo info(targetPath);
    if (info.isSymLink() || !info.isFile())
        return {false, QStringLiteral("it is not a plain file")};
    if (info.size() != size)
        return {false, QStringLiteral("its size differs")};
    if (const QByteArray md5 = PlainMd5Of(etag); !md5.isEmpty()) {
        if (FileMd5(targetPath, stop) != md5)
            return {false, QStringLiteral("its MD5 differs")};
        return {true, QStringLiteral("MD5 checked")};
    }
    const std::optional<TDownloadRecord> record = ReadDownloadRecord(RecordFileOf(targetPath));
    if (!record || etag.isEmpty() || record->ETag != etag || record->Size != size || record->Held() != size)
        return {false, QStringLiteral("no record of its download names this version")};
    return {true, QStringLiteral("size and ETag only")};
}
