#include "web/WebSessions.h"

#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <algorithm>
#include <vector>

namespace tq {
namespace {

QByteArray Derive(std::string_view password, const QByteArray& salt) {
    return QPasswordDigestor::deriveKeyPbkdf2(
        QCryptographicHash::Sha256,
        QByteArray::fromRawData(password.data(), static_cast<qsizetype>(password.size())), salt,
        PasswordHash::kRounds, 32);
}

}  // namespace

std::string RandomHex(std::size_t bytes) {
    std::vector<quint32> words((bytes + 3) / 4);
    QRandomGenerator::system()->fillRange(words.data(), static_cast<qsizetype>(words.size()));
    const QByteArray raw(reinterpret_cast<const char*>(words.data()),
                         static_cast<qsizetype>(bytes));
    return raw.toHex().toStdString();
}

PasswordHash::PasswordHash(std::string& password)
    : salt_(QByteArray::fromHex(QByteArray::fromStdString(RandomHex(16)))),
      key_(Derive(password, salt_)) {
    std::fill(password.begin(), password.end(), '\0');
    password.clear();
}

bool PasswordHash::Matches(std::string_view candidate) const {
    const QByteArray key = Derive(candidate, salt_);
    // Every byte compared, so the time tells nothing of how much matched.
    unsigned char differ = 0;
    for (qsizetype i = 0; i < key_.size(); ++i)
        differ |= static_cast<unsigned char>(key.at(i) ^ key_.at(i));
    return differ == 0 && key.size() == key_.size();
}

SignInThrottle::Clock::duration SignInThrottle::Wait(const std::string& address,
                                                     Clock::time_point now) const {
    const auto entry = entries_.find(address);
    if (entry == entries_.end() || entry->second.next <= now)
        return Clock::duration::zero();
    return entry->second.next - now;
}

void SignInThrottle::Failed(const std::string& address, Clock::time_point now) {
    std::erase_if(entries_, [now](const auto& e) { return now - e.second.last > kForget; });
    if (entries_.size() >= kAddresses && !entries_.contains(address))
        entries_.erase(std::min_element(
            entries_.begin(), entries_.end(),
            [](const auto& a, const auto& b) { return a.second.last < b.second.last; }));
    Entry& entry = entries_[address];
    ++entry.failures;
    entry.last = now;
    const int beyond = entry.failures - kFreeFailures + 1;
    if (beyond > 0) {
        const auto wait = std::chrono::seconds(1) * (int64_t{1} << std::min(beyond - 1, 16));
        entry.next = now + std::min<Clock::duration>(wait, kLongestWait);
    }
}

WebSessions::WebSessions(InstrumentCommands& commands, std::chrono::seconds idle)
    : commands_(commands), idle_(idle) {}

WebSessions::~WebSessions() = default;

std::string WebSessions::Open(const std::string& address, Clock::time_point now) {
    if (idle_.count() > 0)
        std::erase_if(sessions_, [&](const auto& s) { return now - s.second.used > idle_; });
    if (sessions_.size() >= kMaxSessions)
        sessions_.erase(std::min_element(
            sessions_.begin(), sessions_.end(),
            [](const auto& a, const auto& b) { return a.second.used < b.second.used; }));
    std::string id = RandomHex(32);
    Session& session = sessions_[id];
    session.token = RandomHex(32);
    session.client = std::make_unique<ScpiSession>(commands_);
    session.client->SetName("web page user at " + address);
    session.used = now;
    return id;
}

WebSessions::Session* WebSessions::Find(const std::string& id, Clock::time_point now) {
    const auto found = sessions_.find(id);
    if (found == sessions_.end())
        return nullptr;
    if (idle_.count() > 0 && now - found->second.used > idle_) {
        sessions_.erase(found);
        return nullptr;
    }
    found->second.used = now;
    return &found->second;
}

std::string WebSessions::Run(Session& session, std::string_view line) {
    session.client->Execute(line);
    std::string errors;
    while (!session.client->Errors().Empty())
        errors += (errors.empty() ? "" : "\n") + session.client->Errors().Next();
    return errors;
}

}  // namespace tq
