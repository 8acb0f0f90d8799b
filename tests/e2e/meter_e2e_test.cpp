// The Bench Meter window through the program's menus on the simulated board with its simulated
// meter: a run owns its channel against the main window, and the address chooses the meter's
// connection. A settling time of ten minutes keeps the run at its first step, so nothing here
// depends on time beyond the meter's connection.

#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/ConsoleRunner.h"

namespace tq::testing {
namespace {

TEST(MeterEndToEnd, ARunOwnsItsChannelAndTheAddressChoosesTheMeter) {
    const std::string script =
        "menu MainForm.MnuMeter\n"
        "type MeterForm.TextSettle 600000\n"
        "click MeterForm.CmdOpen\n"
        "wait 1500\n"
        "get MeterForm.LabelIdn\n"
        "click MeterForm.CmdCalibrate\n"
        "get MeterForm.LabelStatus\n"
        "sim output 0\n" +
        Enter("MainForm.TextVolts", "3") +
        "get MainForm.StatusBar\n"
        "sim output 0\n"
        "click MeterForm.CmdStop\n"
        "get MeterForm.LabelStatus\n" +
        Enter("MainForm.TextVolts", "3") +
        "sim output 0\n"
        "type MeterForm.TextAddress GPIB0::22::INSTR\n"
        "click MeterForm.CmdOpen\n"
        "type MeterForm.TextAddress /dev/usbtmc97\n"
        "click MeterForm.CmdOpen\n"
        "get MeterForm.LabelIdn\n"
        "messages\n"
        "quit\n";
    const ConsoleRun run = RunConsole(script, {QStringLiteral("--sim-meter"), QStringLiteral("0")});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.output.find("error"), std::string::npos) << run.output;
    const std::string idn = "text: TQ-SIM,DVM,0,1.0\nvisible: 1\nenabled: 1\nok\n";
    // DAC A at 0 V for the offset step, kept there while the main window is refused, then the
    // main window's 3 V once the run has stopped.
    const std::string expected =
        "ok\n" + idn +
        "ok\ntext: Running\nvisible: 1\nenabled: 1\nok\n0.000350\nok\nok\nok\n"
        "text: Refused: DAC A is driven by the automatic calibration; stop it to change the "
        "output\nvisible: 1\nenabled: 1\nok\n0.000350\nok\nok\n"
        "text: Stopped\nvisible: 1\nenabled: 1\nok\nok\nok\n3.000858\nok\nok\nok\nok\nok\n" +
        idn +
        "message: warning the meter's address 'GPIB0::22::INSTR' is neither of the forms the "
        "program opens: TCPIP::host::port::SOCKET (a LAN meter, port 5025 on most) or "
        "/dev/usbtmcN (a USB meter through Linux's usbtmc driver)\n"
        "message: warning there is no meter at /dev/usbtmc97: check that it is plugged in and "
        "switched on, and that ls /dev/usbtmc* lists it\nok\n";
    EXPECT_NE(run.output.find(expected), std::string::npos) << run.output;
}

}  // namespace
}  // namespace tq::testing
