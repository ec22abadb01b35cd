#pragma once

#include <QString>

// What pg_dump wrote: a custom-format archive (-Fc) and a tar archive (-Ft) are restored by
// pg_restore, a plain SQL script (the default) by psql.
enum class TArchiveFormat { Custom, Tar, PlainSql, Unknown };

struct TArchiveKind {
    TArchiveFormat Format = TArchiveFormat::Unknown;
    bool Gzipped = false; // the file is that format compressed by gzip

    friend bool operator==(const TArchiveKind&, const TArchiveKind&) = default;
};

// Tells a backup file's format by its content, never by its name, after decompressing a gzip file's
// start:
// - "PGDMP" at the start: custom;
// - a tar header ("ustar" at byte 257) whose first member is "toc.dat", as pg_dump writes it: tar (any
//   other tar archive is Unknown: pg_restore would not read it);
// - otherwise text, a plain SQL script: the first 64 KiB (or the whole of a shorter file) hold something
//   besides white space and no byte below 0x20 but tab, line feed, vertical tab, form feed and carriage
//   return. Bytes from 0x80 up pass in any order, as a plain dump is in its database's encoding, which
//   need not be UTF-8; binary data shows itself by NUL and other control bytes long before 64 KiB;
// - anything else, an empty file included: Unknown.
// Throws TError "Cannot read file "<path>". <reason>" for a file that cannot be read, or whose gzip data
// is damaged or ends within those first bytes.
TArchiveKind DetectArchiveFormat(const QString& path);
