#include "ui/protection/RefusalNotices.h"

#include <QApplication>

namespace tq {

RefusalNotices::RefusalNotices(Instrument& instrument, MessageSink& messages, QObject* parent)
    : QObject(parent), instrument_(instrument), messages_(messages) {
    listener_ = instrument_.AddListener([this](const InstrumentChange& c) { Take(c); });
}

RefusalNotices::~RefusalNotices() {
    instrument_.RemoveListener(listener_);
}

QWidget* RefusalNotices::WidgetAt(const void* origin) {
    if (origin == nullptr)
        return nullptr;
    for (QWidget* widget : QApplication::allWidgets())
        if (static_cast<const void*>(widget) == origin)
            return widget;
    return nullptr;
}

void RefusalNotices::Take(const InstrumentChange& change) {
    if (change.kind != InstrumentChange::Kind::Refused || change.value != 1)
        return;
    QWidget* widget = WidgetAt(change.origin);
    if (!widget)
        return;
    // The listener runs inside the instrument call that refused: the box, with its event loop,
    // waits until the call and the window's handler have ended.
    const QString text = QString::fromStdString(change.text);
    QMetaObject::invokeMethod(
        this,
        [this, window = QPointer<QWidget>(widget->window()), text] {
            messages_.ShowMessage(window, MessageIcon::Warning, text);
        },
        Qt::QueuedConnection);
}

}  // namespace tq
