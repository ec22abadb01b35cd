#include "app/AppDialogs.h"

#include "app/BackupFolderPicker.h"

#include <QInputDialog>
#include <QLineEdit>

std::optional<QString> PromptDatabaseName(QWidget* parent, const QString& proposed) {
    QInputDialog prompt(parent);
    prompt.setObjectName(QStringLiteral("RestorePrompt"));
    prompt.setWindowTitle(QStringLiteral("Restore backup"));
    prompt.setLabelText(QStringLiteral("Database"));
    prompt.setInputMode(QInputDialog::TextInput);
    prompt.setTextValue(proposed);
    if (auto* field = prompt.findChild<QLineEdit*>()) {
        field->setMaxLength(255);
        field->selectAll();
    }
    if (prompt.exec() != QDialog::Accepted)
        return std::nullopt;
    return prompt.textValue();
}

std::optional<QString> PickBackupFolder(QWidget* parent, const QString& currentFolder) {
    TBackupFolderPicker picker(parent, currentFolder);
    if (picker.exec() != QDialog::Accepted || picker.SelectedFolder().isEmpty())
        return std::nullopt;
    return picker.SelectedFolder();
}
