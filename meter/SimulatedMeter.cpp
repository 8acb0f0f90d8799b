#include "meter/SimulatedMeter.h"

#include <QHostAddress>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "board/SimulatedBench.h"

namespace tq {
namespace {

constexpr std::size_t kLongestLine = 4096;
constexpr std::size_t kMostErrors = 16;
constexpr int kMostClients = 4;

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool StartsWithAny(const std::string& header, std::initializer_list<const char*> forms) {
    for (const char* form : forms)
        if (header == form)
            return true;
    return false;
}

}  // namespace

std::string SimulatedMeterLogic::Answer(const std::string& line) {
    std::string answers;
    std::size_t start = 0;
    while (start <= line.size()) {
        std::size_t end = line.find(';', start);
        if (end == std::string::npos)
            end = line.size();
        const std::string command = Trim(line.substr(start, end - start));
        if (!command.empty()) {
            const std::string answer = One(command);
            if (!answer.empty())
                answers += (answers.empty() ? "" : ";") + answer;
        }
        start = end + 1;
    }
    return answers;
}

void SimulatedMeterLogic::Error(const std::string& error) {
    if (errors_.size() < kMostErrors)
        errors_.push_back(error);
}

std::string SimulatedMeterLogic::One(const std::string& command) {
    const std::size_t blank = command.find_first_of(" \t");
    std::string header = Upper(command.substr(0, blank));
    const std::string argument = blank == std::string::npos ? "" : Trim(command.substr(blank));
    if (!header.empty() && header[0] == ':')
        header.erase(0, 1);

    if (header == "*IDN?")
        return "TQ-SIM,DVM,0,1.0";
    if (StartsWithAny(header, {"MEAS:VOLT:DC?", "MEASURE:VOLTAGE:DC?", "MEAS:VOLT?",
                               "MEASURE:VOLTAGE?", "READ?"})) {
        const double volts = bench_.OutputVolts(channel_) + noiseVolts_ * normal_(random_);
        char text[32];
        std::snprintf(text, sizeof text, "%+.9E", volts);
        return text;
    }
    if (StartsWithAny(header, {"ROUT:CLOS", "ROUTE:CLOSE"})) {
        // (@101) .. (@104)
        if (argument.size() == 6 && argument.rfind("(@10", 0) == 0 && argument[5] == ')' &&
            argument[4] >= '1' && argument[4] <= '4') {
            channel_ = argument[4] - '1';
            return {};
        }
        Error("-222,\"Data out of range\"");
        return {};
    }
    if (StartsWithAny(header, {"ROUT:CLOS?", "ROUTE:CLOSE?"}))
        return "(@10" + std::to_string(channel_ + 1) + ")";
    if (StartsWithAny(header, {"SIM:NOIS", "SIMULATE:NOISE"})) {
        double microvolts = -1;
        unsigned seed = 1;
        const std::size_t comma = argument.find(',');
        const std::string first = Trim(argument.substr(0, comma));
        auto [end, ec] = std::from_chars(first.data(), first.data() + first.size(), microvolts);
        bool ok = ec == std::errc() && end == first.data() + first.size() &&
                  std::isfinite(microvolts) && microvolts >= 0 && microvolts <= 1e6;
        if (ok && comma != std::string::npos) {
            const std::string second = Trim(argument.substr(comma + 1));
            auto [e2, ec2] = std::from_chars(second.data(), second.data() + second.size(), seed);
            ok = ec2 == std::errc() && e2 == second.data() + second.size();
        }
        if (!ok) {
            Error("-224,\"Illegal parameter value\"");
            return {};
        }
        noiseVolts_ = microvolts * 1e-6;
        random_.seed(seed);
        normal_.reset();
        return {};
    }
    if (StartsWithAny(header, {"SYST:ERR?", "SYSTEM:ERROR?", "SYST:ERR:NEXT?"})) {
        if (errors_.empty())
            return "+0,\"No error\"";
        std::string error = errors_.front();
        errors_.pop_front();
        return error;
    }
    const std::string word = header.substr(0, header.find(':'));
    if (StartsWithAny(word, {"CONF", "CONFIGURE", "SENS", "SENSE", "VOLT", "VOLTAGE", "TRIG",
                             "TRIGGER", "*RST", "*CLS", "SYST", "SYSTEM", "DISP", "DISPLAY"}) &&
        header.back() != '?')
        return {};
    Error("-113,\"Undefined header\"");
    return {};
}

SimulatedMeter::SimulatedMeter(const SimulatedBench& bench, QObject* parent)
    : QObject(parent), logic_(bench) {
    connect(&server_, &QTcpServer::newConnection, this, &SimulatedMeter::OnConnection);
}

bool SimulatedMeter::Listen(uint16_t port, QString& error) {
    if (!server_.listen(QHostAddress::LocalHost, port)) {
        error = server_.errorString();
        return false;
    }
    return true;
}

void SimulatedMeter::OnConnection() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (findChildren<QTcpSocket*>().size() > kMostClients) {
            socket->abort();
            continue;
        }
        auto buffer = std::make_shared<std::string>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
            const QByteArray bytes = socket->readAll();
            buffer->append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
            for (std::size_t end; (end = buffer->find('\n')) != std::string::npos;) {
                const std::string answer = logic_.Answer(buffer->substr(0, end));
                buffer->erase(0, end + 1);
                if (!answer.empty())
                    socket->write((answer + "\n").c_str());
            }
            // A line without end is thrown away rather than kept growing.
            if (buffer->size() > kLongestLine)
                buffer->clear();
        });
    }
}

}  // namespace tq
