#include "remote/ClientSession.h"

#include <algorithm>

namespace tq {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

ClientSession::ClientSession(InstrumentCommands& commands, Limits limits)
    : limits_(limits), session_(commands) {
    session_.SetPause([this] { return Paused(); });
    session_.SetMessageAvailable([this] { return MessageAvailable(); });
}

void ClientSession::Feed(std::string_view bytes) {
    lines_.Feed(bytes.data(), bytes.size());
}

void ClientSession::EndMessage() {
    lines_.EndMessage();
}

bool ClientSession::Paused() const {
    const bool full = !discarding_ && Unread() + session_.ResponseSize() > limits_.maxUnreadAnswers;
    return full || Clock::now() >= turnEnds_;
}

ClientSession::Stop ClientSession::Serve() {
    turnEnds_ = Clock::now() + limits_.turnTime;
    for (int served = 0;;) {
        if (!discarding_ && Unread() > limits_.maxUnreadAnswers)
            return Stop::OutputFull;
        if (served >= limits_.linesPerTurn || Clock::now() >= turnEnds_)
            return Stop::TurnOver;
        bool ended = false;
        if (session_.Holding()) {
            ended = session_.Resume();
        } else {
            std::optional<scpi::Line> line = lines_.Next();
            if (!line) {
                if (refill_ && refill_())
                    continue;
                return Stop::NoInput;
            }
            ++served;
            if (line->overrun) {
                session_.Overrun();
                firstLine_ = false;
                continue;
            }
            if (limits_.refuseHttp && firstLine_ && scpi::LineAssembler::LooksLikeHttp(line->text))
                return Stop::Refused;
            firstLine_ = false;
            ended = session_.Start(line->text);
        }
        CollectAnswers(ended);
        // Stopped inside a line by the turn or the answers, the checks above see to it; by a
        // ramp or the pending operations, their end serves it again.
        if (!ended && !Paused())
            return Stop::Held;
    }
}

void ClientSession::CollectAnswers(bool lineEnded) {
    // A line stopped between its commands gives its answers so far; the rest follow after a ';'
    // and the line feed ends the line's answers as one.
    std::optional<std::string> answer = session_.TakeResponse();
    std::string out;
    if (answer) {
        if (answerOpen_)
            out += ';';
        out += *answer;
        answerOpen_ = true;
    }
    bool endsAnswer = false;
    if (lineEnded && answerOpen_) {
        out += '\n';
        answerOpen_ = false;
        endsAnswer = true;
    }
    if (out.empty() || discarding_)
        return;
    outputSize_ += out.size();
    output_.push_back(Piece{std::move(out), endsAnswer});
}

ClientSession::Output ClientSession::TakeOutput(std::size_t max, std::optional<char> stopAfter) {
    Output taken;
    while (!output_.empty() && taken.bytes.size() < max) {
        Piece& piece = output_.front();
        const std::string_view rest = std::string_view(piece.bytes).substr(taken_);
        std::size_t n = std::min(rest.size(), max - taken.bytes.size());
        if (stopAfter) {
            const std::size_t at = rest.substr(0, n).find(*stopAfter);
            if (at != std::string_view::npos) {
                n = at + 1;
                taken.stoppedAt = true;
            }
        }
        taken.bytes.append(rest.substr(0, n));
        taken_ += n;
        outputSize_ -= n;
        if (taken_ == piece.bytes.size()) {
            taken.endsAnswer = piece.endsAnswer;
            output_.pop_front();
            taken_ = 0;
        }
        if (taken.endsAnswer || taken.stoppedAt)
            break;
    }
    return taken;
}

void ClientSession::DiscardOutput() {
    discarding_ = true;
    output_.clear();
    outputSize_ = 0;
    taken_ = 0;
}

void ClientSession::Clear() {
    lines_ = scpi::LineAssembler{};
    output_.clear();
    outputSize_ = 0;
    taken_ = 0;
    answerOpen_ = false;
    session_.DeviceClear();
}

int ClientSession::StatusByte() {
    return session_.Status().StatusByte(!session_.Errors().Empty(), MessageAvailable());
}

}  // namespace tq
