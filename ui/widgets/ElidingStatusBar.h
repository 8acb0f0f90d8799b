#pragma once
// A status bar whose passing messages end in "..." where they meet the lasting texts on the right
// (Qt cuts them off there), with the whole message as the bar's tooltip meanwhile. Every widget
// added to it is a lasting one (addPermanentWidget).

#include <QStatusBar>

namespace tq {

class ElidingStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit ElidingStatusBar(QWidget* parent = nullptr);

    // Where the passing message is drawn, and the message as drawn there.
    QRect MessageRect() const;
    QString ShownMessage() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void UpdateTip();
};

}  // namespace tq
