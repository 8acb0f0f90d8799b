#include "meter/MeterLink.h"

#include <charconv>

#include "core/InputExcerpt.h"

namespace tq {
namespace {

// An answer longer than this is not a reading: the meter is talking about something else.
constexpr std::size_t kLongestAnswer = 4096;

std::vector<std::string> SplitAt(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(
            text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + separator.size();
    }
}

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

}  // namespace

bool ParseSocketAddress(const std::string& text, SocketAddress& address, std::string& error) {
    const std::vector<std::string> parts = SplitAt(text, "::");
    const std::string board = parts.empty() ? "" : Upper(parts[0]);
    const bool tcpip = board.rfind("TCPIP", 0) == 0 &&
                       board.find_first_not_of("0123456789", 5) == std::string::npos;
    if (parts.size() != 4 || !tcpip || Upper(parts[3]) != "SOCKET") {
        error = "the meter's address " + QuotedInput(text) +
                " is not of the form TCPIP::host::port::SOCKET";
        return false;
    }
    if (parts[1].empty()) {
        error = "the meter's address names no host";
        return false;
    }
    unsigned port = 0;
    const std::string& p = parts[2];
    auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), port);
    if (ec != std::errc() || end != p.data() + p.size() || port == 0 || port > 65535) {
        error = "the meter's port " + QuotedInput(p) + " is not a number from 1 to 65535";
        return false;
    }
    address = {parts[1], static_cast<uint16_t>(port)};
    return true;
}

MeterLink::MeterLink(QObject* parent) : ScpiMeter(parent) {
    timeout_.setSingleShot(true);
    connect(&timeout_, &QTimer::timeout, this, &MeterLink::OnTimeout);
    connect(&socket_, &QTcpSocket::connected, this, &MeterLink::Identify);
    connect(&socket_, &QTcpSocket::readyRead, this, &MeterLink::OnReadyRead);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &MeterLink::OnSocketError);
}

MeterLink::~MeterLink() {
    socket_.disconnect(this);
    socket_.abort();
}

bool MeterLink::Open(const MeterSettings& settings, std::string& error) {
    SocketAddress address;
    if (!ParseSocketAddress(settings.address, address, error) ||
        !CheckReadingSettings(settings, error))
        return false;
    Close();
    lastError_.clear();
    settings_ = settings;
    timeout_.start(settings_.timeoutMilliseconds);
    socket_.connectToHost(QString::fromStdString(address.host), address.port);
    return true;
}

void MeterLink::Close() {
    Forget();
    timeout_.stop();
    answer_ = nullptr;
    buffer_.clear();
    staleAnswers_ = 0;
    socket_.abort();
}

void MeterLink::Identified() {
    emit Connected(QString::fromStdString(Identity()));
}

void MeterLink::Ask(std::vector<std::string> commands,
                    std::function<void(const std::string&)> answer) {
    for (const std::string& command : commands) {
        socket_.write(command.data(), static_cast<qint64>(command.size()));
        socket_.write("\n", 1);
    }
    answer_ = std::move(answer);
    timeout_.start(settings_.timeoutMilliseconds);
}

void MeterLink::OnReadyRead() {
    const QByteArray bytes = socket_.readAll();
    buffer_.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    for (;;) {
        const std::size_t end = buffer_.find('\n');
        if (end == std::string::npos) {
            if (buffer_.size() > kLongestAnswer)
                Break("the meter sent more than " + std::to_string(kLongestAnswer) +
                      " bytes without ending the line");
            return;
        }
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (staleAnswers_ > 0) {
            --staleAnswers_;  // the late answer to a query given up on
            continue;
        }
        if (!answer_)
            continue;  // nothing was asked
        timeout_.stop();
        auto answer = std::move(answer_);
        answer_ = nullptr;
        answer(line);
    }
}

void MeterLink::OnTimeout() {
    if (socket_.state() != QAbstractSocket::ConnectedState) {
        Break("no connection to the meter at " + settings_.address + " within " +
              std::to_string(settings_.timeoutMilliseconds) + " ms");
        return;
    }
    // The answer may still come: it is dropped then, not taken for the next query's.
    answer_ = nullptr;
    ++staleAnswers_;
    NoAnswer("no answer from the meter within " + std::to_string(settings_.timeoutMilliseconds) +
             " ms");
}

void MeterLink::OnSocketError() {
    const auto error = socket_.error();
    std::string why;
    if (error == QAbstractSocket::ConnectionRefusedError)
        why = "the meter at " + settings_.address + " refused the connection";
    else if (error == QAbstractSocket::RemoteHostClosedError)
        why = "the meter closed the connection";
    else
        why = "the connection to the meter failed: " + socket_.errorString().toStdString();
    Break(why);
}

void MeterLink::Break(const std::string& reason) {
    timeout_.stop();
    answer_ = nullptr;
    buffer_.clear();
    staleAnswers_ = 0;
    socket_.abort();
    Broken(reason);
    emit Failed(QString::fromStdString(LastError()));
}

}  // namespace tq
