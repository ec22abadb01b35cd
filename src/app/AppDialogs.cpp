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

namespace {

// A question with two answers, the safe one (no) the default and the answer to Escape or the close box;
// true when the user chose yes.
bool AskWithSafeDefault(QWidget* parent, const QString& title, const QString& text, const QString& objectName,
                        const QString& yes, const QString& no) {
    QMessageBox question(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    question.setObjectName(objectName);
    QPushButton* yesButton = question.addButton(yes, QMessageBox::AcceptRole);
    QPushButton* noButton = question.addButton(no, QMessageBox::RejectRole);
    question.setDefaultButton(noButton);
    question.setEscapeButton(noButton);
    question.exec();
    return question.clickedButton() == yesButton;
}

} // namespace

bool AskStopAndClose(QWidget* parent, const QString& running) {
    return AskWithSafeDefault(parent, QStringLiteral("Corvane"),
                              QStringLiteral("%1 is still running. Stop it and close Corvane?").arg(running),
                              QStringLiteral("StopAndCloseQuestion"), QStringLiteral("Stop and close"),
                              QStringLiteral("Continue"));
}

bool AskKeepRestoredDatabase(QWidget* parent, const QString& database, int errorCount) {
    return AskWithSafeDefault(
        parent, QStringLiteral("Restore backup"),
        QStringLiteral("pg_restore restored the backup but ignored %1 error(s); its messages "
                       "are in the log.\n\n"
                       "Keep: the restored database replaces \"%2\".\n"
                       "Discard: the restored database is dropped and \"%2\" stays as it is.")
            .arg(errorCount)
            .arg(database),
        QStringLiteral("KeepRestoredDatabaseQuestion"), QStringLiteral("Keep"), QStringLiteral("Discard"));
}
