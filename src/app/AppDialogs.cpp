#include "app/AppDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>

#include <utility>

namespace {

std::function<std::optional<QString>(const QString&)>& NextDatabaseNameAnswer() {
    static std::function<std::optional<QString>(const QString&)> answer;
    return answer;
}

std::optional<std::optional<QString>>& NextBackupFolder() {
    static std::optional<std::optional<QString>> folder;
    return folder;
}

} // namespace

std::optional<QString> PromptDatabaseName(QWidget* parent, const QString& proposed) {
    if (NextDatabaseNameAnswer())
        return std::exchange(NextDatabaseNameAnswer(), {})(proposed);
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
    if (NextBackupFolder())
        return *std::exchange(NextBackupFolder(), std::nullopt);
    QFileDialog picker(parent, QStringLiteral("Backup directory"));
    picker.setObjectName(QStringLiteral("BackupFolderPicker"));
    picker.setFileMode(QFileDialog::Directory);
    picker.setOption(QFileDialog::ShowDirsOnly);
    if (picker.exec() != QDialog::Accepted || picker.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(picker.selectedFiles().constFirst());
}

void SetNextDatabaseNameAnswer(std::function<std::optional<QString>(const QString& proposed)> answer) {
    NextDatabaseNameAnswer() = std::move(answer);
}

void SetNextBackupFolder(std::optional<QString> folder) {
    NextBackupFolder() = std::move(folder);
}
