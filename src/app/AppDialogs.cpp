#include "app/AppDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

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

bool AskKeepRestoredDatabase(QWidget* parent, const QString& database, int errorCount) {
    QMessageBox question(
        QMessageBox::Question, QStringLiteral("Restore backup"),
        QStringLiteral("pg_restore restored the backup but ignored %1 error(s); its messages "
                       "are in the log.\n\n"
                       "Keep: the restored database replaces \"%2\".\n"
                       "Discard: the restored database is dropped and \"%2\" stays as it is.")
            .arg(errorCount)
            .arg(database),
        QMessageBox::NoButton, parent);
    question.setObjectName(QStringLiteral("KeepRestoredDatabaseQuestion"));
    QPushButton* keep = question.addButton(QStringLiteral("Keep"), QMessageBox::AcceptRole);
    QPushButton* discard = question.addButton(QStringLiteral("Discard"), QMessageBox::RejectRole);
    question.setDefaultButton(discard);
    question.setEscapeButton(discard);
    question.exec();
    return question.clickedButton() == keep;
}
