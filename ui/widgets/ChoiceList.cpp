#include "ui/widgets/ChoiceList.h"

#include <QWheelEvent>

namespace tq {

void ChoiceList::wheelEvent(QWheelEvent* event) {
    // Ignored, the event goes on to the parent.
    event->ignore();
}

}  // namespace tq
