#pragma once
// One client of the protocol as its transport sees it: the bytes it sends go in, its answers come
// out, and the events that IEEE 488.2 carries beside the bytes act on it (the end of a message, a
// device clear, a read of the status byte, a trigger). The transports, the raw socket and VXI-11,
// only move bytes and events in and out; the lines, their answers and everything the protocol
// keeps for the client (error queue, status, format, pending operations: its ScpiSession) are
// here. Standard library only.
//
// Memory stays bounded whatever the client does: a line is at most LineAssembler's longest (the
// transport feeds more only while QueuedInput() is small), and a line whose answers pile up
// unread stops between its commands until they are taken.

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "remote/InstrumentCommands.h"
#include "scpi/ScpiGrammar.h"

namespace tq {

class ClientSession {
public:
    struct Limits {
        // Answers waiting beyond this stop the client's line before its next command.
        std::size_t maxUnreadAnswers = std::size_t{1} << 20;
        // One turn runs at most this many lines, or for this long.
        int linesPerTurn = 64;
        std::chrono::microseconds turnTime{2000};
        // A first line that is an HTTP request (a web page's, through a browser) runs nothing.
        bool refuseHttp = false;
    };
    // Why a turn ended.
    enum class Stop {
        NoInput,     // every line sent so far has run (or waits for the rest of its bytes)
        TurnOver,    // the turn's lines or time are used up, and there is more to run
        OutputFull,  // its answers wait unread: it goes on once they are taken
        Held,        // a line waits for a ramp or for the client's pending operations
        Refused,     // its first line was an HTTP request: the transport closes it
    };
    // Answers taken out: their bytes, whether they end an answer (its line feed) and whether
    // they stop at the byte asked for.
    struct Output {
        std::string bytes;
        bool endsAnswer = false;
        bool stoppedAt = false;
    };

    ClientSession(InstrumentCommands& commands, Limits limits);
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    // Asked for more bytes when no whole line waits to run: true when it fed some (a transport
    // that reads its input as it is served; one that pushes its input gives none).
    void SetRefill(std::function<bool()> refill) { refill_ = std::move(refill); }
    // The answers the transport holds unsent besides the session's own, counted with them
    // against Limits::maxUnreadAnswers.
    void SetBacklog(std::function<std::size_t()> backlog) { backlog_ = std::move(backlog); }

    void Feed(std::string_view bytes);
    // The transport marks the end of a message (VXI-11's END flag): a line left open ends here.
    void EndMessage();
    // Bytes of whole lines that wait to run (the unfinished line is bounded on its own).
    std::size_t QueuedInput() const { return lines_.HeldSize() - lines_.PartialSize(); }
    // The bytes of a block still to come: they may be read in one piece.
    std::size_t BlockBytesDue() const { return lines_.BlockBytesDue(); }

    // One turn: lines run until the turn is over, the answers pile up, a line is held or the
    // input is used up.
    Stop Serve();
    // A line waits for a ramp or for the client's pending operations.
    bool Holding() const { return session_.Holding(); }

    std::size_t OutputSize() const { return outputSize_; }
    // At most `max` bytes of answers, up to the end of the first answer among them and, when
    // `stopAfter` is given, up to the first such byte.
    Output TakeOutput(std::size_t max, std::optional<char> stopAfter = {});
    // From now on answers are thrown away: the peer has gone, and the lines it sent still run.
    void DiscardOutput();

    // IEEE 488.2's device clear: the input and the answers not yet taken are thrown away, a line
    // waiting for the pending operations is given up (the operations go on) and *OPC forgotten.
    void Clear();
    // The status byte, with MAV (bit 4) while an answer waits.
    int StatusByte();
    // An answer waits: taken neither by the transport nor finished by its line.
    bool MessageAvailable() const { return outputSize_ > 0 || session_.ResponseSize() > 0; }
    // Runs a line at once, beside the input (a trigger the transport carries: "*TRG"); its
    // errors are queued as any line's, its answers dropped.
    void RunAtOnce(std::string_view line) { session_.Execute(line); }

    ScpiSession& Session() { return session_; }

private:
    struct Piece {
        std::string bytes;
        bool endsAnswer = false;
    };
    bool Paused() const;
    // Answers not yet read: the session's and the transport's.
    std::size_t Unread() const { return outputSize_ + (backlog_ ? backlog_() : 0); }
    // The answers the line has given so far; its line feed once it has ended.
    void CollectAnswers(bool lineEnded);

    Limits limits_;
    ScpiSession session_;
    scpi::LineAssembler lines_;
    std::deque<Piece> output_;
    std::size_t taken_ = 0;  // of output_.front()
    std::size_t outputSize_ = 0;
    std::chrono::steady_clock::time_point turnEnds_;
    bool answerOpen_ = false;  // part of a line's answers is out, its line feed not yet
    bool firstLine_ = true;
    bool discarding_ = false;
    std::function<bool()> refill_;
    std::function<std::size_t()> backlog_;
};

}  // namespace tq
