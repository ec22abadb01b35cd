#pragma once

#include <QString>

// The local file of a backup: the working folder joined with the backup's relative name by the system's
// separator ("/", on Windows "\"). A working folder that already ends with "/" or "\" gets no second
// separator; an empty working folder gives the name alone (the current folder), an empty name the working
// folder alone. Throws "Invalid characters in path" for a control character, '"', '<', '>' or '|' in either
// part, and for a name that would leave the working folder: a rooted name or one with a ".." segment.
QString TargetPath(const QString& workingFolder, const QString& name);
