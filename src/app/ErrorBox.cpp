#include "app/ErrorBox.h"

#include <QMessageBox>

namespace {

std::function<void(const QString&)>& Handler() {
    static std::function<void(const QString&)> handler;
    return handler;
}

} // namespace

QString ErrorBoxText(const QString& message) {
    if (message.isEmpty() || message.back() <= u'.')
        return message;
    return message + u'.';
}

void ShowErrorBox(QWidget* parent, const QString& message) {
    const QString text = ErrorBoxText(message);
    if (Handler()) {
        Handler()(text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Corvane"), text, QMessageBox::Ok, parent);
    box.exec();
}

void SetErrorBoxHandler(std::function<void(const QString& text)> handler) {
    Handler() = std::move(handler);
}
