#pragma once
// A drop-down list whose choice acts at once (on a board, say): it changes only on a deliberate
// choice, a click and pick or the keyboard while it has the focus. The mouse wheel passing over
// it scrolls whatever lies beneath instead of stepping through the items.

#include <QComboBox>

class QWheelEvent;

namespace tq {

class ChoiceList : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;

protected:
    void wheelEvent(QWheelEvent* event) override;
};

}  // namespace tq
