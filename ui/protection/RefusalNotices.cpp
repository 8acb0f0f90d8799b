#include "ui/protection/RefusalNotices.h"

#include <QApplication>

#include "ui/widgets/EntryMessages.h"

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

namespace {
constexpr const char* kOwnWords = "tqWordsItsOwnRefusals";
}  // namespace

void RefusalNotices::WordsItsOwnRefusals(QWidget* widget) {
    widget->setProperty(kOwnWords, true);
}

QString RefusedEntryText(const Instrument& instrument, int16_t address, const QString& box,
                         double typed, double became, const std::string& why) {
    for (int16_t ch = 0; ch < kChannelCount; ++ch) {
        if (ch != address && address != kAllChannels)
            continue;
        if (const auto breach = LimitBreach(ch, became, instrument.Limits(ch)))
            return QCoreApplication::translate("RefusalNotices",
                                               "%1: %2 V typed, %3 V to send, is %4; nothing was "
                                               "sent")
                .arg(box, MessageVolts(typed), MessageVolts(became),
                     QString::fromStdString(*breach));
    }
    return QCoreApplication::translate("RefusalNotices",
                                       "%1: %2 V typed, %3 V to send, was refused: %4; nothing "
                                       "was sent")
        .arg(box, MessageVolts(typed), MessageVolts(became), QString::fromStdString(why));
}

void RefusalNotices::Take(const InstrumentChange& change) {
    if (change.kind != InstrumentChange::Kind::Refused || change.value != 1)
        return;
    QWidget* widget = WidgetAt(change.origin);
    if (!widget || widget->property(kOwnWords).toBool())
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
