#include "ui/widgets/EntryMessages.h"

#include <QCoreApplication>
#include <QStatusBar>
#include <QWidget>

#include "ui/widgets/DecimalEntry.h"

namespace tq {
namespace {

// Long enough to read after a key press; the next message replaces it.
constexpr int kShownMs = 15000;

QString Tr(const char* text) {
    return QCoreApplication::translate("EntryMessages", text);
}

}  // namespace

QString MessageVolts(double volts) {
    // A negative zero is plain zero.
    return QString::number(volts == 0.0 ? 0.0 : volts, 'g', 6);
}

QString EmptyEntryText(const QString& box, bool voltage) {
    return (voltage ? Tr("%1 is empty: nothing was sent. Type a voltage, then press Enter.")
                    : Tr("%1 is empty: nothing was sent. Type a value, then press Enter."))
        .arg(box);
}

QString NotANumberText(const QString& box, const QString& typed, const QString& what) {
    // How to type a number, for a text that holds none.
    return (EntryNumber(typed.toStdString())
                ? Tr("%1: '%2' is not %3")
                : Tr("%1: '%2' is not %3 (digits, a full stop before any decimals)"))
        .arg(box, typed.trimmed().left(40), what);
}

QString BeyondRangeText(double typed, double fullScale, double sent) {
    return Tr("%1 V is beyond the \u00b1%2 V range: %3 V was sent")
        .arg(MessageVolts(typed), MessageVolts(fullScale), MessageVolts(sent));
}

QString RangeUnreadableText(const QString& channel, bool serialOutputDisabled) {
    if (serialOutputDisabled)
        return Tr("Nothing was sent: %1's range cannot be read back while SDO is disabled. Enable "
                  "SDO, then press Enter again.")
            .arg(channel);
    return Tr("Nothing was sent: %1's range could not be read back (no range code). Check the "
              "board, then press Enter again.")
        .arg(channel);
}

void ShowInStatusBar(QWidget* control, const QString& text) {
    if (!control)
        return;
    if (auto* bar = control->window()->findChild<QStatusBar*>())
        bar->showMessage(text, kShownMs);
}

}  // namespace tq
