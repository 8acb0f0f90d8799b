#pragma once
// The "Output Protection" window: each channel's lowest and highest allowed output, its ramp (the
// largest single step and the wait between steps) and when the outputs go to the safe state by
// themselves. Apply hands them all to the instrument at once, or nothing when one is refused.
// Limits a remote client sets show here as they change.

#include <QWidget>
#include <array>
#include <optional>

#include "ui/WindowContext.h"

class QCheckBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

namespace tq {

class ProtectionForm : public QWidget {
    Q_OBJECT
public:
    explicit ProtectionForm(WindowContext& context, QWidget* parent = nullptr);
    ~ProtectionForm() override;

    void CmdApply_Click();

protected:
    // The window opens on what is in effect: edits left unapplied when it was closed are gone.
    void showEvent(QShowEvent* event) override;

private:
    struct ChannelRow {
        QLineEdit* low = nullptr;
        QLineEdit* high = nullptr;
        QLineEdit* step = nullptr;
        QLineEdit* wait = nullptr;
    };

    // The window's parts, built in the order they show and take the focus in.
    QGroupBox* BuildLimits();
    QGroupBox* BuildSafeStateOptions();
    QHBoxLayout* BuildButtons();
    void ShowChange(const InstrumentChange& change);
    // `force` also replaces what the user is typing.
    void ShowLimits(int16_t channel, bool force);
    void ShowOptions(bool force);
    // Every box read and checked; throws ValueRangeError naming the box, after focusing it.
    std::array<ChannelLimits, kChannelCount> ReadLimits();
    std::optional<double> ReadBox(QLineEdit* box, const QString& what, const QString& unit);

    WindowContext& ctx_;
    std::array<ChannelRow, kChannelCount> rows_{};
    QCheckBox* checkOnExit_ = nullptr;
    QCheckBox* checkOnLastClient_ = nullptr;
    QCheckBox* checkOnBoardBack_ = nullptr;
    QLabel* labelStatus_ = nullptr;
    QPushButton* cmdApply_ = nullptr;
    bool optionsEdited_ = false;  // a check box changed by the user and not applied yet
    int listener_ = 0;
};

}  // namespace tq
