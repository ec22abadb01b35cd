#pragma once

#include <QString>

// Makes sure that filePath exists as a file only its owner can read or write (0600), in a folder only
// its owner can enter (0700). Missing folders are created with 0700 and a missing file with 0600 from
// the start, so there is no moment in which they are open to other users whatever the umask; group and
// other permissions of an existing file are taken away. False when the folder or the file cannot be
// made.
bool PrepareOwnerOnlyFile(const QString& filePath);
