#pragma once

#include <QString>

#include <optional>

class QWidget;

// The "Restore backup" prompt: one field labelled "Database" holding the proposed name, all of it
// selected, at most 255 characters, OK as the default button. The confirmed text, or none on cancel.
std::optional<QString> PromptDatabaseName(QWidget* parent, const QString& proposed);

// The folder picker (TBackupFolderPicker), opened at the current folder when it exists. The chosen
// folder's path, or none on cancel.
std::optional<QString> PickBackupFolder(QWidget* parent, const QString& currentFolder);
