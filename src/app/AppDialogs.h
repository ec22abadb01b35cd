#pragma once

#include <QString>

#include <optional>

class QWidget;

// The "Restore backup" prompt: one field labelled "Database" holding the proposed name, all of it
// selected, at most 255 characters, OK as the default button. The confirmed text, or none on cancel.
std::optional<QString> PromptDatabaseName(QWidget* parent, const QString& proposed);

// The folder picker titled "Backup directory": folders only, nothing preselected. The chosen folder's
// path, or none on cancel.
std::optional<QString> PickBackupFolder(QWidget* parent);

// The question after a restore in which pg_restore ignored errors: the standard question box titled
// "Restore backup" saying how many errors, that their messages are in the log, and what each answer
// does. True for "Keep" (the restored database replaces the named one), false for "Discard", the
// default, and for Escape (the named database stays as it is).
bool AskKeepRestoredDatabase(QWidget* parent, const QString& database, int errorCount);
