#include "board/AdapterResults.h"

#include <array>

namespace tq {

namespace {
struct Explanation {
    int32_t code;
    std::string_view text;
};

constexpr std::array<Explanation, 10> kExplanations{{
    {kResultIoError,
     "The board did not answer a USB request (input/output error). Check the USB cable and the "
     "board's power, then start the program again."},
    {kResultNoBoard,
     "No TQ2604X evaluation board (USB 0456:B202) is attached. Check the USB cable and that the "
     "board is powered, then start the program again."},
    {kResultAccessDenied,
     "Access to the evaluation board (USB 0456:B202) was denied. Install the udev rule: copy "
     "60-tq2604x-eval.rules to /etc/udev/rules.d/, run 'sudo udevadm control --reload-rules && "
     "sudo udevadm trigger', then unplug the board, plug it in again and restart the program."},
    {kResultFirmwareMissing,
     "The firmware file TQ2604.hex is missing or cannot be read. Put the board's firmware file "
     "TQ2604.hex in the program's folder (beside the tq2604x-eval program) and start again."},
    {kResultFirmwareMalformed,
     "The firmware file TQ2604.hex is not a well-formed Intel HEX file. Replace it with the "
     "board's original firmware file."},
    {kResultFirmwareTooLarge,
     "The firmware image in TQ2604.hex does not fit the board controller's 16 KiB of program "
     "RAM. Replace it with the board's original firmware file."},
    {kResultTimeout,
     "The board did not answer in time (USB timeout). Unplug the board, plug it in again and "
     "restart the program."},
    {kResultNoReenumeration,
     "The board did not come back after the firmware download. Unplug the board, plug it in "
     "again and restart the program."},
    {kResultSimulatorImage,
     "TQ2604.hex beside the program is the simulated board's image, not the board's firmware. "
     "Put the board's own firmware file TQ2604.hex in the program's folder (beside the "
     "tq2604x-eval program), or start with --simulate."},
    {kResultPathTooLong,
     "The path of the firmware file is longer than 512 bytes. Move the program to a folder "
     "with a shorter path."},
}};
}  // namespace

std::string_view ExplainRequestFailure(int32_t code) {
    if (code == kResultIoError)
        return "The board did not answer a USB request (input/output error). Check the USB cable "
               "and the board's power; the program goes on by itself once the board answers "
               "again.";
    return ExplainAdapterResult(code);
}

std::string_view ExplainAdapterResult(int32_t code) {
    for (const auto& e : kExplanations)
        if (e.code == code)
            return e.text;
    return {};
}

}  // namespace tq
