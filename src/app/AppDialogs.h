#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

// The "Restore backup" prompt: one field labelled "Database" holding the proposed name, all of it
// selected, at most 255 characters, OK as the default button. The confirmed text, or none on cancel.
std::optional<QString> PromptDatabaseName(QWidget* parent, const QString& proposed);

// The folder picker titled "Backup directory": folders only, nothing preselected. The chosen folder's
// path, or none on cancel.
std::optional<QString> PickBackupFolder(QWidget* parent);

// For tests: the next PromptDatabaseName call shows no prompt and returns what answer gives for the
// proposed name instead (none: cancelled). Later calls show the prompt again.
void SetNextDatabaseNameAnswer(std::function<std::optional<QString>(const QString& proposed)> answer);

// For tests: the next PickBackupFolder call shows no picker and returns this folder instead (none:
// cancelled). Later calls show the picker again.
void SetNextBackupFolder(std::optional<QString> folder);
