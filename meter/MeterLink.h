#pragma once
// A bench meter over a raw TCP socket (LAN meters, PyVISA's TCPIP::host::port::SOCKET): the SCPI
// it needs to take DC voltage readings. Everything is asynchronous: connecting, the set-up, each
// reading ends in a signal or a callback from the event loop, with a timeout on every answer, so
// the user-interface thread never waits for the meter.
//
// Its own library beside remote/: remote/ is the server other programs drive us through; this is
// the other direction, a client of someone else's instrument.

#include <QTcpSocket>
#include <QTimer>
#include <string>
#include <vector>

#include "instrument/Meter.h"
#include "instrument/MeterAddress.h"
#include "meter/ScpiMeter.h"

namespace tq {

class MeterLink : public ScpiMeter {
    Q_OBJECT
public:
    explicit MeterLink(QObject* parent = nullptr);
    ~MeterLink() override;

    // Connects, sends the set-up commands and asks *IDN?; ends in Connected or Failed. False
    // (with the reason) when the settings cannot work at all.
    bool Open(const MeterSettings& settings, std::string& error) override;
    void Close() override;

signals:
    void Connected(const QString& identity);
    void Failed(const QString& reason);

private:
    void Ask(std::vector<std::string> commands,
             std::function<void(const std::string&)> answer) override;
    void Break(const std::string& reason) override;
    void Identified() override;
    void OnReadyRead();
    void OnTimeout();
    void OnSocketError();

    QTcpSocket socket_;
    QTimer timeout_;
    std::string buffer_;
    // The answer awaited, and what takes it.
    std::function<void(const std::string&)> answer_;
    // Answers still owed for queries given up on; meters answer in order, so the next lines
    // that come are theirs.
    int staleAnswers_ = 0;
};

}  // namespace tq
