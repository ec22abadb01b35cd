#include "app/AppDialogs.h"

#include "app/BackupFolderPicker.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <utility>

namespace {

std::function<std::optional<QString>(const QString&)>& NextDatabaseNameAnswer() {
    static std::function<std::optional<QString>(const QString&)> answer;
    return answer;
}

std::function<std::optional<QString>(const QString&)>& NextDatabasePasswordAnswer() {
    static std::function<std::optional<QString>(const QString&)> answer;
    return answer;
}

std::function<bool(const QString&)>& NextReplaceDatabaseAnswer() {
    static std::function<bool(const QString&)> answer;
    return answer;
}

std::function<bool(const QString&)>& NextReplaceBackupFileAnswer() {
    static std::function<bool(const QString&)> answer;
    return answer;
}

std::function<bool(const QStringList&)>& NextLeftoverDatabasesAnswer() {
    static std::function<bool(const QStringList&)> answer;
    return answer;
}

std::function<std::optional<QString>(const QString&)>& NextBackupFolderAnswer() {
    static std::function<std::optional<QString>(const QString&)> answer;
    return answer;
}

std::function<std::optional<QString>(const QString&)>& NextLogFileAnswer() {
    static std::function<std::optional<QString>(const QString&)> answer;
    return answer;
}

// A title bar's font is the window manager's, usually larger and bolder than the dialog's: its text
// is given twice the room, beside room for the title bar's icon and buttons.
int WidthForTitle(const QWidget& dialog) {
    constexpr int TitleBarControls = 160;
    return 2 * dialog.fontMetrics().horizontalAdvance(dialog.windowTitle()) + TitleBarControls;
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
        // The dialog sizes itself to its contents: a field this wide leaves room for the whole title
        // beside the window manager's buttons.
        field->setMinimumWidth(WidthForTitle(prompt));
    }
    if (prompt.exec() != QDialog::Accepted)
        return std::nullopt;
    return prompt.textValue();
}

std::optional<QString> PromptDatabasePassword(QWidget* parent, const QString& user, bool refused) {
    if (NextDatabasePasswordAnswer())
        return std::exchange(NextDatabasePasswordAnswer(), {})(user);
    QInputDialog prompt(parent);
    prompt.setObjectName(QStringLiteral("DatabasePasswordPrompt"));
    prompt.setWindowTitle(QStringLiteral("Database password"));
    const QString label = QStringLiteral("Password of the database user \"%1\"").arg(user);
    prompt.setLabelText(refused ? QStringLiteral("The server refused the password.\n") + label : label);
    prompt.setInputMode(QInputDialog::TextInput);
    prompt.setTextEchoMode(QLineEdit::Password);
    prompt.setMinimumWidth(320);
    if (prompt.exec() != QDialog::Accepted)
        return std::nullopt;
    return prompt.textValue();
}

void SetNextDatabasePasswordAnswer(std::function<std::optional<QString>(const QString& user)> answer) {
    NextDatabasePasswordAnswer() = std::move(answer);
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

bool AskKeepRestoredDatabase(QWidget* parent, const QString& database, int errorCount,
                             const QStringList& messages) {
    QDialog question(parent);
    question.setObjectName(QStringLiteral("KeepRestoredDatabaseQuestion"));
    question.setWindowTitle(QStringLiteral("Restore backup"));
    auto* icon = new QLabel(&question);
    icon->setPixmap(question.style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    auto* text = new QLabel(
        QStringLiteral("pg_restore restored the backup but ignored %1 error(s); its messages are below and "
                       "in the log.\n\n"
                       "Keep: the restored database replaces \"%2\".\n"
                       "Discard: the restored database is dropped and \"%2\" stays as it is.")
            .arg(errorCount)
            .arg(database),
        &question);
    text->setObjectName(QStringLiteral("Question"));
    text->setWordWrap(true);
    auto* shown = new QPlainTextEdit(messages.join(u'\n'), &question);
    shown->setObjectName(QStringLiteral("Messages"));
    shown->setReadOnly(true);
    shown->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* buttons = new QDialogButtonBox(&question);
    QPushButton* keep = buttons->addButton(QStringLiteral("Keep"), QDialogButtonBox::AcceptRole);
    QPushButton* discard = buttons->addButton(QStringLiteral("Discard"), QDialogButtonBox::RejectRole);
    // Discard is what Enter and Escape answer, so that only a deliberate choice keeps a damaged restore.
    keep->setAutoDefault(false);
    discard->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &question, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &question, &QDialog::reject);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addWidget(text, 1);
    auto* layout = new QVBoxLayout(&question);
    layout->addLayout(top);
    layout->addWidget(shown, 1);
    layout->addWidget(buttons);
    question.resize(640, 400);
    discard->setFocus();
    return question.exec() == QDialog::Accepted;
}

void SetNextReplaceDatabaseAnswer(std::function<bool(const QString& database)> answer) {
    NextReplaceDatabaseAnswer() = std::move(answer);
}

bool AskReplaceDatabase(QWidget* parent, const QString& database, const QString& size, const QString& owner) {
    if (NextReplaceDatabaseAnswer())
        return std::exchange(NextReplaceDatabaseAnswer(), {})(database);
    const QString details = size.isEmpty() ? QStringLiteral("owner %1").arg(owner)
                                           : QStringLiteral("%1, owner %2").arg(size, owner);
    return AskWithSafeDefault(
        parent, QStringLiteral("Replace database"),
        QStringLiteral("The database \"%1\" exists (%2).\n\n"
                       "Replace: once the backup is restored whole, it takes the place of "
                       "\"%1\", which is then dropped for good.\n"
                       "Cancel: nothing is downloaded and \"%1\" stays as it is.")
            .arg(database, details),
        QStringLiteral("ReplaceDatabaseQuestion"), QStringLiteral("&Replace"), QStringLiteral("Cancel"));
}

void SetNextLeftoverDatabasesAnswer(std::function<bool(const QStringList& names)> answer) {
    NextLeftoverDatabasesAnswer() = std::move(answer);
}

bool AskDropLeftoverDatabases(QWidget* parent, const QStringList& names) {
    if (NextLeftoverDatabasesAnswer())
        return std::exchange(NextLeftoverDatabasesAnswer(), {})(names);
    return AskWithSafeDefault(
        parent, QStringLiteral("Leftover databases"),
        QStringLiteral("An earlier restore that did not end (Corvane was closed by force, or the computer "
                       "stopped) left %1 temporary database(s) on the server:\n\n%2\n\n"
                       "A corvane_restoring_ database holds a restore that did not finish; a "
                       "corvane_replaced_ database holds the old copy of a database that a finished restore "
                       "replaced.\n\n"
                       "Drop: they are dropped before this restore downloads anything.\n"
                       "Keep: they stay as they are, and the next restore asks again.")
            .arg(names.size())
            .arg(names.join(u'\n')),
        QStringLiteral("LeftoverDatabasesQuestion"), QStringLiteral("&Drop"), QStringLiteral("&Keep"));
}

std::optional<QString> PickLogFile(QWidget* parent, const QString& proposed) {
    if (NextLogFileAnswer())
        return std::exchange(NextLogFileAnswer(), {})(proposed);
    const QString file = QFileDialog::getSaveFileName(parent, QStringLiteral("Save log"), proposed,
                                                      QStringLiteral("Text files (*.txt);;All files (*)"));
    if (file.isEmpty())
        return std::nullopt;
    return file;
}

void SetNextLogFileAnswer(std::function<std::optional<QString>(const QString& proposed)> answer) {
    NextLogFileAnswer() = std::move(answer);
}

void SetNextReplaceBackupFileAnswer(std::function<bool(const QString& path)> answer) {
    NextReplaceBackupFileAnswer() = std::move(answer);
}

bool AskReplaceBackupFile(QWidget* parent, const QString& path) {
    if (NextReplaceBackupFileAnswer())
        return std::exchange(NextReplaceBackupFileAnswer(), {})(path);
    return AskWithSafeDefault(
        parent, QStringLiteral("Replace file"),
        QStringLiteral("%1 is there but is not this backup (another version, or another file of its "
                       "name).\n\n"
                       "Replace: the backup is downloaded beside it and takes its place once it arrived "
                       "whole.\n"
                       "Cancel: nothing is downloaded and the file stays as it is.")
            .arg(path),
        QStringLiteral("ReplaceBackupFileQuestion"), QStringLiteral("&Replace"), QStringLiteral("Cancel"));
}
