// The web library's entry: QPluginLoader finds it by the interface's name.

#include <QHostAddress>
#include <QObject>

#include "remote/Listening.h"
#include "web/WebLibrary.h"
#include "web/WebServer.h"

namespace tq {
namespace {

class HttpPageServer : public WebServer {
public:
    HttpPageServer(InstrumentCommands& commands, WebFacts facts, WebAccess& access)
        : server_(commands, std::move(facts), access) {}
    bool Listen(const QStringList& addresses, uint16_t port, QString& error) override {
        return HostAddresses(addresses, addresses_, error) &&
               server_.Listen(addresses_, port, error);
    }
    QStringList Addresses() const override { return server_.Addresses(); }
    uint16_t Port() const override { return server_.Port(); }
    QStringList AddressesBeyondLoopback() const override {
        QStringList reachable;
        for (const QHostAddress& address : addresses_)
            if (!address.isLoopback())
                reachable.append(QString::fromStdString(HostText(address)));
        return reachable;
    }
    QString Scheme() const override {
        return server_.Tls() ? QStringLiteral("https") : QStringLiteral("http");
    }

private:
    PageServer server_;
    std::vector<QHostAddress> addresses_;
};

}  // namespace

class WebParts : public QObject, public WebLibrary {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TQ_WEB_LIBRARY_IID)
    Q_INTERFACES(tq::WebLibrary)

public:
    std::unique_ptr<WebServer> Server(InstrumentCommands& commands, WebFacts facts,
                                      WebAccess& access) override {
        return std::make_unique<HttpPageServer>(commands, std::move(facts), access);
    }
    bool CheckTls(const QString& certificateFile, const QString& keyFile, QString& why) override {
        QSslConfiguration tls;
        return ReadTls(certificateFile, keyFile, tls, why);
    }
};

}  // namespace tq

#include "WebParts.moc"
