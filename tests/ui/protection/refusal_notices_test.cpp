// A change refused by the limits in a window of ours is explained in a warning box, shown from
// the event loop after the window's handler, never inside it; remote sessions and activities
// are told their own way and get no box.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QTest>
#include <memory>

#include "tests/support/TestContext.h"
#include "ui/auxiliary/VoutForm.h"
#include "ui/protection/RefusalNotices.h"

namespace tq::testing {
namespace {

struct Refusals : ::testing::Test {
    Refusals() {
        t.instrument.SetPulseAfterDataWrite(true);
        t.instrument.SetLimits(1, {-2.0, 2.0, std::nullopt, 0.0});
        vout.show();
    }
    // Enter in the Output Voltages window's box of DAC B, its range reading ±10 V.
    void EnterOnB(const QString& volts) {
        auto* box = vout.findChild<QLineEdit*>(QStringLiteral("Text2"));
        t.adapter.QueueRegisterRead(0);
        box->setText(volts);
        QTest::keyClick(box, Qt::Key_Return);
    }
    bool WroteDacB() const {
        for (const RecordedCall& call : t.adapter.calls)
            if (call.function == "Vendor_Request" && call.direction == 0 && call.value == 17)
                return true;
        return false;
    }

    TestContext t;
    RefusalNotices notices{t.instrument, t.messages};
    VoutForm vout{t.context};
};

// A voltage box words its own refusal, with the value typed and what it became, once; the
// notices add no second box.
TEST_F(Refusals, AVoltageBoxExplainsItsRefusalInItsOwnWordsOnce) {
    EnterOnB(QStringLiteral("12V"));
    EXPECT_FALSE(WroteDacB());
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(t.messages.messages.size(), 1u);
    EXPECT_EQ(t.messages.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(t.messages.messages[0].text,
              "DAC B Voltage: 12 V typed, 10 V to send, is above DAC B's limit of 2 V; nothing "
              "was sent");

    // Within the limits: written, and nothing to tell.
    t.messages.messages.clear();
    EnterOnB(QStringLiteral("-1.5"));
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(WroteDacB());
    EXPECT_TRUE(t.messages.messages.empty());
}

TEST_F(Refusals, OnlyAWindowOfOursGetsABox) {
    struct Session {
        int queue = 0;
    } session;  // a remote client's session: no widget
    auto gone = std::make_unique<QWidget>();
    QWidget window;
    struct Case {
        const char* name;
        const void* origin;
        int boxes;
    };
    for (const Case& c : std::vector<Case>{{"a window", &window, 1},
                                           {"a window that words its own refusals", &vout, 0},
                                           {"a window closed before its box", gone.get(), 1},
                                           {"a remote session", &session, 0},
                                           {"no origin", nullptr, 0}}) {
        t.messages.messages.clear();
        {
            const Instrument::Origin own(t.instrument, c.origin);
            EXPECT_THROW(t.instrument.SetChannelVoltage(1, -3.0f), LimitError) << c.name;
        }
        // A window closed before its box is shown still has its box, without a parent.
        if (c.origin == gone.get())
            gone.reset();
        QCoreApplication::sendPostedEvents();
        ASSERT_EQ(t.messages.messages.size(), static_cast<std::size_t>(c.boxes)) << c.name;
        if (c.boxes) {
            EXPECT_EQ(t.messages.messages[0].text, "DAC B: -3 V is below its limit of -2 V");
        }
        EXPECT_FALSE(WroteDacB()) << c.name;
    }
}

TEST_F(Refusals, AChannelHeldByAnActivityIsNoLimitRefusal) {
    const int run = 0;
    t.instrument.ClaimChannels(&run, {1}, "the waveform run");
    EnterOnB(QStringLiteral("1"));
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(t.messages.messages.empty());
    t.instrument.ReleaseChannels(&run);
}

}  // namespace
}  // namespace tq::testing
