#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

// The "Restore backup" prompt: one field labelled "Database" holding the proposed name, all of it
// selected, at most 255 characters, OK as the default button. The confirmed text, or none on cancel.
std::optional<QString> PromptDatabaseName(QWidget* parent, const QString& proposed);

// The "Database password" prompt: a masked field for the password of the database user, saying when the
// server refused the one given before. The typed password, or none on cancel.
std::optional<QString> PromptDatabasePassword(QWidget* parent, const QString& user, bool refused);

// For tests: the next PromptDatabasePassword call shows no prompt and returns what answer gives for the
// user instead (none: cancelled). Later calls show the prompt again.
void SetNextDatabasePasswordAnswer(std::function<std::optional<QString>(const QString& user)> answer);

// The question before a restore into a database that exists, titled "Replace database": its name, size
// and owner, and that the restore replaces it. True for "&Replace"; false for "Cancel", the default, and
// for Escape.
bool AskReplaceDatabase(QWidget* parent, const QString& database, const QString& size, const QString& owner);

// For tests: the next AskReplaceDatabase call shows no question and returns what answer gives for the
// database instead. Later calls ask again.
void SetNextReplaceDatabaseAnswer(std::function<bool(const QString& database)> answer);

// The question when the working folder holds a file of the backup's name that is not this backup, titled
// "Replace file": its path, that a download replaces it only once the backup is whole, and that Cancel
// leaves it. True for "&Replace"; false for "Cancel", the default, and for Escape.
bool AskReplaceBackupFile(QWidget* parent, const QString& path);

// For tests: the next AskReplaceBackupFile call shows no question and returns what answer gives for the
// path instead. Later calls ask again.
void SetNextReplaceBackupFileAnswer(std::function<bool(const QString& path)> answer);

// The question after the server check found temporary databases that an earlier restore left behind:
// whether to drop them. Keep is the default and what Escape answers.
bool AskDropLeftoverDatabases(QWidget* parent, const QStringList& names);

// For tests: the next AskDropLeftoverDatabases call shows no question and returns what answer gives for
// the names instead.
void SetNextLeftoverDatabasesAnswer(std::function<bool(const QStringList& names)> answer);

// The folder picker (TBackupFolderPicker), opened at the current folder when it exists. The chosen
// folder's path, or none on cancel.
std::optional<QString> PickBackupFolder(QWidget* parent, const QString& currentFolder);

// For tests: the next PromptDatabaseName call shows no prompt and returns what answer gives for the
// proposed name instead (none: cancelled). Later calls show the prompt again.
void SetNextDatabaseNameAnswer(std::function<std::optional<QString>(const QString& proposed)> answer);

// For tests: the next PickBackupFolder call shows no picker and returns what answer gives for the
// current folder instead (none: cancelled). Later calls show the picker again.
void SetNextBackupFolderAnswer(std::function<std::optional<QString>(const QString& currentFolder)> answer);

// The question when the window is closed while an operation runs, titled "Corvane": what runs (for
// instance "The download") is still running. True for "Stop and close"; false for "Continue", the
// default, and for Escape.
bool AskStopAndClose(QWidget* parent, const QString& running);

// The question after a restore in which pg_restore ignored errors, titled "Restore backup": how many
// errors, pg_restore's messages about them in a box below, and what each answer does. True for "Keep"
// (the restored database replaces the named one), false for "Discard", the default, and for Escape (the
// named database stays as it is).
bool AskKeepRestoredDatabase(QWidget* parent, const QString& database, int errorCount,
                             const QStringList& messages);

// The file dialog that asks where to save the log, opened at proposed. The chosen path, or none on
// cancel.
std::optional<QString> PickLogFile(QWidget* parent, const QString& proposed);

// For tests: the next PickLogFile call shows no dialog and returns what answer gives for the proposed
// path instead (none: cancelled).
void SetNextLogFileAnswer(std::function<std::optional<QString>(const QString& proposed)> answer);
