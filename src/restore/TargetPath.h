#pragma once

#include <QString>

// The longest local file name, in UTF-8 bytes: room is left for the ".part.etag" of a download's record
// within the 255 that file systems allow.
constexpr qsizetype LocalNameBytes = 245;

// The file name a backup gets in the working folder, the same on every system. Names are keys from the
// bucket, so they are not trusted:
// - anything that could point outside the working folder (a rooted, drive-relative or extended-length
//   name, a ".." segment) throws "Invalid characters in path";
// - a name Windows cannot hold throws 'The backup name "<name>" cannot be a file name: <why>': a control
//   character or one of : * ? " < > |, a part ending with a dot or a space, or a device name (CON, PRN,
//   AUX, NUL, COM1 to COM9, LPT1 to LPT9, with an extension or not); the same rule on every system, so that
//   a backup that one user can fetch another can too;
// - a name with sub-folders ("sub/notes.txt", "/" or "\") becomes one flat name, its parts joined by "_"
//   and its short hash before the extension ("sub_notes~1a2b3c4d.txt"): every file lives right in the
//   working folder, so no link inside it can lead a write or a removal elsewhere;
// - a name longer than LocalNameBytes is cut to fit, with its short hash (NameWithinBytes).
// An empty name throws "The backup has no name".
QString LocalFileName(const QString& name);

// The local file of a backup: the working folder joined with LocalFileName(name) by the system's
// separator ("/", on Windows "\"). A working folder that already ends with "/" or "\" gets no second
// separator; an empty working folder gives the file name alone (the current folder). Throws as
// LocalFileName, and "Invalid characters in path" for a control character, '"', '<', '>' or '|' in the
// working folder.
QString TargetPath(const QString& workingFolder, const QString& name);
