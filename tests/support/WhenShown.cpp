#include "support/WhenShown.h"

#include <QApplication>
#include <QEvent>

namespace {

// Watches every widget's show event until the first dialog of the class appears, then removes itself.
class TShowWatcher : public QObject {
  public:
    TShowWatcher(const QMetaObject& dialogClass, std::function<void(QDialog*)> action)
        : QObject(qApp)
        , FDialogClass(dialogClass)
        , FAction(std::move(action)) {
        qApp->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show || !watched->metaObject()->inherits(&FDialogClass))
            return false;
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (!dialog)
            return false;
        qApp->removeEventFilter(this);
        QMetaObject::invokeMethod(
            dialog, [dialog, action = std::move(FAction)] { action(dialog); }, Qt::QueuedConnection);
        deleteLater();
        return false;
    }

  private:
    const QMetaObject& FDialogClass;
    std::function<void(QDialog*)> FAction;
};

} // namespace

void WhenDialogShown(const QMetaObject& dialogClass, std::function<void(QDialog*)> action) {
    new TShowWatcher(dialogClass, std::move(action));
}
