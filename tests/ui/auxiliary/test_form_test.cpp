#include <gtest/gtest.h>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "tests/support/RowNames.h"
#include "tests/support/TestContext.h"
#include "ui/auxiliary/TestForm.h"

namespace tq::testing {
namespace {

class TestFormTest : public ::testing::Test {
protected:
    TestFormTest() : form(tc.context) {
        form.show();
        address = form.findChild<QLineEdit*>(QStringLiteral("Text1"));
        data = form.findChild<QLineEdit*>(QStringLiteral("Text2"));
        read = form.findChild<QPushButton*>(QStringLiteral("Command1"));
        write = form.findChild<QPushButton*>(QStringLiteral("Command2"));
    }

    void Press(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    TestContext tc;
    TestForm form;
    QLineEdit* address;
    QLineEdit* data;
    QPushButton* read;
    QPushButton* write;
};

TEST_F(TestFormTest, StartsWithItsDesignTexts) {
    EXPECT_EQ(form.windowTitle(), "Direct Read / Write");
    EXPECT_EQ(address->text(), "0");
    EXPECT_EQ(data->text(), "0");
    EXPECT_EQ(read->text(), "Read");
    EXPECT_EQ(write->text(), "Write");
    EXPECT_EQ(form.size(), QSize(337, 77));
    EXPECT_TRUE(tc.adapter.calls.empty());
}

struct WriteCase {
    const char* address;
    const char* data;
    std::string request;
};
void PrintTo(const WriteCase& c, std::ostream* os) {
    *os << '"' << c.address << "\" \"" << c.data << '"';
}

class TestFormWrite : public TestFormTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(TestFormWrite, SendsOneWordForTheTypedRegister) {
    const WriteCase& c = GetParam();
    // The main window's composer shows DAC D's offset; this window must not move it.
    tc.state.Address = 3;
    tc.state.RegSelect = 5;
    tc.state.DataValue = 77;
    address->setText(QString::fromLatin1(c.address));
    data->setText(QString::fromLatin1(c.data));
    Press(write);
    EXPECT_EQ(tc.adapter.Requests(), std::vector<std::string>{c.request});
    EXPECT_EQ(tc.state.Address, 3);
    EXPECT_EQ(tc.state.RegSelect, 5);
    EXPECT_EQ(tc.state.DataValue, 77);
    EXPECT_TRUE(tc.messages.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Words, TestFormWrite,
    ::testing::Values(
        // Channel A's data register; 8000 reads as -32768, its low 16 bits 8000.
        WriteCase{"10", "8000", "DD 16 -32768 0 0"},
        WriteCase{"50", "1234", "DD 16 4660 0 0"},    // bit 6 ignored
        WriteCase{"1 0", "5", "DD 16 5 0 0"},         // blanks ignored
        WriteCase{"1B", "2", "DD 27 2 0 0"},          // coarse gain of channel D
        WriteCase{"10", "FFFF", "DD 16 -1 0 0"},      // low 16 bits FFFF
        WriteCase{"10", "10000", "DD 16 65536 0 0"},  // 32-bit data goes out unchanged
        WriteCase{"10", "FFFFFFFF", "DD 16 -1 0 0"},
        WriteCase{"FFFF", "1", "DD 63 1 0 0"},  // -1: register 7, channel 7
        WriteCase{"", "", "DD 0 0 0 0"},        // empty boxes read as 0
        WriteCase{"1x7", "2G", "DD 1 2 0 0"}),
    (tq::testing::NamedBy<&WriteCase::address, &WriteCase::data>{}));  // reading stops at a
                                                                       // non-digit

struct ReadCase {
    const char* address;
    uint16_t deviceValue;
    std::string request;
    const char* shown;
};
void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << '"' << c.address << '"';
}

class TestFormRead : public TestFormTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(TestFormRead, ReadsTheRegisterBackAndShowsItInHex) {
    const ReadCase& c = GetParam();
    address->setText(QString::fromLatin1(c.address));
    tc.adapter.QueueRegisterRead(c.deviceValue);
    Press(read);
    EXPECT_EQ(tc.adapter.Requests(), (std::vector<std::string>{c.request, c.request}));
    EXPECT_EQ(data->text(), c.shown);
    EXPECT_EQ(tc.state.LastReadBack, c.deviceValue);
}

INSTANTIATE_TEST_SUITE_P(Registers, TestFormRead,
                         ::testing::Values(ReadCase{"18", 2, "DD 152 0 1 3",
                                                    "2"},  // coarse gain of channel A
                                           ReadCase{"10", 0x8000, "DD 144 0 1 3", "8000"},
                                           ReadCase{"1B", 0xFFFF, "DD 155 0 1 3", "FFFF"},
                                           ReadCase{"1", 0, "DD 129 0 1 3", "0"}),
                         tq::testing::NamedBy<&ReadCase::address>{});

TEST_F(TestFormTest, ReadAfterWriteShowsWhatTheDeviceHolds) {
    address->setText(QStringLiteral("10"));
    data->setText(QStringLiteral("1234"));
    Press(write);
    tc.adapter.QueueRegisterRead(0x0ABC);
    Press(read);
    EXPECT_EQ(tc.adapter.Requests(),
              (std::vector<std::string>{"DD 16 4660 0 0", "DD 144 0 1 3", "DD 144 0 1 3"}));
    EXPECT_EQ(data->text(), "ABC");
}

struct RefusalCase {
    const char* label;
    const char* address;
    const char* data;
    bool pressWrite;
    QString message;
    bool dataBoxFocused;
};

class TestFormRefusal : public TestFormTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(TestFormRefusal, SendsNothingAndWarns) {
    const RefusalCase& c = GetParam();
    address->setText(QString::fromLatin1(c.address));
    data->setText(QString::fromLatin1(c.data));
    tc.state.DataValue = 77;
    Press(c.pressWrite ? write : read);
    EXPECT_TRUE(tc.adapter.calls.empty());
    ASSERT_EQ(tc.messages.messages.size(), 1u);
    EXPECT_EQ(tc.messages.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(tc.messages.messages[0].text, c.message);
    EXPECT_EQ(form.focusWidget(), c.dataBoxFocused ? data : address);
    EXPECT_EQ(tc.state.DataValue, 77);
    EXPECT_EQ(address->text(), c.address) << "the box keeps its text for correction";
}

const QString kAddressMessage = QStringLiteral("The address is out of range (0 to FFFF).");
const QString kDataMessage = QStringLiteral("The data value is out of range (0 to FFFFFFFF).");

INSTANTIATE_TEST_SUITE_P(
    OutOfRange, TestFormRefusal,
    ::testing::Values(
        RefusalCase{"FiveDigitAddressRead", "10000", "0", false, kAddressMessage, false},
        RefusalCase{"FiveDigitAddressWrite", "10010", "5", true, kAddressMessage, false},
        RefusalCase{"HugeAddressRead", "123456789", "0", false, kAddressMessage, false},
        RefusalCase{"DataAboveFFFFFFFF", "10", "100000000", true, kDataMessage, true}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tq::testing
