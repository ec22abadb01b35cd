#include "support/WhenShown.h"

#include <QApplication>
#include <QEvent>

namespace {

// Watches every widget's show event until the first dialog of the class appears, then removes itself.
class ShowWatcher : public QObject {
  public:
    ShowWatcher(const QMetaObject& dialogClass, std::function<void(QDialog*)> action)
        : QObject(qApp)
        , dialogClass_(dialogClass)
        , action_(std::move(action)) {
        qApp->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show || !watched->metaObject()->inherits(&dialogClass_))
            return false;
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (!dialog)
            return false;
        qApp->removeEventFilter(this);
        QMetaObject::invokeMethod(
            dialog, [dialog, action = std::move(action_)] { action(dialog); }, Qt::QueuedConnection);
        deleteLater();
        return false;
    }

  private:
    const QMetaObject& dialogClass_;
    std::function<void(QDialog*)> action_;
};

} // namespace

void WhenDialogShown(const QMetaObject& dialogClass, std::function<void(QDialog*)> action) {
    new ShowWatcher(dialogClass, std::move(action));
}
