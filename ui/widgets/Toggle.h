#pragma once
// A two-state switch with two captions (false shows the first). A user's flip (mouse or the
// space key) raises Changed(); setting the state from code does not.

#include <QAbstractButton>
#include <QString>

namespace tq {

class Toggle : public QAbstractButton {
    Q_OBJECT
public:
    Toggle(const QString& falseCaption, const QString& trueCaption, QWidget* parent = nullptr);

    bool State() const { return isChecked(); }
    // From code: no Changed() signal, no handler runs.
    void SetState(bool state);

    // text() is always the caption of the current state.
    QString FalseCaption() const { return falseCaption_; }
    QString TrueCaption() const { return trueCaption_; }

    QSize sizeHint() const override;

signals:
    // The user flipped the switch; State() is already the new state.
    void Changed();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void UpdateCaption();

    QString falseCaption_;
    QString trueCaption_;
};

}  // namespace tq
