#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

// Reads a backup file from its start the way a client program must get it: a gzip file (pg_dump's
// output through gzip, of any number of members one after the other, as concatenated .gz files are)
// is decompressed as it is read, never onto the disk; any other file comes as it is.
class TDumpReader {
  public:
    static constexpr qsizetype BlockSize = 256 * 1024;

    // Opens the file and tells gzip by its first two bytes (1f 8b). Throws TError "Cannot read file
    // "<path>". <system text>".
    explicit TDumpReader(const QString& path);
    ~TDumpReader();
    TDumpReader(const TDumpReader&) = delete;
    TDumpReader& operator=(const TDumpReader&) = delete;

    bool Gzipped() const { return FInflate != nullptr; }

    // The next bytes of the content, at most maxSize of them; empty at the end and only there. Throws
    // Error "Cannot read file "<path>". <reason>" when the file cannot be read, when its gzip data is
    // damaged or followed by anything but another gzip member, or when it ends inside a member (a file
    // cut short).
    QByteArray Read(qsizetype maxSize = BlockSize);

    // The bytes of the file used so far, and its size: the progress of a gzip file can only be told in
    // the bytes of the file, as the size of its content is not known before the end.
    qint64 Consumed() const;
    qint64 FileSize() const { return FFile.size(); }

  private:
    struct TInflate;

    QByteArray ReadGzip(qsizetype maxSize);
    bool FillInput();
    [[noreturn]] void Fail(const QString& reason) const;

    QFile FFile;
    std::unique_ptr<TInflate> FInflate;
    QByteArray FInput;
    bool FBetweenMembers = false;
};
