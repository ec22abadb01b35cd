#pragma once

#include <QDialog>

#include <functional>

// Runs action on the next dialog of the given class (or one derived from it) that is shown, once the
// event loop runs again: for a modal dialog, inside its exec(). Meant for the dialogs a test cannot
// answer through a next-answer hook, such as the sign-in dialog the test types into.
void WhenDialogShown(const QMetaObject& dialogClass, std::function<void(QDialog*)> action);

template <typename TDialog> void WhenShown(std::function<void(TDialog*)> action) {
    WhenDialogShown(TDialog::staticMetaObject,
                    [action = std::move(action)](QDialog* dialog) { action(static_cast<TDialog*>(dialog)); });
}
