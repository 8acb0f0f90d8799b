#include "ui/main/ComposerPanel.h"

#include <QComboBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "core/CheckedInt.h"
#include "core/CommandWord.h"
#include "core/ConverterCoding.h"
#include "core/Encoding.h"
#include "core/Tables.h"
#include "ui/main/WordDisplay.h"
#include "ui/protection/RefusalNotices.h"
#include "ui/widgets/ChoiceList.h"
#include "ui/widgets/DecimalEntry.h"
#include "ui/widgets/EntryMessages.h"
#include "ui/widgets/Twips.h"

namespace tq {
namespace {

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The controls of the frame as designed: kind, name, text, whether shown, place in twips.
enum class Kind { List, Entry, Button, Label };
enum class Align { Left, Right, Centre };
struct ControlDesign {
    Kind kind;
    std::string_view name;
    std::string_view text;
    bool shown;
    Align align;
    bool bordered;
    int left, top, width, height;
};
constexpr std::array<ControlDesign, 20> kControls{{
    {Kind::List, "ComboRW", "", false, Align::Left, false, 240, 1800, 855, 315},
    {Kind::List, "ComboReg", "", true, Align::Left, false, 1440, 1800, 2175, 315},
    {Kind::List, "ComboAddr", "", true, Align::Left, false, 3720, 1800, 1455, 315},
    {Kind::Button, "Command1", "Read Register", true, Align::Centre, false, 5400, 1800, 1575, 255},
    {Kind::Label, "Label27", "0", true, Align::Centre, true, 7080, 1800, 1215, 255},
    {Kind::Label, "Label11", "Select Function", true, Align::Right, false, 7920, 1800, 1575, 255},
    {Kind::List, "ComboFunction", "", true, Align::Left, false, 9600, 1800, 3375, 315},
    {Kind::Label, "LabelFunction", "Enter Function Data", true, Align::Right, false, 9480, 1800,
     2175, 255},
    {Kind::Entry, "TextFunction", "0", false, Align::Centre, false, 11760, 1800, 1215, 285},
    {Kind::Label, "Label5", "Select Output Range", true, Align::Right, false, 8040, 1800, 2175,
     255},
    {Kind::List, "ComboCoarse", "", false, Align::Left, false, 10320, 1800, 2895, 315},
    {Kind::Label, "Label7", "Enter Fine Gain Value  (-32 to +31)", true, Align::Right, false, 7920,
     1800, 3735, 255},
    {Kind::Entry, "TextFine", "0", true, Align::Centre, false, 11760, 1800, 1215, 285},
    {Kind::Label, "Label9", "Enter Offset Value  (-16 to +15.875)", true, Align::Right, false, 8040,
     1800, 3615, 255},
    {Kind::Entry, "TextOffset", "0", true, Align::Centre, false, 11760, 1800, 1215, 285},
    {Kind::Label, "Label29", "Enter Voltage Value", true, Align::Centre, false, 9240, 1680, 2055,
     255},
    {Kind::Entry, "TextVolts", "0.0000", true, Align::Left, false, 9720, 2000, 1215, 285},
    {Kind::Label, "Label1", "Enter Data Value", true, Align::Centre, false, 11520, 1680, 1695, 255},
    {Kind::Entry, "TextData", "0", true, Align::Centre, false, 11760, 2000, 1215, 285},
    {Kind::Button, "Command2", "Hex", true, Align::Centre, false, 13320, 1800, 615, 315},
}};

// What each register view does to the entry controls. Columns follow the register list:
// Function, Data, Coarse Gain, Fine Gain, Offset.
enum class Effect { Hide, Show, Keep, Enable, Disable };
struct ViewRow {
    std::array<std::string_view, 2> controls;
    std::array<Effect, kRegisters.size()> byView;
};
constexpr Effect H = Effect::Hide;
constexpr Effect S = Effect::Show;
constexpr Effect K = Effect::Keep;
constexpr std::array<ViewRow, 10> kViews{{
    {{"ComboRW", ""},
     {Effect::Disable, Effect::Enable, Effect::Enable, Effect::Enable, Effect::Enable}},
    {{"ComboFunction", "Label11"}, {H, H, H, H, H}},
    {{"TextFunction", "LabelFunction"}, {K, H, H, H, H}},
    {{"TextData", "Label1"}, {H, S, H, H, H}},
    {{"Command2", ""}, {S, S, H, H, H}},
    {{"TextVolts", "Label29"}, {H, S, H, H, H}},
    {{"ComboCoarse", "Label5"}, {H, H, S, H, H}},
    {{"TextFine", "Label7"}, {H, H, H, S, H}},
    {{"TextOffset", "Label9"}, {H, H, H, H, S}},
    {{"ComboAddr", ""}, {H, S, S, S, S}},
}};

// The controls the start-up hides before the first view is chosen.
constexpr std::array<std::string_view, 13> kHiddenAtStartup{
    "ComboFunction", "Label11", "TextFunction", "LabelFunction", "TextData",   "Label1", "Command2",
    "ComboCoarse",   "Label5",  "TextFine",     "Label7",        "TextOffset", "Label9"};

std::optional<std::size_t> RegisterView(const QString& text) {
    for (std::size_t i = 0; i < kRegisters.size(); ++i)
        if (text == Q(kRegisters[i].text))
            return i;
    return std::nullopt;
}

std::optional<int16_t> ChannelAddress(const QString& text) {
    for (const auto& channel : kChannels)
        if (text == Q(channel.text))
            return channel.code;
    return std::nullopt;
}

// The voltage echo keeps five decimals before the four-decimal text rounds it.
double RoundToFiveDecimals(float volts) {
    return std::nearbyint(volts * 100000.0) / 100000.0;
}

// The number mode switch converts whatever the boxes hold; text it cannot read counts as 0.
int32_t HexOrZero(const QString& text) {
    try {
        return ParseHex(text.toStdString());
    } catch (const InputError&) {
        return 0;
    }
}

int32_t RoundedOrZero(const QString& text) {
    try {
        return RoundToInt32(ParseNumber(text.toStdString()));
    } catch (const NumericError&) {
        return 0;
    }
}

// The list handlers work on register codes and board results that cannot overflow; should one
// fail all the same, the failure must not escape into the event loop. A failed request ends the
// handler: the status bar says the board is not responding.
template <typename F>
void Guarded(F&& action) {
    try {
        action();
    } catch (const NumericError&) {
    } catch (const InputError&) {
    } catch (const InstrumentError&) {
    }
}

// Set on a box that a refusal emptied, until the user types in it again.
constexpr const char* kEmptiedByRefusal = "tqEmptiedByRefusal";

// A decimal entry that holds no number, or a decimal comma, is refused before it is read: the box
// is emptied and focused and nothing goes to the board (OnEnter).
void RequireNumber(const QLineEdit* box) {
    if (!HoldsDecimalNumber(box->text().toStdString()))
        throw InputError("no number, or a decimal comma");
}

}  // namespace

struct ComposerPanel::Impl {
    Impl(ComposerPanel& panel, WindowContext& context, FunctionSwitches& switches)
        : panel(panel), context(context), switches(switches) {}

    ComposerPanel& panel;
    WindowContext& context;
    FunctionSwitches& switches;
    QHash<QString, QWidget*> controls;
    WordDisplay* word = nullptr;
    QComboBox* comboRW = nullptr;
    QComboBox* comboReg = nullptr;
    QComboBox* comboAddr = nullptr;
    QComboBox* comboFunction = nullptr;
    QComboBox* comboCoarse = nullptr;
    QLineEdit* textData = nullptr;
    QLineEdit* textVolts = nullptr;
    QLineEdit* textFunction = nullptr;
    QLineEdit* textFine = nullptr;
    QLineEdit* textOffset = nullptr;
    QPushButton* command1 = nullptr;
    QPushButton* command2 = nullptr;
    QLabel* label27 = nullptr;
    QLabel* label7 = nullptr;
    QLabel* label9 = nullptr;

    // 1: the next refresh shows DataValue without the 14-bit alignment shift.
    int16_t ShowUnshifted = 0;
    // While the composer's own handlers run, they decide what the word display shows (the word
    // they read or sent, not the range read-backs around it); every other word shows as it goes.
    int acting = 0;
    struct Acting {
        explicit Acting(int& count) : count(count) { ++count; }
        ~Acting() { --count; }
        Acting(const Acting&) = delete;
        Acting& operator=(const Acting&) = delete;
        int& count;
    };

    const DeviceState& State() const { return context.state; }
    ComposerFields& Composer() { return context.composer; }
    Instrument& Registers() { return context.instrument; }
    // Changes made from here are the main window's own.
    Instrument::Origin Own() { return Instrument::Origin(context.instrument, panel.window()); }
    // Shows a change that another window or a remote client made, without board traffic.
    void ShowChange(const InstrumentChange& change);

    void Build();
    void Connect();
    template <typename T>
    T* Control(std::string_view name) {
        return qobject_cast<T*>(controls.value(Q(name)));
    }

    void SetAddress(int16_t address);
    void SetRegister(int16_t regSelect);
    void ShowReadWrite(int16_t readWrite);
    void ApplyView(std::size_t view);
    // Show an item chosen by the program, ignoring case, and run the list's handler as a user's
    // choice would.
    bool SelectItem(QComboBox* list, const QString& text, void (Impl::*handler)());
    void SelectRangeOfCode(int64_t code);
    QString CodeText(int32_t code, bool padded) const;
    // The word display shows one whole word: the one just sent (R/W, register, address, data).
    void ShowWord(int16_t readWrite, int16_t regSelect, int16_t address, int32_t data);
    // After a refused entry the box shows what the channel holds as the program knows it (empty
    // when it knows nothing of it); no board traffic.
    void ShowHeld(QLineEdit* box);

    void ComboReg_Click();
    void ComboAddr_Click();
    void ComboCoarse_Click();
    void ComboRW_Click();
    void ComboFunction_Click();
    void ReadRegisterAction();
    void Command2_Click();
    void RefreshWordDisplay();

    void TextVolts_Enter();
    void TextData_Enter();
    void TextFine_Enter();
    void TextOffset_Enter();
    void TextFunction_Enter();
    // A failed entry empties the box and gives it the focus; no message.
    void OnEnter(QLineEdit* box, void (Impl::*handler)());
    // How the status bar names a box.
    QString BoxName(const QLineEdit* box) const;
    // The range list shows what the program knows the channel's coarse gain is; no traffic.
    void ShowKnownRange();
    // The voltage box shows the voltage of the code the channel holds in the coding in effect.
    void ShowVoltsOfKnownCode();
};

void ComposerPanel::Impl::Build() {
    panel.setObjectName(QStringLiteral("Frame1"));
    panel.setTitle(QStringLiteral("Read / Write Registers"));
    StyleFrame(&panel, true, QColor(192, 64, 0));
    PlaceTwips(&panel, 120, 360, 14415, 2415);

    word = new WordDisplay(&panel);
    PlaceTwips(word, 120, 360, 14175, 1215);

    for (const auto& design : kControls) {
        QWidget* widget = nullptr;
        const QString text = Q(design.text);
        const Qt::Alignment align = design.align == Align::Centre ? Qt::AlignCenter
                                    : design.align == Align::Right
                                        ? Qt::AlignRight | Qt::AlignVCenter
                                        : Qt::AlignLeft | Qt::AlignVCenter;
        switch (design.kind) {
            case Kind::List:
                // Every list writes to the board or changes the view (with read-backs).
                widget = new ChoiceList(&panel);
                break;
            case Kind::Entry: {
                auto* box = new QLineEdit(text, &panel);
                box->setAlignment(align);
                widget = box;
                break;
            }
            case Kind::Button:
                widget = new QPushButton(text, &panel);
                break;
            case Kind::Label: {
                auto* label = new QLabel(text, &panel);
                label->setAlignment(align);
                if (design.bordered)
                    label->setFrameShape(QFrame::Box);
                widget = label;
                break;
            }
        }
        widget->setObjectName(Q(design.name));
        widget->setFont(BoldSans(8.25));
        PlaceTwips(widget, design.left, design.top, design.width, design.height);
        widget->setVisible(design.shown);
        controls.insert(widget->objectName(), widget);
    }

    comboRW = Control<QComboBox>("ComboRW");
    comboReg = Control<QComboBox>("ComboReg");
    comboAddr = Control<QComboBox>("ComboAddr");
    comboFunction = Control<QComboBox>("ComboFunction");
    comboCoarse = Control<QComboBox>("ComboCoarse");
    textData = Control<QLineEdit>("TextData");
    textVolts = Control<QLineEdit>("TextVolts");
    textFunction = Control<QLineEdit>("TextFunction");
    textFine = Control<QLineEdit>("TextFine");
    textOffset = Control<QLineEdit>("TextOffset");
    command1 = Control<QPushButton>("Command1");
    command2 = Control<QPushButton>("Command2");
    label27 = Control<QLabel>("Label27");
    label7 = Control<QLabel>("Label7");
    label9 = Control<QLabel>("Label9");
    RefusalNotices::WordsItsOwnRefusals(textVolts);
}

void ComposerPanel::Impl::Connect() {
    const auto onList = [this](QComboBox* list, void (Impl::*handler)()) {
        QObject::connect(list, &QComboBox::activated, &panel, [this, handler] {
            const auto own = Own();
            const Acting acts(acting);
            Guarded([&] { (this->*handler)(); });
        });
    };
    onList(comboReg, &Impl::ComboReg_Click);
    onList(comboAddr, &Impl::ComboAddr_Click);
    // A range chosen in the list shows the word it sends; the refresh's own choice of the range
    // it read back does not (the word read stays shown).
    QObject::connect(comboCoarse, &QComboBox::activated, &panel, [this] {
        const auto own = Own();
        const Acting acts(acting);
        Guarded([&] {
            try {
                ComboCoarse_Click();
            } catch (const RequestError&) {
                throw;
            } catch (const InstrumentError&) {
                // Refused: the list goes back to the range the board holds.
                ShowKnownRange();
                throw;
            }
            for (const auto& range : kRanges)
                if (comboCoarse->currentText() == Q(range.text))
                    ShowWord(0, kRegCoarseGain, State().Address, range.code);
        });
    });
    onList(comboRW, &Impl::ComboRW_Click);
    onList(comboFunction, &Impl::ComboFunction_Click);

    QObject::connect(command1, &QPushButton::clicked, &panel, [this] {
        const auto own = Own();
        const Acting acts(acting);
        Guarded([&] { ReadRegisterAction(); });
    });
    QObject::connect(command2, &QPushButton::clicked, &panel,
                     [this] { Guarded([&] { Command2_Click(); }); });
    context.instrument.AddListener(
        [panel = QPointer<ComposerPanel>(&panel), this](const InstrumentChange& c) {
            if (!panel)
                return;
            // The grid shows every word that goes to the converter, whoever sent it, and the
            // voltage box follows the coding, whoever switched it.
            if (c.kind == InstrumentChange::Kind::Word) {
                if (acting == 0)
                    ShowWord(c.readBack ? 1 : 0, c.reg, c.address, c.value);
            } else if (c.kind == InstrumentChange::Kind::Pins) {
                Guarded([&] { ShowVoltsOfKnownCode(); });
            } else if (c.origin != panel->window()) {
                ShowChange(c);
            }
        });

    const auto onEnter = [this](QLineEdit* box, void (Impl::*handler)()) {
        QObject::connect(box, &QLineEdit::returnPressed, &panel,
                         [this, box, handler] { OnEnter(box, handler); });
        // Any text the box takes is no longer the refusal's empty box.
        QObject::connect(box, &QLineEdit::textChanged, &panel,
                         [box] { box->setProperty(kEmptiedByRefusal, false); });
    };
    onEnter(textVolts, &Impl::TextVolts_Enter);
    onEnter(textData, &Impl::TextData_Enter);
    onEnter(textFine, &Impl::TextFine_Enter);
    onEnter(textOffset, &Impl::TextOffset_Enter);
    onEnter(textFunction, &Impl::TextFunction_Enter);
}

void ComposerPanel::Impl::SetAddress(int16_t address) {
    Composer().Address = address;
    word->SetAddressCode(address);
}

void ComposerPanel::Impl::SetRegister(int16_t regSelect) {
    Composer().RegSelect = regSelect;
    word->SetRegisterCode(regSelect);
}

void ComposerPanel::Impl::ShowReadWrite(int16_t readWrite) {
    Composer().ReadWrite = readWrite;
    word->SetReadWrite(readWrite);
}

void ComposerPanel::Impl::ApplyView(std::size_t view) {
    for (const auto& row : kViews) {
        for (const auto name : row.controls) {
            if (name.empty())
                continue;
            QWidget* control = controls.value(Q(name));
            switch (row.byView[view]) {
                case Effect::Hide:
                    control->hide();
                    break;
                case Effect::Show:
                    control->show();
                    break;
                case Effect::Enable:
                    control->setEnabled(true);
                    break;
                case Effect::Disable:
                    control->setEnabled(false);
                    break;
                case Effect::Keep:
                    break;
            }
        }
    }
}

bool ComposerPanel::Impl::SelectItem(QComboBox* list, const QString& text,
                                     void (Impl::*handler)()) {
    const int index = list->findText(text, Qt::MatchFixedString);
    if (index < 0)
        return false;
    list->setCurrentIndex(index);
    (this->*handler)();
    return true;
}

void ComposerPanel::Impl::SelectRangeOfCode(int64_t code) {
    for (const auto& range : kRanges)
        if (range.code == code)
            SelectItem(comboCoarse, Q(range.text), &Impl::ComboCoarse_Click);
}

QString ComposerPanel::Impl::CodeText(int32_t code, bool padded) const {
    if (context.state.NumberMode == "Hex")
        return Q(padded ? HexText4(code) : HexText(code));
    return Q(DecimalText(code));
}

void ComposerPanel::Impl::ShowWord(int16_t readWrite, int16_t regSelect, int16_t address,
                                   int32_t data) {
    word->ShowWord(readWrite, regSelect, address, data);
    if (State().NumberMode == "Hex" || State().NumberMode == "Dec")
        label27->setText(CodeText(data, true));
}

void ComposerPanel::Impl::ShowHeld(QLineEdit* box) {
    const DeviceState& s = State();
    const int16_t channel = s.Address < kAllChannels ? s.Address : 0;
    const ConverterMirror::Channel& known = Registers().Mirror().At(channel);
    const ConverterCoding coding(State().Resolution);
    QString text;
    if (box == textVolts || box == textData) {
        const int32_t code = coding.CodeOfFrame(known.registers.input);
        const auto range = RangeVoltsForCode(known.registers.coarse);
        if (box == textData && known.input)
            text = CodeText(code, false);
        else if (box == textVolts && known.input && known.coarse && range)
            text = Q(VoltageText(CodeToVolts(code, State().Resolution, *range, s.BinaryCoding)));
    } else if (box == textFine && known.fine) {
        text = Q(ShortText(ToSingle(coding.FineGainShown(known.registers.fine))));
    } else if (box == textOffset && known.offset) {
        const int32_t field = coding.OffsetFieldOfRegister(known.registers.offset);
        text = Q(ShortText(ToSingle(coding.OffsetShown(field))));
    }
    box->setText(text);
    box->setModified(false);
}

void ComposerPanel::Impl::ComboReg_Click() {
    const auto view = RegisterView(comboReg->currentText());
    if (!view)
        return;
    ComposerFields& s = Composer();
    const int16_t regSelect = kRegisters[*view].code;
    if (regSelect == kRegFunction) {
        SetAddress(kFnControlBits);
        SetRegister(regSelect);
        SelectItem(comboRW, QStringLiteral("Read"), &Impl::ComboRW_Click);
    } else {
        // Reads and writes go to the channel the list shows, also after the function view.
        if (const auto address = ChannelAddress(comboAddr->currentText()))
            SetAddress(*address);
        SetRegister(regSelect);
        if (regSelect == kRegCoarseGain)
            s.CoarseReadBack = Registers().ReadRegister(s.Address, kRegCoarseGain) & 3;
    }
    ApplyView(*view);
    if (regSelect == kRegCoarseGain)
        SelectRangeOfCode(s.CoarseReadBack);
    ReadRegisterAction();
}

void ComposerPanel::Impl::ComboAddr_Click() {
    if (const auto address = ChannelAddress(comboAddr->currentText()))
        SetAddress(*address);
    ReadRegisterAction();
}

void ComposerPanel::Impl::ComboCoarse_Click() {
    ShowReadWrite(0);
    const QString text = comboCoarse->currentText();
    for (const auto& range : kRanges) {
        if (text != Q(range.text))
            continue;
        Registers().WriteRegister(State().Address, kRegCoarseGain, range.code);
        RangeFromCode(Composer().RangeVolts, range.code);
        return;
    }
}

void ComposerPanel::Impl::ComboRW_Click() {
    const QString text = comboRW->currentText();
    if (text == QStringLiteral("Write"))
        ShowReadWrite(0);
    if (text == QStringLiteral("Read"))
        ShowReadWrite(1);
}

void ComposerPanel::Impl::ComboFunction_Click() {
    ComposerFields& s = Composer();
    const QString text = comboFunction->currentText();
    if (text == Q(kNoOperationText)) {
        s.DataValue = 0;
        s.Address = kFnNoOperation;
        Registers().NoOperation(s.RegSelect);
        return;
    }
    if (text == Q(kClearAllText)) {
        Registers().ClearAllChannels();
        return;
    }
    if (text == Q(kLoadAllText)) {
        Registers().LoadAllChannels();
        return;
    }
    for (const auto& operation : kFunctionBitOperations) {
        if (text == Q(operation.text)) {
            Registers().RunFunctionBitOperation(operation);
            return;
        }
    }
}

void ComposerPanel::Impl::ReadRegisterAction() {
    ComposerFields& s = Composer();
    Registers().SetFunctionFlag(FunctionFlag::SdoDisable, false);
    switches.SetSdoSwitch(false);
    s.ReadWrite = 1;
    s.DataValue = Registers().ReadRegister(s.Address, s.RegSelect);
    const ConverterCoding coding(State().Resolution);
    if (coding.Narrow()) {
        if (s.RegSelect == kRegData)
            s.DataValue = coding.CodeOfFrame(s.DataValue);
        else
            ShowUnshifted = 1;
    }
    RefreshWordDisplay();
    word->SetReadWrite(1);
}

void ComposerPanel::Impl::Command2_Click() {
    ComposerFields& s = Composer();
    if (command2->text() == QStringLiteral("Hex")) {
        command2->setText(QStringLiteral("Dec"));
        s.NumberMode = "Dec";
        s.DataValue = HexOrZero(textData->text());
        textData->setText(Q(DecimalText(s.DataValue)));
        label27->setText(Q(DecimalText(HexOrZero(label27->text()))));
        s.FunctionImage = HexOrZero(textFunction->text());
        textFunction->setText(Q(DecimalText(s.FunctionImage)));
    } else if (command2->text() == QStringLiteral("Dec")) {
        command2->setText(QStringLiteral("Hex"));
        s.NumberMode = "Hex";
        textData->setText(Q(HexText4(RoundedOrZero(textData->text()))));
        textFunction->setText(Q(HexText4(RoundedOrZero(textFunction->text()))));
        label27->setText(Q(HexText4(RoundedOrZero(label27->text()))));
    }
}

void ComposerPanel::Impl::RefreshWordDisplay() {
    ComposerFields& s = Composer();
    word->SetReadWrite(s.ReadWrite);
    const ConverterCoding coding(State().Resolution);
    s.DataValue = coding.FrameOfCode(s.DataValue);
    // Set only on the 14-bit device: the register is shown as it came, not as a data frame.
    if (ShowUnshifted == 1)
        s.DataValue = coding.CodeOfFrame(s.DataValue);
    ShowUnshifted = 0;
    ShowWord(s.ReadWrite, s.RegSelect, s.Address, s.DataValue);

    const auto view = RegisterView(comboReg->currentText());
    if (!view)
        return;
    switch (kRegisters[*view].code) {
        case kRegFineGain:
            textFine->setText(Q(ShortText(ToSingle(coding.FineGainShown(s.DataValue)))));
            break;
        case kRegOffset:
            // The 14-bit device's field code is kept as the composer's value.
            s.DataValue = coding.OffsetFieldOfRegister(s.DataValue);
            textOffset->setText(Q(ShortText(ToSingle(coding.OffsetShown(s.DataValue)))));
            break;
        case kRegData:
            s.DataValue = coding.CodeOfFrame(s.DataValue);
            textData->setText(CodeText(s.DataValue, false));
            // The range the channel has, as the instrument knows it; not the last one typed.
            s.RangeVolts = Registers().ChannelRangeVolts(s.Address);
            textVolts->setText(Q(VoltageText(
                CodeToVolts(s.DataValue, State().Resolution, s.RangeVolts, State().BinaryCoding))));
            break;
        case kRegCoarseGain:
            SelectRangeOfCode(s.DataValue);
            break;
        default:
            break;
    }
}

void ComposerPanel::Impl::ShowChange(const InstrumentChange& c) {
    if (c.kind != InstrumentChange::Kind::Register || c.readBack)
        return;
    const DeviceState& s = State();
    const bool shownChannel =
        c.address == s.Address || (c.address == kAllChannels && s.Address < kAllChannels);
    const auto view = RegisterView(comboReg->currentText());
    if (!shownChannel || !view || kRegisters[*view].code != c.reg)
        return;
    const ConverterCoding coding(State().Resolution);
    // A box the user is typing in keeps what is typed.
    // A box the user has typed in since it was last set keeps what is typed; having the focus
    // alone is no reason to show an old value.
    const auto show = [](QLineEdit* box, const QString& text) {
        if (!box->isModified())
            box->setText(text);
    };
    Guarded([&] {
        switch (c.reg) {
            case kRegData: {
                const int32_t code = coding.CodeOfFrame(c.value);
                show(textData, CodeText(code, false));
                const int16_t rangeChannel = s.Address < kAllChannels ? s.Address : 0;
                const auto rangeCode = Registers().KnownRangeCode(rangeChannel);
                const float range = RangeVoltsForCode(rangeCode.value_or(0)).value_or(10.0f);
                show(textVolts,
                     Q(VoltageText(CodeToVolts(code, State().Resolution, range, s.BinaryCoding))));
                break;
            }
            case kRegCoarseGain:
                for (const auto& range : kRanges)
                    if (range.code == (c.value & 3))
                        comboCoarse->setCurrentIndex(comboCoarse->findText(Q(range.text)));
                break;
            case kRegFineGain:
                show(textFine, Q(ShortText(ToSingle(coding.FineGainShown(c.value & 0x3F)))));
                break;
            case kRegOffset: {
                const int32_t field = coding.OffsetFieldOfRegister(c.value & 0xFF);
                show(textOffset, Q(ShortText(ToSingle(coding.OffsetShown(field)))));
                break;
            }
            default:
                break;
        }
    });
}

void ComposerPanel::Impl::OnEnter(QLineEdit* box, void (Impl::*handler)()) {
    // An empty voltage box, or a box a refusal emptied, is no request: not for 0 V, not for code
    // 0. A data, fine gain or offset box the user emptied still reads as 0.
    if (box->text().trimmed().isEmpty() &&
        (box == textVolts || box->property(kEmptiedByRefusal).toBool())) {
        ShowInStatusBar(box, EmptyEntryText(BoxName(box), box == textVolts));
        return;
    }
    const auto own = Own();
    const Acting acts(acting);
    const auto refused = [box] {
        box->clear();
        box->setModified(false);
        box->setProperty(kEmptiedByRefusal, true);
        box->setFocus();
    };
    try {
        (this->*handler)();
    } catch (const NumericError&) {
        refused();
    } catch (const InputError&) {
        refused();
    } catch (const RequestError&) {
        // The status bar says the board is not responding; the box keeps what was typed.
    } catch (const InstrumentError&) {
        // Refused (a limit, a running activity): the message says why, the box what is held.
        Guarded([&] { ShowHeld(box); });
    }
}

void ComposerPanel::Impl::ShowKnownRange() {
    const int16_t channel = State().Address < kAllChannels ? State().Address : 0;
    const auto code = Registers().KnownRangeCode(channel);
    for (const auto& range : kRanges)
        if (code && range.code == (*code & 3))
            comboCoarse->setCurrentIndex(comboCoarse->findText(Q(range.text)));
}

void ComposerPanel::Impl::ShowVoltsOfKnownCode() {
    const DeviceState& s = State();
    const auto view = RegisterView(comboReg->currentText());
    if (!view || kRegisters[*view].code != kRegData || textVolts->isModified())
        return;
    const int16_t channel = s.Address < kAllChannels ? s.Address : 0;
    const ConverterMirror::Channel& known = Registers().Mirror().At(channel);
    const auto range = RangeVoltsForCode(known.registers.coarse);
    if (!known.input || !known.coarse || !range)
        return;
    const int32_t code = ConverterCoding(s.Resolution).CodeOfFrame(known.registers.input);
    textVolts->setText(Q(VoltageText(CodeToVolts(code, s.Resolution, *range, s.BinaryCoding))));
    textVolts->setModified(false);
}

QString ComposerPanel::Impl::BoxName(const QLineEdit* box) const {
    if (box == textVolts)
        return tr("The voltage box");
    if (box == textData)
        return tr("The data box");
    if (box == textFine)
        return tr("The fine gain box");
    if (box == textOffset)
        return tr("The offset box");
    return tr("The function box");
}

void ComposerPanel::Impl::TextVolts_Enter() {
    RequireNumber(textVolts);
    ComposerFields& s = Composer();
    const double read = ParseNumber(textVolts->text().toStdString());
    const float typed = ToSingle(read);
    s.RegSelect = kRegData;
    const int16_t rangeChannel = s.Address < kAllChannels ? s.Address : 0;
    // The box words its own refusals, with the value typed.
    const Instrument::Origin fromBox(context.instrument, textVolts);
    VoltageSetting set{};
    try {
        // The range is that of the channel shown ("ALL DACs" goes by DAC A's); a coarse gain of 3
        // leaves the range the composer had.
        set = Registers().SetChannelVoltage(s.Address, typed, s.RangeVolts);
    } catch (const NumericError&) {
        // The range read back as all ones: the box keeps what was typed for another Enter.
        ShowInStatusBar(textVolts, RangeUnreadableText(
                                       Q(ChannelName(rangeChannel)),
                                       Registers().FunctionFlagValue(FunctionFlag::SdoDisable)));
        return;
    } catch (const LimitError& e) {
        const float range = RangeVoltsForCode(Registers().KnownRangeCode(rangeChannel).value_or(0))
                                .value_or(s.RangeVolts);
        const QString text = RefusedEntryText(context.instrument, s.Address,
                                              comboAddr->currentText() + tr(" voltage"), read,
                                              std::clamp(typed, -range, range), e.what());
        ShowInStatusBar(textVolts, text);
        context.messages.ShowMessage(panel.window(), MessageIcon::Warning, text);
        throw;
    }
    s.RangeVolts = set.rangeVolts;
    textVolts->setText(Q(VoltageText(RoundToFiveDecimals(set.volts))));
    textData->setText(CodeText(set.code, false));
    s.DataValue = ConverterCoding(State().Resolution).FrameOfCode(set.code);
    ShowWord(0, s.RegSelect, s.Address, s.DataValue);
    // A slip (12V, 1e3, a row of nines) is limited to the range as designed, but never unsaid.
    if (set.volts != typed)
        ShowInStatusBar(textVolts, BeyondRangeText(read, set.rangeVolts, set.volts));
}

void ComposerPanel::Impl::TextData_Enter() {
    ComposerFields& s = Composer();
    if (s.NumberMode == "Dec")
        RequireNumber(textData);
    const int32_t coarse = Registers().ReadRegister(s.Address, kRegCoarseGain);
    RangeFromCode(s.RangeVolts, coarse);
    ShowReadWrite(0);
    std::string text = textData->text().toStdString();
    const int32_t code = DataCodeEntry(text, s.NumberMode, State().Resolution);
    s.DataValue = code;
    textData->setText(CodeText(code, true));
    const ConverterCoding coding(State().Resolution);
    s.DataValue = coding.FrameOfCode(code);
    Registers().WriteRegister(s.Address, s.RegSelect, s.DataValue);
    s.DataValue = coding.CodeOfFrame(s.DataValue);
    textVolts->setText(Q(VoltageText(
        CodeToVolts(s.DataValue, State().Resolution, s.RangeVolts, State().BinaryCoding))));
    RefreshWordDisplay();
    word->SetReadWrite(0);
}

void ComposerPanel::Impl::TextFine_Enter() {
    RequireNumber(textFine);
    ComposerFields& s = Composer();
    ShowReadWrite(0);
    if (textFine->text().isEmpty())
        textFine->setText(QStringLiteral("0"));
    const float typed = ToSingle(ParseNumber(textFine->text().toStdString()));
    const LimitedValue limited = FineGainToCode(typed, State().Resolution);
    textFine->setText(Q(ShortText(limited.value)));
    s.DataValue = limited.code;
    Registers().WriteRegister(s.Address, kRegFineGain, limited.code);
    // The fine gain code is not aligned on the 14-bit device: show it as written.
    if (ConverterCoding(State().Resolution).Narrow())
        ShowUnshifted = 1;
    RefreshWordDisplay();
    ShowUnshifted = 0;
    word->SetReadWrite(0);
}

void ComposerPanel::Impl::TextOffset_Enter() {
    RequireNumber(textOffset);
    ComposerFields& s = Composer();
    ShowReadWrite(0);
    if (textOffset->text().isEmpty())
        textOffset->setText(QStringLiteral("0"));
    const float typed = ToSingle(ParseNumber(textOffset->text().toStdString()));
    const LimitedValue limited = OffsetToCode(typed, State().Resolution);
    textOffset->setText(Q(ShortText(limited.value)));
    s.DataValue = limited.code;
    Registers().WriteRegister(s.Address, s.RegSelect, s.DataValue);
    // The word display takes the value as a data frame again.
    s.DataValue = ConverterCoding(State().Resolution).CodeOfFrame(s.DataValue);
    RefreshWordDisplay();
    word->SetReadWrite(0);
}

void ComposerPanel::Impl::TextFunction_Enter() {
    ComposerFields& s = Composer();
    ShowReadWrite(0);
    std::string text = textFunction->text().toStdString();
    s.FunctionImage = FunctionWordEntry(text, s.NumberMode);
    textFunction->setText(CodeText(s.FunctionImage, true));
    Registers().WriteRegister(s.Address, s.RegSelect, s.FunctionImage);
    s.FunctionImage = Registers().ReadRegister(s.Address, s.RegSelect);
    if (s.RegSelect == kRegFunction)
        switches.MirrorFunctionBits(s.FunctionImage);
}

ComposerPanel::ComposerPanel(WindowContext& context, FunctionSwitches& switches, QWidget* parent)
    : QGroupBox(parent), impl_(std::make_unique<Impl>(*this, context, switches)) {
    impl_->Build();
    impl_->Connect();
}

ComposerPanel::~ComposerPanel() = default;

void ComposerPanel::ShowReadWrite(int16_t readWrite) {
    impl_->word->SetReadWrite(readWrite);
}

// The ends of what the entries take on this device, as they show values ("-16 to 15.875").
void ComposerPanel::SetRangePrompts(int16_t resolution) {
    const ConverterProfile* profile = FindProfile(resolution);
    if (!profile)
        return;
    const auto ends = [](const SignedSteps& field) {
        return Q(ShortText(static_cast<float>(field.LowestShown())) + " to " +
                 ShortText(static_cast<float>(field.HighestShown())));
    };
    impl_->label9->setText(QStringLiteral("Enter Offset Value (%1)").arg(ends(profile->offset)));
    impl_->label7->setText(
        QStringLiteral("Enter Fine Gain Value (%1)").arg(ends(profile->fineGain)));
}

void ComposerPanel::FillLists() {
    Impl& p = *impl_;
    const Impl::Acting acts(p.acting);
    Guarded([&] {
        p.comboRW->clear();
        p.comboRW->addItems({QStringLiteral("Read"), QStringLiteral("Write")});
        p.SelectItem(p.comboRW, QStringLiteral("Write"), &Impl::ComboRW_Click);

        p.comboReg->clear();
        for (const auto& reg : kRegisters)
            p.comboReg->addItem(Q(reg.text));
        p.comboReg->setCurrentIndex(-1);

        // The address starts at 0, so the list shows "DAC A" from the start; nothing is sent.
        p.comboAddr->clear();
        for (const auto& channel : kChannels)
            p.comboAddr->addItem(Q(channel.text));
        p.comboAddr->setCurrentIndex(0);

        p.comboFunction->clear();
        p.comboFunction->addItem(Q(kNoOperationText));
        for (const auto& choice : p.State().FunctionChoices)
            p.comboFunction->addItem(Q(choice));
        p.comboFunction->addItem(Q(kClearAllText));
        p.comboFunction->addItem(Q(kLoadAllText));
        p.SelectItem(p.comboFunction, Q(kNoOperationText), &Impl::ComboFunction_Click);

        p.comboCoarse->clear();
        for (const auto& range : kRanges)
            p.comboCoarse->addItem(Q(range.text));
        p.comboCoarse->setCurrentIndex(-1);
    });
}

void ComposerPanel::ApplyStartupVisibility() {
    for (const auto name : kHiddenAtStartup)
        impl_->controls.value(Q(name))->hide();
    impl_->comboAddr->show();
    impl_->command2->setText(Q(impl_->State().NumberMode));
}

void ComposerPanel::SelectRegisterByText(const QString& text) {
    const Impl::Acting acts(impl_->acting);
    Guarded([&] { impl_->SelectItem(impl_->comboReg, text, &Impl::ComboReg_Click); });
}

void ComposerPanel::ReadRegisterAction() {
    const Impl::Acting acts(impl_->acting);
    Guarded([&] { impl_->ReadRegisterAction(); });
}

}  // namespace tq
