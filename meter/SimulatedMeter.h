#pragma once
// The simulated bench's DC voltmeter on the loopback address: it answers, line by line, what
// SimulatedMeterLogic answers (the commands a bench meter with a scanner takes), reading the
// simulated board's outputs, so the meter runs can be tried and tested without a meter.

#include <QTcpServer>
#include <QTcpSocket>
#include <cstdint>

#include "meter/SimulatedMeterLogic.h"

namespace tq {

class SimulatedMeter : public QObject {
    Q_OBJECT
public:
    explicit SimulatedMeter(const SimulatedBench& bench, QObject* parent = nullptr);
    // On the loopback address; port 0 picks a free one.
    bool Listen(uint16_t port, QString& error);
    uint16_t Port() const { return server_.serverPort(); }

private:
    void OnConnection();

    SimulatedMeterLogic logic_;
    QTcpServer server_;
};

}  // namespace tq
