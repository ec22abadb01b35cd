#include "restore/DumpReader.h"

#include "core/Error.h"

#include <zlib.h>

// The zlib stream of a gzip file, ended with it.
struct TDumpReader::TInflate {
    z_stream Stream{};

    TInflate() {
        // 16 + 15: a gzip header and trailer around the largest window.
        if (inflateInit2(&Stream, 16 + MAX_WBITS) != Z_OK)
            throw TError(QStringLiteral("Cannot start gzip decompression: out of memory"));
    }
    ~TInflate() { inflateEnd(&Stream); }
    TInflate(const TInflate&) = delete;
    TInflate& operator=(const TInflate&) = delete;
};

TDumpReader::TDumpReader(const QString& path)
    : FFile(path) {
    if (!FFile.open(QIODevice::ReadOnly))
        Fail(FFile.errorString());
    const QByteArray magic = FFile.peek(2);
    if (magic.size() < 2 && FFile.error() != QFileDevice::NoError)
        Fail(FFile.errorString());
    if (magic == QByteArrayLiteral("\x1f\x8b"))
        FInflate = std::make_unique<TInflate>();
}

TDumpReader::~TDumpReader() = default;

QByteArray TDumpReader::Read(qsizetype maxSize) {
    if (FInflate)
        return ReadGzip(maxSize);
    QByteArray block(maxSize, Qt::Uninitialized);
    const qint64 count = FFile.read(block.data(), maxSize);
    if (count < 0)
        Fail(FFile.errorString());
    block.truncate(count);
    return block;
}

qint64 TDumpReader::Consumed() const {
    return FFile.pos() - (FInflate ? FInflate->Stream.avail_in : 0);
}

QByteArray TDumpReader::ReadGzip(qsizetype maxSize) {
    z_stream& stream = FInflate->Stream;
    QByteArray block(maxSize, Qt::Uninitialized);
    stream.next_out = reinterpret_cast<Bytef*>(block.data());
    stream.avail_out = uInt(maxSize);
    while (stream.avail_out > 0) {
        if (stream.avail_in == 0 && !FillInput()) {
            if (!FBetweenMembers)
                Fail(QStringLiteral("It ends inside its gzip data, so it is incomplete"));
            break;
        }
        // Whatever follows a member must be the next one: its header is read as such.
        if (FBetweenMembers) {
            inflateReset(&stream);
            FBetweenMembers = false;
        }
        const int result = inflate(&stream, Z_NO_FLUSH);
        if (result == Z_STREAM_END)
            FBetweenMembers = true;
        else if (result != Z_OK)
            Fail(QStringLiteral("Its gzip data is damaged at byte %1 (%2)")
                     .arg(QString::number(Consumed()),
                          QString::fromLatin1(stream.msg ? stream.msg : "no further detail")));
    }
    block.truncate(maxSize - stream.avail_out);
    return block;
}

// Refills the compressed bytes that zlib reads; false at the end of the file.
bool TDumpReader::FillInput() {
    FInput.resize(BlockSize);
    const qint64 count = FFile.read(FInput.data(), BlockSize);
    if (count < 0)
        Fail(FFile.errorString());
    FInflate->Stream.next_in = reinterpret_cast<Bytef*>(FInput.data());
    FInflate->Stream.avail_in = uInt(count);
    return count > 0;
}

void TDumpReader::Fail(const QString& reason) const {
    throw TError(QStringLiteral("Cannot read file \"%1\". %2").arg(FFile.fileName(), reason));
}
