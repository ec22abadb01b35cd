#include "app/AppDialogs.h"

#include "app/BackupFolderPicker.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

namespace {

std::function<std::optional<QString>(const QString&)>& NextDatabaseNameAnswer() {
    static std::function<std::optional<QString>(const QString&)> answer;
    return answer;
}

std::function<std::optional<QString>(const QString&)>& NextBackupFolderAnswer() {
    static std::function<std::optional<QString>(const QString&)> answer;
    return answer;
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

std::optional<QString> PickBackupFolder(QWidget* parent, const QString& currentFolder) {
    if (NextBackupFolderAnswer())
        return std::exchange(NextBackupFolderAnswer(), {})(currentFolder);
    TBackupFolderPicker picker(parent, currentFolder);
    if (picker.exec() != QDialog::Accepted || picker.SelectedFolder().isEmpty())
        return std::nullopt;
    return picker.SelectedFolder();
}

void SetNextDatabaseNameAnswer(std::function<std::optional<QString>(const QString& proposed)> answer) {
    NextDatabaseNameAnswer() = std::move(answer);
}

void SetNextBackupFolderAnswer(std::function<std::optional<QString>(const QString& currentFolder)> answer) {
    NextBackupFolderAnswer() = std::move(answer);
}

bool AskStopAndClose(QWidget* parent, const QString& running) {
    QMessageBox question(QMessageBox::Question, QStringLiteral("Corvane"),
                         QStringLiteral("%1 is still running. Stop it and close Corvane?").arg(running),
                         QMessageBox::NoButton, parent);
    question.setObjectName(QStringLiteral("StopAndCloseQuestion"));
    QPushButton* stop = question.addButton(QStringLiteral("Stop and close"), QMessageBox::AcceptRole);
    QPushButton* carryOn = question.addButton(QStringLiteral("Continue"), QMessageBox::RejectRole);
    question.setDefaultButton(carryOn);
    question.setEscapeButton(carryOn);
    question.exec();
    return question.clickedButton() == stop;
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
