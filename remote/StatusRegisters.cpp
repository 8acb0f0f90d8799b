#include "remote/StatusRegisters.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "instrument/Instrument.h"
#include "instrument/ListRun.h"

namespace tq {
namespace scpi {

int EventBitOf(int code) {
    if (code <= -100 && code > -200)
        return kEventCommandError;
    if (code <= -200 && code > -300)
        return kEventExecutionError;
    if (code <= -300 && code > -400)
        return kEventDeviceError;
    if (code <= -400 && code > -500)
        return kEventQueryError;
    // The program's own positive codes would be device-dependent; it has none.
    return code > 0 ? kEventDeviceError : 0;
}

int StatusRegisters::StatusByte(bool errorsQueued, bool messageAvailable) const {
    int byte = 0;
    if (errorsQueued)
        byte |= kStatusErrorQueue;
    if (messageAvailable)
        byte |= kStatusMessageAvailable;
    if (questionableEvent & questionableEnable)
        byte |= kStatusQuestionable;
    if (events & eventEnable)
        byte |= kStatusEvent;
    if (operationEvent & operationEnable)
        byte |= kStatusOperation;
    if (byte & serviceEnable & ~kStatusMaster)
        byte |= kStatusMaster;
    return byte;
}

void StatusRegisters::ClearEvents() {
    events = 0;
    operationEvent = 0;
    questionableEvent = 0;
}

void StatusRegisters::Preset() {
    operationEnable = 0;
    questionableEnable = 0;
    operationPositive = questionablePositive = kAllConditions;
    operationNegative = questionableNegative = 0;
}

void StatusRegisters::Latch(int operationBefore, int operation, int questionableBefore,
                            int questionable) {
    operationEvent |= (operation & ~operationBefore & operationPositive) |
                      (~operation & operationBefore & operationNegative);
    questionableEvent |= (questionable & ~questionableBefore & questionablePositive) |
                         (~questionable & questionableBefore & questionableNegative);
}

void StatusRegisters::ClearEnables() {
    eventEnable = 0;
    serviceEnable = 0;
}

}  // namespace scpi

RemoteClient::RemoteClient() {
    errors.SetObserver([this](int code) { status.events |= scpi::EventBitOf(code); });
}

StatusModel::StatusModel(Instrument& instrument, const ListRun* lists)
    : instrument_(instrument), lists_(lists) {
    listener_ = instrument_.AddListener([this](const InstrumentChange& c) { Observe(c); });
    operation_ = ReadOperation();
}

StatusModel::~StatusModel() {
    instrument_.RemoveListener(listener_);
}

void StatusModel::Attach(RemoteClient& client) {
    clients_.push_back(&client);
}

void StatusModel::Detach(RemoteClient& client) {
    std::erase(clients_, &client);
    const bool armed = lists_ && lists_->Armed() && lists_->ArmedBy() == client.origin;
    if (armed || Pending(client))
        departed_.push_back(std::move(client.token));
}

int StatusModel::ReadOperation() const {
    int condition = instrument_.OperationCondition();
    if (lists_ && lists_->Armed())
        condition |= scpi::kOperationWaitingForTrigger;
    return condition;
}

void StatusModel::Update() {
    const int operation = ReadOperation();
    const int questionable =
        (linkDown_ ? scpi::kQuestionableLink : 0) |
        (instrument_.RestorationIncomplete() ? scpi::kQuestionableCalibration : 0);
    // The event registers take the conditions' edges that each client's filters pass.
    const int operationBefore = std::exchange(operation_, operation);
    const int questionableBefore = std::exchange(questionable_, questionable);
    if (operation == operationBefore && questionable == questionableBefore)
        return;
    for (RemoteClient* client : clients_)
        client->status.Latch(operationBefore, operation, questionableBefore, questionable);
}

void StatusModel::Observe(const InstrumentChange& change) {
    using Kind = InstrumentChange::Kind;
    switch (change.kind) {
        case Kind::RequestResult:
            // Every request reports its result: only a change of the link's state counts.
            if ((change.value < 0) != linkDown_) {
                linkDown_ = change.value < 0;
                Update();
            }
            break;
        case Kind::BoardBack:
            // A power loss is every client's news, whoever's request found the board back.
            if (change.value == 1 && !change.text.empty()) {
                // The views' sentence follows the error's standard text after a semicolon.
                std::string detail = change.text;
                detail[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(detail[0])));
                for (RemoteClient* client : clients_) {
                    if (instrument_.PowerOnStatusClear())
                        client->status.ClearEnables();
                    client->status.events |= scpi::kEventPowerOn;
                    client->errors.Push(scpi::kConfigurationMemoryLost, detail);
                }
            }
            Update();
            break;
        case Kind::Refused:
            if (change.value == 1)
                // An event without a lasting condition: it passes as a rising edge.
                for (RemoteClient* client : clients_)
                    client->status.questionableEvent |=
                        scpi::kQuestionableLimit & client->status.questionablePositive;
            break;
        case Kind::Activity:
            if (change.value == 2)
                break;
            Update();
            if (change.value == 0) {
                TellStarter(*change.activity);
                std::erase_if(departed_, [this](const std::unique_ptr<char>& origin) {
                    return !instrument_.RunsActivityOf(origin.get()) &&
                           !(lists_ && lists_->Armed() && lists_->ArmedBy() == origin.get());
                });
                for (RemoteClient* client : clients_)
                    if (client->operationCompleteArmed && !Pending(*client)) {
                        client->operationCompleteArmed = false;
                        client->status.events |= scpi::kEventOperationComplete;
                    }
            }
            break;
        default:
            break;
    }
}

void StatusModel::TellStarter(const Activity& ended) {
    for (RemoteClient* client : clients_) {
        if (ended.Starter() != client->origin)
            continue;
        // The safe state's ramp of its *RST: the *RST says itself why it stopped short.
        if (client->resetPending) {
            const ActivityOutcome& outcome = ended.Outcome();
            if (outcome.ending != ActivityOutcome::Ending::Finished)
                client->resetRampError = outcome.ending == ActivityOutcome::Ending::Stopped
                                             ? "the safe state took over"
                                             : outcome.why;
        } else if (ended.OutcomeReported()) {
            client->errors.Push(scpi::kExecutionError, ended.OutcomeText());
        }
        return;
    }
}

bool StatusModel::IsClient(const void* origin) const {
    return std::any_of(clients_.begin(), clients_.end(),
                       [origin](const RemoteClient* c) { return c->origin == origin; }) ||
           std::any_of(departed_.begin(), departed_.end(),
                       [origin](const std::unique_ptr<char>& o) { return o.get() == origin; });
}

bool StatusModel::Pending(const RemoteClient& client) const {
    return instrument_.RunsActivityOf(client.origin);
}

void StatusModel::ArmOperationComplete(RemoteClient& client) {
    if (Pending(client)) {
        client.operationCompleteArmed = true;
    } else {
        client.operationCompleteArmed = false;
        client.status.events |= scpi::kEventOperationComplete;
    }
}

}  // namespace tq
