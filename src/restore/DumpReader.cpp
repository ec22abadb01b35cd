#include "restore/DumpReader.h"

#include "core/Error.h"

#include <zlib.h>

// The zlib stream of a gzip file, ended with it.
struct TDumpReader::TInflate {
    z_stream stream{};

    TInflate() {
        // 16 + 15: a gzip header and trailer around the largest window.
        if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
            throw Error(QStringLiteral("Cannot start gzip decompression: out of memory"));
    }
    ~TInflate() { inflateEnd(&stream); }
    TInflate(const TInflate&) = delete;
    TInflate& operator=(const TInflate&) = delete;
};

TDumpReader::TDumpReader(const QString& path)
    : file_(path) {
    if (!file_.open(QIODevice::ReadOnly))
        Fail(file_.errorString());
    const QByteArray magic = file_.peek(2);
    if (magic.size() < 2 && file_.error() != QFileDevice::NoError)
        Fail(file_.errorString());
    if (magic == QByteArrayLiteral("\x1f\x8b"))
        inflate_ = std::make_unique<TInflate>();
}

TDumpReader::~TDumpReader() = default;

QByteArray TDumpReader::Read(qsizetype maxSize) {
    if (inflate_)
        return ReadGzip(maxSize);
    QByteArray block(maxSize, Qt::Uninitialized);
    const qint64 count = file_.read(block.data(), maxSize);
    if (count < 0)
        Fail(file_.errorString());
    block.truncate(count);
    return block;
}

qint64 TDumpReader::Consumed() const {
    return file_.pos() - (inflate_ ? inflate_->stream.avail_in : 0);
}

QByteArray TDumpReader::ReadGzip(qsizetype maxSize) {
    z_stream& stream = inflate_->stream;
    QByteArray block(maxSize, Qt::Uninitialized);
    stream.next_out = reinterpret_cast<Bytef*>(block.data());
    stream.avail_out = uInt(maxSize);
    while (stream.avail_out > 0) {
        if (stream.avail_in == 0 && !FillInput()) {
            if (!betweenMembers_)
                Fail(QStringLiteral("It ends inside its gzip data, so it is incomplete"));
            break;
        }
        // Whatever follows a member must be the next one: its header is read as such.
        if (betweenMembers_) {
            inflateReset(&stream);
            betweenMembers_ = false;
        }
        const int result = inflate(&stream, Z_NO_FLUSH);
        if (result == Z_STREAM_END)
            betweenMembers_ = true;
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
    input_.resize(BlockSize);
    const qint64 count = file_.read(input_.data(), BlockSize);
    if (count < 0)
        Fail(file_.errorString());
    inflate_->stream.next_in = reinterpret_cast<Bytef*>(input_.data());
    inflate_->stream.avail_in = uInt(count);
    return count > 0;
}

void TDumpReader::Fail(const QString& reason) const {
    throw Error(QStringLiteral("Cannot read file \"%1\". %2").arg(file_.fileName(), reason));
}
