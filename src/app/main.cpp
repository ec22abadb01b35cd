#include "app/CorvaneForm.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setOrganizationName(QStringLiteral("Corvane"));
    TCorvaneEditorForm form;
    form.show();
    return QApplication::exec();
}
