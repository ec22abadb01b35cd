#pragma once

#include "core/Error.h"

#include <QString>
#include <QtGlobal>

#include <optional>

class QProcess;

// The calls that differ between operating systems, in one place. PlatformPosix.cpp implements them for
// Linux and the other POSIX systems, PlatformWindows.cpp for Windows.

// Raised by TExclusiveFile when another TExclusiveFile (in this process or another) holds the file.
class TFileInUse : public TError {
  public:
    using TError::TError;
};

// A local file opened for reading and writing by this process alone: every other TExclusiveFile on the
// same path is refused while this one is open, so two downloads can never write into the same file (on
// Windows no other program may open it at all meanwhile). The file is created when missing and is not
// inherited by programs started meanwhile. A link at the path is never followed: a download must not
// write into whatever file a link planted there names.
class TExclusiveFile {
  public:
    enum class TExisting { Cut, Keep };

    // Throws TError "Cannot create file "<path>". <system text>" when the file cannot be created, opened,
    // locked or cut, or when the path names a symbolic link; TFileInUse with that text when another
    // TExclusiveFile holds it. An existing file is cut to zero length (unless existing is Keep), but only
    // once the lock shows that nobody else writes into it.
    explicit TExclusiveFile(const QString& path, TExisting existing = TExisting::Cut);
    ~TExclusiveFile();
    TExclusiveFile(const TExclusiveFile&) = delete;
    TExclusiveFile& operator=(const TExclusiveFile&) = delete;

    // Writes at the current position; the number of bytes written, which may be fewer than asked, or -1.
    qint64 Write(const char* data, qint64 count);
    // Writes at offset, or reads from it, without using or moving the current position: the number of
    // bytes written or read, which may be fewer than asked (0 when reading at the end), or -1. A read may
    // run on another thread than the writes.
    qint64 WriteAt(qint64 offset, const char* data, qint64 count);
    qint64 ReadAt(qint64 offset, char* data, qint64 count) const;
    // These throw TError with the system's reason.
    qint64 Position() const;
    void SetPosition(qint64 position);
    qint64 Size() const;
    void Resize(qint64 size);

  private:
    qintptr FHandle;
};

// Puts a file on the list of files removed should the process be ended by a signal while this object
// lives (SIGTERM, SIGINT or SIGHUP on POSIX systems): a download that cannot be continued registers its
// partial file, so that a killed process leaves none of those behind. The process then ends as the
// signal would have ended it. Register a file only once this process has created it, and only while it may
// go.
class TRemovedIfKilled {
  public:
    // Throws TError when the list is full (it holds far more files than the tool ever writes at once).
    explicit TRemovedIfKilled(const QString& path);
    ~TRemovedIfKilled();
    TRemovedIfKilled(const TRemovedIfKilled&) = delete;
    TRemovedIfKilled& operator=(const TRemovedIfKilled&) = delete;

  private:
    int FSlot;
};

// Removes a file. Throws TError "Cannot delete file "<path>". <system text>" when it is there and stays.
void RemoveFile(const QString& path);

// Gives the file at from the name to, replacing what is there; a link at either name is renamed or
// replaced itself, never followed. Throws TError "Cannot rename file "<from>" to "<to>". <system text>".
void RenameFile(const QString& from, const QString& to);

// Makes a program that process starts run hidden: without a console window and without the terminal the
// tool was started from, so it can never stop to ask for input there. On Linux the program is also
// killed when the thread that started it ends, Corvane's death included. Call KeepWithThisProcess once
// it has started.
void StartHidden(QProcess& process);

// Ties a program that StartHidden started, and that has started, to this process: whatever way this
// process ends, the program and whatever it started end too. On Windows that is a job object that ends
// its processes when its last handle, held by this process alone, closes; the program was started
// suspended, so it runs from here on, in the job, and nothing it starts can escape it. On Linux
// StartHidden has done it.
void KeepWithThisProcess(QProcess& process);

// Asks a running program that StartHidden started to end, as the system asks programs to end (SIGTERM to
// its process group on POSIX systems, so that the helpers it started end too); it may take a moment.
void AskToEnd(QProcess& process);
// Ends a running program that StartHidden started at once, with the helpers it started where the system
// tells them apart.
void ForceEnd(QProcess& process);

// The file name of a client program as this system's command lines show it: "dropdb" here, "dropdb.exe"
// on Windows; started by that name, it is found through PATH.
QString ProgramFileName(const QString& baseName);

// folder and name joined by this system's separator ("/", on Windows "\"). A folder that already ends
// with "/" or "\" gets no second separator.
QString JoinNativePath(const QString& folder, const QString& name);

// Whether a client program receives the text exactly as one of its arguments. PostgreSQL's programs on
// Windows read their command line in the ANSI code page, where a character it lacks turns into "?" (or
// a look-alike): true there only when that code page holds every character. Always true on POSIX
// systems, whose programs get the bytes as they are.
bool ProgramArgumentsCarry(const QString& text);
// How a message names the code page of the client programs' arguments ("Windows' ANSI code page 1252").
QString ProgramArgumentsCodePage();

// The proxy this system's user chose for requests to url, as libcurl takes it ("http://host:port"): on
// Windows the user's Internet settings, manual or through a PAC script (which may take a moment the first
// time a host is asked for; the answer is kept for the process's life); an empty text when they send the
// request direct. Nothing when there are no such settings apart from the environment's proxy variables,
// which libcurl reads by itself (POSIX systems).
std::optional<QString> UserProxyFor(const QString& url);
