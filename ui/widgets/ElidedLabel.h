#pragma once
// A one-line label that fits any width it is given: a text longer than its box ends in "..." and
// the label's tooltip then carries the whole text, so a status bar never runs past the window's
// edge and nothing is lost. text() stays the whole text (the automation console reads it).

#include <QLabel>

namespace tq {

class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // The whole text; what is shown depends on the width.
    void SetText(const QString& text);
    // A tooltip of its own (shown after the whole text when that is cut).
    void SetTip(const QString& tip);
    // The text as shown now.
    QString ShownText() const;
    bool Elided() const;

    QSize minimumSizeHint() const override;

signals:
    // The label was clicked with the left button.
    void Clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void UpdateTip();
    QString tip_;
};

// A control's tooltip; an elided label shows it after its whole text when that is cut.
void SetControlTip(QWidget* control, const QString& tip);

}  // namespace tq
