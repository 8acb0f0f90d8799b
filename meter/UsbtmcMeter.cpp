#include "meter/UsbtmcMeter.h"

namespace tq {
namespace {

// Beyond the answer's own timeout, which the device's worker keeps: the time its reply takes to
// come back, and a driver that keeps a fixed timeout of its own.
constexpr int kGraceMilliseconds = 1000;

}  // namespace

UsbtmcMeter::UsbtmcMeter(QObject* parent) : ScpiMeter(parent) {
    overdue_.setSingleShot(true);
    connect(&overdue_, &QTimer::timeout, this, &UsbtmcMeter::OnOverdue);
}

UsbtmcMeter::~UsbtmcMeter() {
    // No reply may be posted to an object that is going.
    device_.reset();
}

std::unique_ptr<UsbtmcDevice> UsbtmcMeter::MakeDevice() {
    const uint64_t number = ++lastDeviceNumber_;
    return std::make_unique<UsbtmcDevice>(
        [this, number](uint64_t exchange, const UsbtmcReply& reply) {
            QMetaObject::invokeMethod(
                this, [this, number, exchange, reply] { OnReply(number, exchange, reply); },
                Qt::QueuedConnection);
        });
}

bool UsbtmcMeter::Open(const MeterSettings& settings, std::string& error) {
    std::string path;
    if (!ParseUsbtmcAddress(settings.address, path, error) ||
        !CheckReadingSettings(settings, error))
        return false;
    auto device = MakeDevice();
    if (!device->Open(path, error))
        return false;
    Begin(settings, std::move(device));
    return true;
}

bool UsbtmcMeter::OpenDescriptor(int fd, UsbtmcDevice::Framing framing,
                                 const MeterSettings& settings, std::string& error) {
    if (!CheckReadingSettings(settings, error))
        return false;
    auto device = MakeDevice();
    if (!device->Adopt(fd, framing, settings.address, error))
        return false;
    Begin(settings, std::move(device));
    return true;
}

void UsbtmcMeter::Begin(const MeterSettings& settings, std::unique_ptr<UsbtmcDevice> device) {
    Close();
    lastError_.clear();
    settings_ = settings;
    device_ = std::move(device);
    deviceNumber_ = lastDeviceNumber_;
    Identify();
}

void UsbtmcMeter::Close() {
    Forget();
    overdue_.stop();
    awaited_ = 0;
    answer_ = nullptr;
    device_.reset();
}

void UsbtmcMeter::Ask(std::vector<std::string> commands,
                      std::function<void(const std::string&)> answer) {
    answer_ = std::move(answer);
    awaited_ = device_->Query(std::move(commands), settings_.timeoutMilliseconds);
    waitedLonger_ = false;
    overdue_.start(settings_.timeoutMilliseconds + kGraceMilliseconds);
}

void UsbtmcMeter::OnReply(uint64_t device, uint64_t exchange, const UsbtmcReply& reply) {
    // The reply to an exchange given up on, or of a device closed since.
    if (device != deviceNumber_ || exchange != awaited_ || !device_)
        return;
    awaited_ = 0;
    overdue_.stop();
    switch (reply.outcome) {
        case UsbtmcReply::Outcome::Answered: {
            auto answer = std::move(answer_);
            answer_ = nullptr;
            if (answer)
                answer(reply.answer);
            return;
        }
        case UsbtmcReply::Outcome::NoAnswer:
            answer_ = nullptr;
            NoAnswer(reply.error);
            return;
        case UsbtmcReply::Outcome::Broken:
            Break(reply.error);
            return;
    }
}

void UsbtmcMeter::OnOverdue() {
    // Still queued behind an exchange given up on, which ends within its own timeout.
    if (device_ && device_->Begun() < awaited_ && !waitedLonger_) {
        waitedLonger_ = true;
        overdue_.start(settings_.timeoutMilliseconds + kGraceMilliseconds);
        return;
    }
    awaited_ = 0;
    answer_ = nullptr;
    NoAnswer("no answer from the meter within " + std::to_string(settings_.timeoutMilliseconds) +
             " ms");
}

void UsbtmcMeter::Break(const std::string& reason) {
    overdue_.stop();
    awaited_ = 0;
    answer_ = nullptr;
    device_.reset();
    Broken(reason);
}

}  // namespace tq
