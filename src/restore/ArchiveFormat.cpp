#include "restore/ArchiveFormat.h"

#include "restore/DumpReader.h"

#include <QByteArray>

#include <algorithm>

namespace {

constexpr qsizetype ProbeSize = 64 * 1024;
constexpr qsizetype TarHeader = 512;

bool IsTextByte(unsigned char c) {
    return c >= 0x20 || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// pg_dump's tar archive starts with its table of contents; the name field is NUL-padded.
bool IsDumpTar(const QByteArray& head) {
    if (head.size() < TarHeader || head.mid(257, 5) != "ustar")
        return false;
    const QByteArray name = head.left(100);
    return name.left(name.indexOf('\0')) == "toc.dat";
}

bool IsText(const QByteArray& head) {
    const auto* begin = reinterpret_cast<const unsigned char*>(head.constData());
    const auto* end = begin + head.size();
    return std::all_of(begin, end, IsTextByte) && !std::all_of(begin, end, IsBlank);
}

} // namespace

TArchiveKind DetectArchiveFormat(const QString& path) {
    TDumpReader reader(path);
    QByteArray head;
    while (head.size() < ProbeSize) {
        const QByteArray block = reader.Read(ProbeSize - head.size());
        if (block.isEmpty())
            break;
        head += block;
    }
    TArchiveKind kind{TArchiveFormat::Unknown, reader.Gzipped()};
    if (head.startsWith("PGDMP"))
        kind.Format = TArchiveFormat::Custom;
    else if (IsDumpTar(head))
        kind.Format = TArchiveFormat::Tar;
    else if (IsText(head))
        kind.Format = TArchiveFormat::PlainSql;
    return kind;
}
