#include "app/AppDialogs.h"

#include <QDir>
#include <QFileDialog>
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

std::optional<QString> PickBackupFolder(QWidget* parent) {
    QFileDialog picker(parent, QStringLiteral("Backup directory"));
    picker.setObjectName(QStringLiteral("BackupFolderPicker"));
    picker.setFileMode(QFileDialog::Directory);
    picker.setOption(QFileDialog::ShowDirsOnly);
    if (picker.exec() != QDialog::Accepted || picker.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(picker.selectedFiles().constFirst());
}
