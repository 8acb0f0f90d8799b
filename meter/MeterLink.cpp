#include "meter/MeterLink.h"

namespace tq {
namespace {

// An answer longer than this is not a reading: the meter is talking about something else.
constexpr std::size_t kLongestAnswer = 4096;

}  // namespace

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
